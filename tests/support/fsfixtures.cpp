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

// Each fixture as each system has it, side by side.
namespace fsfixtures {

bool hardLink(const QString &existing, const QString &extraName)
{
#ifdef Q_OS_WIN
    return CreateHardLinkW(QDir::toNativeSeparators(extraName).toStdWString().c_str(),
                           QDir::toNativeSeparators(existing).toStdWString().c_str(), nullptr);
#else
    return ::link(QFile::encodeName(existing).constData(), QFile::encodeName(extraName).constData()) == 0;
#endif
}

HeldFile::HeldFile(const QString &path, bool sharesWrites)
{
#ifdef Q_OS_WIN
    handle = CreateFileW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(path).utf16()), GENERIC_READ,
                         FILE_SHARE_READ | (sharesWrites ? FILE_SHARE_WRITE : 0), nullptr, OPEN_EXISTING, 0, nullptr);
    handle = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
#else
    Q_UNUSED(path)
    Q_UNUSED(sharesWrites)
#endif
}

void HeldFile::release()
{
#ifdef Q_OS_WIN
    if (handle)
        CloseHandle(handle);
#endif
    handle = nullptr;
}

bool symbolicLinksAvailable()
{
#ifdef Q_OS_WIN
    return false;
#else
    return true;
#endif
}

bool mountTiny(const QString &path, const char *size)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path)
    Q_UNUSED(size)
    return false;
#else
    const QByteArray options = QByteArray("size=") + size;
    return ::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, options.constData()) == 0;
#endif
}

void unmount(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path)
#else
    ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
#endif
}

bool makeFifo(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path)
    return false;
#else
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
#endif
}

bool setMode(const QString &path, unsigned mode)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path)
    Q_UNUSED(mode)
    return true;
#else
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
#endif
}

int mode(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path)
    return -1;
#else
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -2;
    return int(info.st_mode & 07777);
#endif
}

int threadCount()
{
#ifdef Q_OS_WIN
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    CloseHandle(snapshot);
    return count;
#else
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
#endif
}

} // namespace fsfixtures
