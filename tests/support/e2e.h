#pragma once

#include "support/testenv.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>

#include <functional>

// Fixtures of the tests that run the built launcher as a program: what a
// server publishes, an installation alone in its parent directory, and one
// start of the launcher in it with an environment of its own and a log.
namespace e2e {

using FileMap = QMap<QString, QByteArray>;

// What an installation holds once it has synchronised with `version` of
// `files`: also the version, the patch notes, and the manifest listing the
// files in the order of their paths. release() is what the server holds.
FileMap synchronised(const QString &version, const FileMap &files);
FileMap release(const QString &version, const FileMap &files);
void writeTree(const QString &root, const FileMap &files);
bool samePath(const QString &a, const QString &b);

// How a run cut short or failing left `now`, against the installation
// `before` it and `after` a run that succeeds: the paths gone though `after`
// keeps them, those with neither content, and those neither has.
struct Damage
{
    QStringList lost, mixed, left;
    QStringList all() const { return lost + mixed + left; }
};
Damage damage(const FileMap &before, const FileMap &after, const FileMap &now);

// The environment of a launcher run: no display, its settings, cache and
// the player's log in `side`, its update server at `baseUrl`, its debug output on the error
// stream, and each "NAME=value" of `extra`.
QProcessEnvironment environment(const QString &side, const QString &baseUrl, const QStringList &extra = {});

// An installation alone in its parent directory, so that anything written
// beside it shows; the settings store and the launcher's log lie apart.
struct Installation
{
    QTemporaryDir parent, side;
    explicit Installation(const FileMap &files = {}) { writeTree(path(), files), QDir().mkpath(path()); }
    QString path() const { return parent.path() + QStringLiteral("/Zorvan Lumeth"); }
    QString file(const QString &relative) const { return path() + '/' + relative; }
    void write(const QString &relative, const QByteArray &content) const { writeFile(file(relative), content); }
    // Every file below the installation, links and pipes too.
    FileMap files() const { return snapshot(path(), QDir::System); }
    bool aloneInParent() const;
};

// The launcher started in an installation; its debug output, and that of
// any build it starts, goes to the log file beside the settings.
struct LauncherRun
{
    const Installation &install;
    QProcess process;
    qint64 logOffset = 0;

    LauncherRun(const Installation &in, const QString &baseUrl, const QStringList &extra = {},
                const QString &program = QStringLiteral(ZORVAN_LAUNCHER_BINARY));
    ~LauncherRun() { process.kill(), process.waitForFinished(); }
    // Plants a "file_listing.php", which the launcher deletes at the end of
    // every update run, and starts the launcher.
    bool start();
    bool running() const { return process.state() == QProcess::Running; }
    bool updateRunOver() const { return !QFile::exists(install.file(QStringLiteral("file_listing.php"))); }
    // This run's debug lines so far, and how many begin with `prefix`.
    QString log() const { return QString::fromUtf8(readFile(install.side.filePath(QStringLiteral("launcher.log"))).mid(logOffset)); }
    int count(const QString &prefix) const { return ('\n' + log()).count('\n' + prefix); }
    // Serves events until `done` holds, the process ends or `timeoutMs`
    // passes; whether `done` holds. Polled every millisecond, so that a kill
    // lands right after a debug line.
    bool waitUntil(const std::function<bool()> &done, int timeoutMs = 60000)
    {
        for (QDeadlineTimer deadline(timeoutMs); running() && !done() && !deadline.hasExpired();)
            QCoreApplication::processEvents(), process.waitForFinished(1);
        return done();
    }
    // The run is over, and the launcher waits in its event loop for a click.
    bool waitForEndOfRun()
    {
        return waitUntil([this] { return updateRunOver(); }) && running();
    }
};

} // namespace e2e
