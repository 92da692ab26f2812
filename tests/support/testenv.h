#pragma once

#include "loopbackhttpserver.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class QSignalSpy;

#include <memory>

// The one loopback update server of a test process. The launcher reads its
// base URL once per process, so the server is started, and the URL variable
// set, before the first engine call; tests change what it serves instead.
LoopbackHttpServer &updateServer();

// Points the per-user settings store at a fresh temporary directory for the
// life of the object, so that no test reads or writes the machine's own.
class IsolatedSettings
{
public:
    IsolatedSettings();
    ~IsolatedSettings();
    QString directory() const { return m_dir.path(); }
    // The store's file, as the launcher writes it on Linux.
    QString file() const;

private:
    QTemporaryDir m_dir;
};

// A temporary game installation that is the working directory for the life
// of the object; the previous working directory is restored afterwards.
class TempInstallation
{
public:
    TempInstallation();
    ~TempInstallation();

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString absolute(const QString &relative) const;

    void write(const QString &relative, const QByteArray &content) const;
    QByteArray read(const QString &relative) const;
    bool exists(const QString &relative) const;
    // Every file below the installation, relative and sorted.
    QStringList files() const;

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// A temporary directory that the update server serves below "/game/".
class ServedTree
{
public:
    ServedTree();
    ~ServedTree();

    QString path() const { return m_dir.path(); }
    void write(const QString &relative, const QByteArray &content) const;
    // The full URL of `relative` below the base URL.
    QString url(const QString &relative) const;

private:
    QTemporaryDir m_dir;
};

// Collects the debug lines written while it lives.
class DebugCapture
{
public:
    DebugCapture();
    ~DebugCapture();
    QStringList lines() const;
};

// Builds a manifest with one "File" element per (relative path, content):
// Paths under the server's game directory, lowercase digests.
QByteArray manifestFor(const QList<QPair<QString, QByteArray>> &files);
QString md5Hex(const QByteArray &content);
QString sha1Hex(const QByteArray &content);

// The first argument of every emission recorded by `spy`: the status texts
// of an infos(QString) spy, in order.
QStringList texts(const QSignalSpy &spy);

// Forgets a quit request made by a test: the toolkit's (which would end
// every later local event loop at once) and the launcher's own.
void clearQuitRequest();
