#pragma once

// A game installation on disk for the end-to-end tests, the real launcher
// binary run in it, and the published game on the server side.

#include "support/testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <functional>

using FileMap = QMap<QString, QByteArray>;

// Every file below `root`, relative path to content (hidden files included).
inline FileMap snapshot(const QString &root)
{
    FileMap files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        files.insert(QDir(root).relativeFilePath(path), file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return files;
}

inline void writeFileAt(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

inline QByteArray readFileAt(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The installation lies alone in a parent directory, so that a test can see
// that nothing was written beside it; the settings store and the launcher's
// log live in a second directory.
class Installation
{
public:
    Installation() { QDir().mkpath(path()); }

    QString parent() const { return m_parent.path(); }
    QString path() const { return m_parent.path() + QStringLiteral("/Zorvan Lumeth"); }
    QString file(const QString &relative) const { return path() + QLatin1Char('/') + relative; }
    QString configHome() const { return m_side.path() + QStringLiteral("/config"); }
    QString logFile() const { return m_side.path() + QStringLiteral("/launcher.log"); }

    void write(const QString &relative, const QByteArray &content) const { writeFileAt(file(relative), content); }
    QByteArray read(const QString &relative) const { return readFileAt(file(relative)); }
    bool exists(const QString &relative) const { return QFileInfo::exists(file(relative)); }
    FileMap files() const { return snapshot(path()); }
    // What lies in the parent directory outside the installation.
    QStringList besideInstallation() const
    {
        QStringList outside;
        const FileMap all = snapshot(parent());
        for (auto it = all.begin(); it != all.end(); ++it)
            if (!it.key().startsWith(QStringLiteral("Zorvan Lumeth/")))
                outside << it.key();
        return outside;
    }

private:
    QTemporaryDir m_parent;
    QTemporaryDir m_side;
};

// The real launcher binary started in an installation, its debug output
// appended to a file (so that a build it starts detached writes there too).
class LauncherRun
{
public:
    LauncherRun(const Installation &install, const QString &baseUrl, const QString &program = QString())
        : m_install(install)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), install.configHome());
        env.insert(QStringLiteral("XDG_CACHE_HOME"), install.configHome() + QStringLiteral("/cache"));
        env.insert(QStringLiteral("ZORVAN_UPDATE_URL"), baseUrl);
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(install.path());
        m_process.setProgram(program.isEmpty() ? QStringLiteral(ZORVAN_LAUNCHER_BINARY) : program);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(install.logFile(), QIODevice::Append);
    }
    ~LauncherRun() { stop(); }

    void setEnvironment(const QString &name, const QString &value)
    {
        QProcessEnvironment env = m_process.processEnvironment();
        env.insert(name, value);
        m_process.setProcessEnvironment(env);
    }

    bool start()
    {
        m_logOffset = QFileInfo(m_install.logFile()).size();
        m_process.start();
        return m_process.waitForStarted(10000);
    }

    qint64 pid() const { return m_process.processId(); }
    bool running() const { return m_process.state() == QProcess::Running; }
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }

    // The debug lines of this run (and of any build it started) so far.
    QStringList lines() const
    {
        QFile log(m_install.logFile());
        if (!log.open(QIODevice::ReadOnly) || !log.seek(m_logOffset))
            return QStringList();
        return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    int count(const QString &prefix) const
    {
        int n = 0;
        for (const QString &line : lines())
            n += line.startsWith(prefix) ? 1 : 0;
        return n;
    }

    // Polls `done` every few milliseconds until it holds, the process ends or
    // `timeoutMs` passes. True when `done` held.
    bool waitUntil(const std::function<bool()> &done, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            if (done())
                return true;
            if (m_process.state() != QProcess::Running)
                return done();
            m_process.waitForFinished(5);
        }
        return false;
    }

    // The end of the run: the launcher deletes "file_listing.php" at the
    // end of every update run, so a test plants one before the start.
    bool waitForEndOfRun(int timeoutMs = 60000)
    {
        return waitUntil([this] { return !m_install.exists(QStringLiteral("file_listing.php")); }, timeoutMs);
    }

    // Peak resident memory of the running process, in KiB (0 if unknown).
    qint64 peakRssKiB() const
    {
        const QByteArray status = readFileAt(QStringLiteral("/proc/%1/status").arg(pid()));
        for (const QByteArray &line : status.split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        return 0;
    }

    void kill()
    {
        if (running())
            ::kill(pid_t(pid()), SIGKILL);
        m_process.waitForFinished(10000);
    }

    // Ends a launcher that waits in its event loop.
    void stop()
    {
        if (!running())
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            kill();
    }

private:
    const Installation &m_install;
    QProcess m_process;
    qint64 m_logOffset = 0;
};

// The published game: its files, "version.txt", the patch notes and the
// manifest, written into the server's game directory.
struct PublishedGame
{
    QString version;
    QList<QPair<QString, QByteArray>> files;

    FileMap asMap() const
    {
        FileMap map;
        for (const auto &file : files)
            map.insert(file.first, file.second);
        return map;
    }
    void set(const QString &relative, const QByteArray &content)
    {
        for (auto &file : files)
            if (file.first == relative) {
                file.second = content;
                return;
            }
        files << qMakePair(relative, content);
    }
};

inline const char *patchNotesName() { return "Notes des mises à jour.txt"; }

// Writes `game` into `gameDir` and its manifest; a file whose path starts
// with "moved/" is stored below `storeDir` instead, where the server's
// redirect leads.
inline void publish(const QString &gameDir, const PublishedGame &game, const QString &storeDir = QString())
{
    for (const auto &file : game.files) {
        if (file.first.startsWith(QStringLiteral("moved/")) && !storeDir.isEmpty())
            writeFileAt(storeDir + QLatin1Char('/') + file.first.mid(6), file.second);
        else
            writeFileAt(gameDir + QLatin1Char('/') + file.first, file.second);
    }
    writeFileAt(gameDir + QStringLiteral("/version.txt"), game.version.toUtf8());
    writeFileAt(gameDir + QLatin1Char('/') + QString::fromUtf8(patchNotesName()), "<b>Version " + game.version.toUtf8() + "</b>");
    writeFileAt(gameDir + QStringLiteral("/file_listing.xml"), manifestFor(game.files));
}

// Deterministic bytes of a given size, different for every seed.
inline QByteArray patternBytes(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = 2463534242u ^ quint32(seed * 7919 + 1);
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = char(x & 0xff);
    }
    return bytes;
}
