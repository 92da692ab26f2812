#include "fsfixtures.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_WIN
#include <windows.h>

#include <tlhelp32.h>
#else
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fsfixtures {

#ifdef Q_OS_WIN

bool hardLink(const QString &existing, const QString &extraName)
{
    return CreateHardLinkW(QDir::toNativeSeparators(extraName).toStdWString().c_str(),
                           QDir::toNativeSeparators(existing).toStdWString().c_str(), nullptr);
}

bool symbolicLinksAvailable()
{
    return false;
}

bool mountTiny(const QString &, const char *)
{
    return false;
}

void unmount(const QString &) {}

bool makeFifo(const QString &)
{
    return false;
}

bool setMode(const QString &, unsigned)
{
    return true;
}

int mode(const QString &)
{
    return -1;
}

int threadCount()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    }
    CloseHandle(snapshot);
    return count;
}

#else

bool hardLink(const QString &existing, const QString &extraName)
{
    return ::link(QFile::encodeName(existing).constData(), QFile::encodeName(extraName).constData()) == 0;
}

bool symbolicLinksAvailable()
{
    return true;
}

bool mountTiny(const QString &path, const char *size)
{
    const QByteArray options = QByteArray("size=") + size;
    return ::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, options.constData()) == 0;
}

void unmount(const QString &path)
{
    ::umount(QFile::encodeName(path).constData());
}

bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

bool setMode(const QString &path, unsigned mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

int mode(const QString &path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -2;
    return int(info.st_mode & 07777);
}

int threadCount()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

#endif

} // namespace fsfixtures
