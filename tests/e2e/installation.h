#pragma once

// A game installation on disk for the end-to-end tests, the real launcher
// binary run in it, and the published game on the server side.

#include "support/testenv.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QVector>

#include <algorithm>
#include <functional>

using FileMap = QMap<QString, QByteArray>;

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

    QString path() const { return m_parent.path() + QStringLiteral("/Zorvan Lumeth"); }
    QString file(const QString &relative) const { return path() + QLatin1Char('/') + relative; }
    QString configHome() const { return m_side.path() + QStringLiteral("/config"); }
    QString logFile() const { return m_side.path() + QStringLiteral("/launcher.log"); }

    void write(const QString &relative, const QByteArray &content) const { writeFileAt(file(relative), content); }
    QByteArray read(const QString &relative) const { return readFileAt(file(relative)); }
    bool exists(const QString &relative) const { return QFileInfo::exists(file(relative)); }
    // Every file of the installation, relative path to content.
    FileMap files() const
    {
        FileMap files;
        for (QDirIterator it(path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories); it.hasNext();) {
            const QString found = it.next();
            files.insert(QDir(path()).relativeFilePath(found), readFileAt(found));
        }
        return files;
    }
    // What lies in the parent directory outside the installation.
    QStringList besideInstallation() const
    {
        QStringList entries = QDir(m_parent.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        entries.removeOne(QStringLiteral("Zorvan Lumeth"));
        return entries;
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
    // `extra` adds environment variables or overrides those set here.
    LauncherRun(const Installation &install, const QString &baseUrl, const QString &program = QStringLiteral(ZORVAN_LAUNCHER_BINARY),
                const QMap<QString, QString> &extra = {})
        : m_install(install)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), install.configHome());
        env.insert(QStringLiteral("XDG_CACHE_HOME"), install.configHome() + QStringLiteral("/cache"));
        env.insert(QStringLiteral("ZORVAN_UPDATE_URL"), baseUrl);
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        for (auto it = extra.begin(); it != extra.end(); ++it)
            env.insert(it.key(), it.value());
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(install.path());
        m_process.setProgram(program);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(install.logFile(), QIODevice::Append);
    }
    ~LauncherRun() { stop(); }

    // Plants a "file_listing.php", which the launcher deletes at the end of
    // every update run (see waitForEndOfRun), and starts the launcher.
    bool start()
    {
        m_install.write(QStringLiteral("file_listing.php"), "left by an old launcher");
        m_logOffset = QFileInfo(m_install.logFile()).size();
        m_process.start();
        return m_process.waitForStarted(10000);
    }

    qint64 pid() const { return m_process.processId(); }
    bool running() const { return m_process.state() == QProcess::Running; }
    int exitCode() const { return m_process.exitCode(); }

    // How many debug lines of this run (and of any build it started) so far
    // begin with `prefix`.
    int count(const QString &prefix) const
    {
        const QStringList lines = QString::fromUtf8(readFileAt(m_install.logFile()).mid(m_logOffset)).split('\n');
        return int(std::count_if(lines.begin(), lines.end(), [&prefix](const QString &line) { return line.startsWith(prefix); }));
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
            if (!running())
                return done();
            m_process.waitForFinished(5);
        }
        return false;
    }

    bool waitForEndOfRun(int timeoutMs = 60000)
    {
        return waitUntil([this] { return !m_install.exists(QStringLiteral("file_listing.php")); }, timeoutMs);
    }

    // Peak resident memory of the running process, in KiB (0 if unknown).
    qint64 peakRssKiB() const
    {
        for (const QByteArray &line : readFileAt(QStringLiteral("/proc/%1/status").arg(pid())).split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        return 0;
    }

    // SIGKILL, as a crash or a power cut would end it.
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(10000);
    }

    // Ends a launcher that waits in its event loop.
    void stop()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            kill();
    }

private:
    const Installation &m_install;
    QProcess m_process;
    qint64 m_logOffset = 0;
};

// The published game: its files and "version.txt"; the manifest lists the
// files in the order of their paths.
struct PublishedGame
{
    QString version;
    FileMap files;
};

inline QString patchNotesName()
{
    return QStringLiteral("Notes des mises à jour.txt");
}

// Deterministic bytes of a given size, different for every seed.
inline QByteArray patternBytes(int size, int seed)
{
    QVector<quint32> words(size / 4 + 1);
    QRandomGenerator(quint32(seed)).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.constData()), size);
}
