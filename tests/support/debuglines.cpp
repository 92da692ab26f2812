#include "debuglines.h"

#include <QFile>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

DebugLines *g_recorder = nullptr;

} // namespace

DebugLines::DebugLines()
{
    g_recorder = this;
    m_previous = qInstallMessageHandler(&DebugLines::record);
}

DebugLines::~DebugLines()
{
    qInstallMessageHandler(m_previous);
    g_recorder = nullptr;
}

void DebugLines::record(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const bool own = !context.category || qstrcmp(context.category, "default") == 0;
    if (type == QtDebugMsg && own && g_recorder) {
        g_recorder->m_lines << message;
        return;
    }
    if (g_recorder && g_recorder->m_previous)
        g_recorder->m_previous(type, context, message);
}

QStringList DebugLines::from(const QString &label) const
{
    for (int i = 0; i < m_lines.size(); ++i) {
        if (m_lines.at(i).startsWith(label))
            return m_lines.mid(i);
    }
    return QStringList();
}

#ifdef Q_OS_LINUX

namespace {

bool setImmutable(const QString &path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

} // namespace

#endif

// Elsewhere no directory is made read-only; the callers skip their case.
ReadOnlyDirectory::ReadOnlyDirectory(const QString &path)
    : m_path(path)
{
#ifdef Q_OS_LINUX
    if (::geteuid() == 0) {
        if (setImmutable(path, true))
            m_how = How::Immutable;
    } else if (::chmod(QFile::encodeName(path).constData(), 0555) == 0) {
        m_how = How::Mode;
    }
#endif
}

ReadOnlyDirectory::~ReadOnlyDirectory()
{
#ifdef Q_OS_LINUX
    if (m_how == How::Immutable)
        setImmutable(m_path, false);
    else if (m_how == How::Mode)
        ::chmod(QFile::encodeName(m_path).constData(), 0755);
#endif
}
