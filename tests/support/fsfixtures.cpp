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

HeldFile::HeldFile([[maybe_unused]] const QString &path, [[maybe_unused]] bool sharesWrites)
{
#ifdef Q_OS_WIN
    handle = CreateFileW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(path).utf16()), GENERIC_READ,
                         FILE_SHARE_READ | (sharesWrites ? FILE_SHARE_WRITE : 0), nullptr, OPEN_EXISTING, 0, nullptr);
    handle = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
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

bool mountTiny([[maybe_unused]] const QString &path, [[maybe_unused]] const char *size)
{
#ifdef Q_OS_WIN
    return false;
#else
    const QByteArray options = QByteArray("size=") + size;
    return ::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, options.constData()) == 0;
#endif
}

void unmount([[maybe_unused]] const QString &path)
{
#ifndef Q_OS_WIN
    ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
#endif
}

bool makeFifo([[maybe_unused]] const QString &path)
{
#ifdef Q_OS_WIN
    return false;
#else
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
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
