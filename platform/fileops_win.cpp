// The Windows body of the file operations.

#include "platform/fileops.h"
#include "platform/fileops_p.h"

#include <QDir>

#include <windows.h>

namespace platform {

namespace fileops {

std::wstring systemPath(const QString &path)
{
    const std::wstring given = QDir::toNativeSeparators(path).toStdWString();
    if (given.compare(0, 4, L"\\\\?\\") == 0 || given.compare(0, 4, L"\\\\.\\") == 0)
        return given;
    std::wstring full(32768, L'\0');
    const DWORD length = GetFullPathNameW(given.c_str(), DWORD(full.size()), &full[0], nullptr);
    if (length == 0 || length >= full.size())
        return given; // the call then fails as it would have
    full.resize(length);
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

Try outcomeOf(bool succeeded)
{
    if (succeeded)
        return Try::Done;
    switch (GetLastError()) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_ACCESS_DENIED:
        return Try::Busy;
    default:
        return Try::Failed;
    }
}

bool hardLink(const QString &existing, const QString &extraName)
{
    return CreateHardLinkW(systemPath(extraName).c_str(), systemPath(existing).c_str(), nullptr);
}

} // namespace fileops

// Without MOVEFILE_REPLACE_EXISTING a rename never replaces on Windows.
bool renameReplacing(const QString &source, const QString &target)
{
    return MoveFileExW(fileops::systemPath(source).c_str(), fileops::systemPath(target).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

} // namespace platform
