#pragma once

#include "loopbackhttpserver.h"
#include "platform/browser.h"
#include "platform/dialogs.h"

#include <QDir>
#include <QMap>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>

class GameUpdater;

class QSignalSpy;

// The one loopback update server of a test process. The launcher reads its
// base URL once per process, so the server starts, and the URL variable is
// set, before the first engine call; tests change what it serves instead.
LoopbackHttpServer &updateServer();

// Points the per-user settings store at a temporary directory while it lives.
class IsolatedSettings
{
public:
    IsolatedSettings();
    ~IsolatedSettings();
    // The store's file, as the launcher writes it on Linux.
    QString file() const { return m_dir.path() + QStringLiteral("/Team Quillon/Zorvan Lumeth.conf"); }

private:
    QTemporaryDir m_dir;
};

// Writes a file, creating its directories; reads one (null when unreadable).
void writeFile(const QString &path, const QByteArray &content);
QByteArray readFile(const QString &path);
// Every file below `root` (hidden ones too, and those `extra` adds), relative path to content.
QMap<QString, QByteArray> snapshot(const QString &root, QDir::Filters extra = {});

// A temporary game installation that is the working directory while it lives,
// 240 characters deep, so that its files' paths pass Windows' old limit of 260.
class TempInstallation
{
public:
    TempInstallation()
        : m_path(m_dir.path() + '/' + QString(qMax(1, 239 - m_dir.path().size()), 'i'))
        , m_previous(QDir::currentPath())
    {
        QDir().mkpath(m_path), QDir::setCurrent(m_path);
    }
    ~TempInstallation() { QDir::setCurrent(m_previous); }
    QString path() const { return m_path; }
    QString absolute(const QString &relative) const { return m_path + '/' + relative; }
    void write(const QString &relative, const QByteArray &content) const { writeFile(absolute(relative), content); }
    QByteArray read(const QString &relative) const { return readFile(absolute(relative)); }
    bool exists(const QString &relative) const { return QFileInfo::exists(absolute(relative)); }
    // Every file below the installation, relative and sorted.
    QStringList files() const { return snapshot(path()).keys(); }

private:
    QTemporaryDir m_dir;
    QString m_path;
    QString m_previous;
};

// A temporary directory that the update server serves below "/game/".
class ServedTree
{
public:
    ServedTree() { updateServer().setRoot(m_dir.path()); }
    ~ServedTree();
    QString path() const { return m_dir.path(); }
    void write(const QString &relative, const QByteArray &content) const { writeFile(m_dir.filePath(relative), content); }
    // The full URL of `relative` below the base URL.
    QString url(const QString &relative) const { return updateServer().url() + relative; }

private:
    QTemporaryDir m_dir;
};

// Status texts of an update run, and the patch notes' file.
const QString kVersion = QStringLiteral("Downloading  version.txt...");
const QString kManifest = QStringLiteral("Downloading  file_listing.xml...");
const QString kFinished = QStringLiteral("Update finished. You have the latest version.");
const QString kNotes = QStringLiteral("Notes des mises à jour.txt");

// The studio's publisher run with `args`: its exit code and output
// (standard output, then standard error unless `outputOnly`); -1 when it
// did not end.
QPair<int, QString> publish(const QStringList &args, bool outputOnly = false);

// A manifest with one "File" per (relative path, content), as published.
QByteArray manifestFor(const QList<QPair<QString, QByteArray>> &files);
QString md5Hex(const QByteArray &content);
QString sha1Hex(const QByteArray &content);

// The first argument of every emission recorded by `spy`, in order.
QStringList texts(const QSignalSpy &spy);

// Forgets a quit request: the toolkit's (which would end every later local
// event loop at once) and the launcher's own.
void clearQuitRequest();

// One update run of a fresh engine (a Repair when `repair`); a quit request
// it makes is noted and forgotten.
struct UpdateRun
{
    QStringList statuses;
    QStringList requests;
    bool quit = false;
    // The three signals merged in the order emitted: each status text,
    // "playOk(true)" or "playOk(false)", and "downloadP" once for each
    // unbroken series of progress reports.
    QStringList emitted;
};
// `start`, when given, runs first on the same engine, as the launcher's
// start-up does before its check (the patch notes).
UpdateRun runUpdate(bool repair = false, const std::function<void(GameUpdater &)> &start = {});
// The run showed `statuses`, each text but a download's own followed at
// once by playOk(true), progress only while a download runs; a
// synchronisation records the version only once its files are on the disk.
void verifyRun(const UpdateRun &run, const QStringList &statuses);

// Answers the launcher's dialogs without a person and records each one as
// "save|caption|directory|filter", "open|..." or "message|text".
class ScriptedDialogs : public platform::Dialogs
{
public:
    ScriptedDialogs() { platform::setDialogs(this); }
    ~ScriptedDialogs() override { platform::setDialogs(nullptr); }
    QString answer; // null: the dialog is closed without a choice
    QStringList calls;

    QString saveFileName(const QString &caption, const QString &dir, const QString &filter) override
    {
        calls << QStringList{"save", caption, dir, filter}.join('|');
        return answer;
    }
    QString openFileName(const QString &caption, const QString &dir, const QString &filter) override
    {
        calls << QStringList{"open", caption, dir, filter}.join('|');
        return answer;
    }
    // The working directory's files as the last message box saw them.
    QMap<QString, QByteArray> filesAtMessage;
    void information(const QString &text) override
    {
        calls << "message|" + text;
        filesAtMessage = snapshot(QDir::currentPath());
    }
};

// Records the URLs the launcher hands to the browser, which is never started.
class RecordingBrowser : public platform::Browser
{
public:
    RecordingBrowser() { platform::setBrowser(this); }
    ~RecordingBrowser() override { platform::setBrowser(nullptr); }
    QList<QUrl> opened;
    bool open(const QUrl &url) override
    {
        opened << url;
        return true;
    }
};
