#include "platform/logfile.h"

#include "platform/identity.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QStandardPaths>

#include <memory>
#include <mutex>

namespace platform {
namespace {

class LogFile
{
public:
    LogFile(const QString &directory, qint64 cap, int kept)
        : m_dir(directory)
        , m_cap(cap)
        , m_kept(qMax(kept, 1))
    {
    }

    // Moves the earlier files up and opens "launcher.log"; when another
    // launcher still holds that file, so that it cannot move, this run adds
    // to it.
    bool open()
    {
        moveUp();
        return reopen();
    }

    void write(QByteArray line)
    {
        if (!m_file.isOpen())
            return;
        if (line.size() > m_cap)
            line = line.left(m_cap - 1) + '\n';
        if (m_size > 0 && m_size + line.size() > m_cap && !(moveUp() && reopen()))
            return m_file.close();
        m_size += qMax<qint64>(m_file.write(line), 0);
        m_file.flush(); // a crash keeps every line written so far
    }

private:
    QString name(int number) const
    {
        return m_dir.filePath(number == 0 ? QStringLiteral("launcher.log") : QStringLiteral("launcher.%1.log").arg(number));
    }

    // Moves every file one number up, dropping the last; whether the
    // current name is free.
    bool moveUp()
    {
        m_file.close();
        QFile::remove(name(m_kept - 1));
        for (int number = m_kept - 2; number >= 0; --number)
            m_dir.rename(name(number), name(number + 1));
        return !QFile::exists(name(0));
    }

    bool reopen()
    {
        m_file.setFileName(name(0));
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append))
            return false;
        m_size = m_file.size();
        return true;
    }

    QDir m_dir;
    const qint64 m_cap;
    const int m_kept;
    QFile m_file;
    qint64 m_size = 0;
};

// Messages may come from any thread.
std::mutex g_mutex;
LogFile *g_log = nullptr;
QtMessageHandler g_previous = nullptr; // kept callable once the log stops

void logMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QString formatted = qFormatLogMessage(type, context, message); // as the usual output shows it
    const QString time = QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz "));
    QtMessageHandler previous = nullptr;
    {
        const std::lock_guard<std::mutex> lock(g_mutex);
        if (g_log && !formatted.isNull())
            g_log->write((time + formatted + QLatin1Char('\n')).toUtf8());
        previous = g_previous;
    }
    previous(type, context, message);
}

} // namespace

QString logDirectory()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return QString();
    return data + QLatin1Char('/') + QLatin1String(identity::kOrganisation) + QLatin1Char('/') + QLatin1String(identity::kApplication);
}

bool startLog(const QString &directory, qint64 cap, int kept)
{
    stopLog();
    if (directory.isEmpty() || !QDir().mkpath(directory))
        return false;
    auto log = std::make_unique<LogFile>(directory, cap, kept);
    if (!log->open())
        return false;
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_log = log.release();
    g_previous = qInstallMessageHandler(logMessage);
    return true;
}

void stopLog()
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_log)
        return;
    qInstallMessageHandler(g_previous);
    delete g_log;
    g_log = nullptr;
}

} // namespace platform
