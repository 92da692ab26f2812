// The Windows body of the whole-file write. A new file beside the target,
// "NAME.XXXXXX", is flushed and then takes the target's name: ReplaceFileW
// where the replaced file's attributes and security descriptor are to carry
// over, MoveFileExW otherwise. NTFS journals the rename but not the data, so
// without the flush a power cut could leave the new name on a file of zeros;
// each file is therefore flushed before it takes its name, and there is
// nothing left to flush later.
//
// Every path reaches the system in its "\\?\" form (fileops::systemPath),
// so that no length limit applies. Virus scanners open each new file as it
// is written and refuse its renaming meanwhile: a refused rename is tried
// again (persist()), and a rename that ReplaceFileW left half-done is
// completed or undone before the next try.

#include "platform/fileops.h"
#include "platform/fileops_p.h"
#include "platform/replacefile_p.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <windows.h>

namespace platform {
namespace replacefile {

namespace {

using fileops::outcomeOf;
using fileops::systemPath;

DWORD g_faultError = 0;
int g_faults = 0;

bool takeFault()
{
    if (g_faults <= 0)
        return false;
    --g_faults;
    return true;
}

bool exists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

BOOL moveFile(const std::wstring &from, const std::wstring &to, DWORD flags)
{
    if (takeFault()) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    return MoveFileExW(from.c_str(), to.c_str(), flags);
}

// ReplaceFileW, or the failure a test asked for, the files left as
// Microsoft documents them for it.
BOOL replaceFile(const std::wstring &replaced, const std::wstring &replacement, const std::wstring &backup)
{
    if (!takeFault())
        return ReplaceFileW(replaced.c_str(), replacement.c_str(), backup.empty() ? nullptr : backup.c_str(),
                            REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr);
    // "The replaced file no longer exists"; "still exists with a different name".
    if (g_faultError == ERROR_UNABLE_TO_MOVE_REPLACEMENT && backup.empty())
        DeleteFileW(replaced.c_str());
    else if (g_faultError == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        MoveFileExW(replaced.c_str(), (backup.empty() ? replaced + L".replaced" : backup).c_str(), 0);
    SetLastError(g_faultError);
    return FALSE;
}

QString temporaryName(const QString &target)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString name = target + QLatin1Char('.');
    for (int i = 0; i < 6; ++i)
        name += QLatin1Char(kAlphabet[QRandomGenerator::global()->bounded(int(sizeof(kAlphabet) - 1))]);
    return name;
}

bool writeAll(HANDLE handle, const char *next, qint64 left)
{
    while (left > 0) {
        const DWORD chunk = DWORD(qMin<qint64>(left, 1 << 30));
        DWORD written = 0;
        if (!WriteFile(handle, next, chunk, &written, nullptr) || written == 0)
            return false;
        next += written;
        left -= written;
    }
    return true;
}

bool setSize(HANDLE handle, qint64 size)
{
    LARGE_INTEGER position;
    position.QuadPart = size;
    return SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
}

bool rewind(HANDLE handle)
{
    LARGE_INTEGER start;
    start.QuadPart = 0;
    return SetFilePointerEx(handle, start, nullptr, FILE_BEGIN);
}

// Whether the system deletes the file of `handle` once its last handle is
// closed, even by the end of a process that crashed or was killed.
bool deleteOnClose(HANDLE handle, bool deleted)
{
    FILE_DISPOSITION_INFO disposition = {deleted};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
}

// A body arriving in a temporary file "NAME.XXXXXX" of its own, removed
// unless a writer takes it over. Until it is complete the system deletes it
// when it is closed, so that a launcher that ends mid-transfer leaves no
// partial body behind, however large.
class WinIncoming : public Incoming
{
public:
    WinIncoming(const QString &name, HANDLE handle)
        : m_name(name)
        , m_handle(handle)
    {
    }

    ~WinIncoming() override
    {
        close();
        if (!m_name.isEmpty())
            DeleteFileW(systemPath(m_name).c_str());
    }

    bool append(const char *data, qint64 size) override { return writeAll(m_handle, data, size); }

    qint64 readAt(qint64 offset, char *buffer, qint64 size) override
    {
        if (m_handle == INVALID_HANDLE_VALUE)
            m_handle = CreateFileW(systemPath(m_name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                   nullptr);
        if (m_handle == INVALID_HANDLE_VALUE)
            return -1;
        OVERLAPPED at = {};
        at.Offset = DWORD(offset & 0xffffffff);
        at.OffsetHigh = DWORD(quint64(offset) >> 32);
        DWORD got = 0;
        if (!ReadFile(m_handle, buffer, DWORD(qMin<qint64>(size, 1 << 30)), &got, &at))
            return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
        return got;
    }

    // Keeps the complete body, flushed, and lets go of the file, so that it
    // can be renamed.
    bool finish()
    {
        const bool kept = deleteOnClose(m_handle, false);
        const bool flushed = kept && FlushFileBuffers(m_handle);
        return close() && flushed;
    }

    const QString &name() const { return m_name; }
    // The file now belongs to the name it was given.
    void release() { m_name.clear(); }

private:
    bool close()
    {
        if (m_handle == INVALID_HANDLE_VALUE)
            return true;
        const bool closed = CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
        return closed;
    }

    QString m_name;
    HANDLE m_handle;
};

class BesideWriter : public Writer
{
public:
    BesideWriter(const QString &target, const Bits &bits, const QString &temporary, HANDLE handle)
        : m_target(target)
        , m_bits(bits)
        , m_temporary(temporary)
        , m_handle(handle)
    {
    }

    ~BesideWriter() override
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
        if (!m_temporary.isEmpty())
            DeleteFileW(systemPath(m_temporary).c_str());
    }

    bool commit(Content &content) override
    {
        if (auto *incoming = static_cast<WinIncoming *>(content.file())) {
            // The body's own file takes the name, unless it lies on another
            // volume: it is copied then.
            if (!incoming->finish())
                return false;
            if (name(incoming->name())) {
                incoming->release();
                return true;
            }
            if (m_keepSource)
                incoming->release();
            if (GetLastError() != ERROR_NOT_SAME_DEVICE)
                return false;
        }
        const bool written = copyContent(content, [this](const char *data, qint64 size) { return writeAll(m_handle, data, size); })
            && FlushFileBuffers(m_handle);
        const bool closed = CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
        const bool named = written && closed && name(m_temporary);
        if (named || m_keepSource)
            m_temporary.clear();
        return named;
    }

private:
    // Gives the complete, flushed file `source` the target's name, with the
    // bits the new file is to have; GetLastError() tells why not. Should the
    // target then have no content under its name, the new file stays under
    // its own (m_keepSource).
    bool name(const QString &source)
    {
        const std::wstring target = systemPath(m_target);
        const std::wstring from = systemPath(source);
        const bool existed = exists(target);
        DWORD error = 0;
        const auto once = [&] {
            const Try outcome = nameOnce(target, from);
            error = GetLastError();
            return outcome;
        };
        if (persist(patience(kFilePatienceMs), once) != Try::Done) {
            // The previous file takes its name back, whatever the player asks.
            const auto putBack = [&] { return restore(target); };
            if (!m_backup.empty())
                persist(patience(kFilePatienceMs), putBack, false);
            m_keepSource = !m_backup.empty() || (existed && !exists(target));
            SetLastError(error);
            return false;
        }
        // Windows has one permission bit a file can carry: read-only.
        if (m_bits.given && !(*m_bits.given & (QFileDevice::WriteOwner | QFileDevice::WriteUser)))
            SetFileAttributesW(target.c_str(), GetFileAttributesW(target.c_str()) | FILE_ATTRIBUTE_READONLY);
        return true;
    }

    Try nameOnce(const std::wstring &target, const std::wstring &source)
    {
        if (!m_backup.empty())
            return recover(target, source);
        if (m_bits.keepTarget && exists(target)) {
            // With a backup name, ReplaceFileW leaves the replaced file
            // where it can be found again whatever step fails.
            m_backup = systemPath(temporaryName(m_target));
            if (replaceFile(target, source, m_backup)) {
                discardBackup();
                return Try::Done;
            }
            const DWORD error = GetLastError();
            // ERROR_UNABLE_TO_MOVE_REPLACEMENT_2: the replaced file has the
            // backup name, and the new one did not take its place.
            if (!exists(target) && exists(m_backup))
                return recover(target, source);
            m_backup.clear();
            // ERROR_UNABLE_TO_REMOVE_REPLACED, and _MOVE_REPLACEMENT given a
            // backup name: both files kept their names.
            SetLastError(error);
            if (error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || outcomeOf(false) == Try::Busy)
                return Try::Busy;
            // Otherwise (a file system without it, say) a rename replaces,
            // without carrying the attributes over.
        }
        return outcomeOf(moveFile(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    }

    // The replaced file lies under the backup name: the new file takes the
    // free name, or the replaced one takes it back until the next try.
    Try recover(const std::wstring &target, const std::wstring &source)
    {
        if (moveFile(source, target, MOVEFILE_WRITE_THROUGH)) {
            discardBackup();
            return Try::Done;
        }
        const Try moved = outcomeOf(false);
        const DWORD error = GetLastError();
        restore(target);
        SetLastError(error);
        return moved == Try::Failed && m_backup.empty() ? Try::Failed : Try::Busy;
    }

    // The replaced file is no longer wanted; a scanner that opened it after
    // its rename delays its deletion.
    void discardBackup()
    {
        persist(
            patience(kFilePatienceMs), [&] { return outcomeOf(DeleteFileW(m_backup.c_str())); }, false);
        m_backup.clear();
    }

    Try restore(const std::wstring &target)
    {
        const Try restored = outcomeOf(moveFile(m_backup, target, MOVEFILE_WRITE_THROUGH));
        if (restored == Try::Done)
            m_backup.clear();
        return restored;
    }

    QString m_target;
    Bits m_bits;
    QString m_temporary;
    HANDLE m_handle;
    std::wstring m_backup; // the replaced file's name while it is not the target's
    bool m_keepSource = false;
};

class InPlaceWriter : public Writer
{
public:
    explicit InPlaceWriter(HANDLE handle)
        : m_handle(handle)
    {
    }
    ~InPlaceWriter() override { CloseHandle(m_handle); }

    bool commit(Content &content) override
    {
        LARGE_INTEGER size;
        if (!GetFileSizeEx(m_handle, &size))
            return false;
        // Room for the whole content first: a full disk then leaves the file
        // as it was, its old length restored.
        if (content.size() > size.QuadPart && !setSize(m_handle, content.size())) {
            setSize(m_handle, size.QuadPart);
            return false;
        }
        return rewind(m_handle) && copyContent(content, [this](const char *data, qint64 count) { return writeAll(m_handle, data, count); })
            && setSize(m_handle, content.size()) && FlushFileBuffers(m_handle);
    }

private:
    HANDLE m_handle;
};

// Whether the reparse point at `name` is a link to follow: a symbolic link
// or a junction. OneDrive's placeholders and files the system compressed
// carry other tags and are ordinary files and directories.
bool isLink(const std::wstring &name)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(name.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return true; // unreadable: not written through, as before
    FindClose(search);
    return found.dwReserved0 == IO_REPARSE_TAG_SYMLINK || found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT;
}

} // namespace

Entry inspect(const QString &path)
{
    Entry entry;
    const std::wstring name = systemPath(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return entry;
    entry.removable = !(attributes & FILE_ATTRIBUTE_READONLY);
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && isLink(name))
        entry.type = Entry::Type::Link;
    else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        entry.type = Entry::Type::Directory;
    else
        entry.type = Entry::Type::File;
    if (entry.type != Entry::Type::File || !entry.removable)
        return entry;
    // Writable means: it can be written and given away, which a file that
    // another program holds without sharing its deletion cannot, for now.
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        entry.busy = outcomeOf(false) == Try::Busy;
        return entry;
    }
    entry.writable = true;
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(handle, &information))
        entry.hardLinks = int(information.nNumberOfLinks);
    CloseHandle(handle);
    return entry;
}

QString linkTarget(const QString &path)
{
    return QFileInfo(path).symLinkTarget();
}

std::unique_ptr<Writer> beside(const QString &target, const Bits &bits, FileReplacement::Strategy, Refusal *refusal)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = temporaryName(target);
        const HANDLE handle = CreateFileW(systemPath(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            return std::make_unique<BesideWriter>(target, bits, name, handle);
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
            continue;
        if (refusal)
            *refusal = error == ERROR_ACCESS_DENIED || error == ERROR_PATH_NOT_FOUND || error == ERROR_WRITE_PROTECT ? Refusal::Directory
                                                                                                                     : Refusal::Other;
        return nullptr;
    }
    if (refusal)
        *refusal = Refusal::Other;
    return nullptr;
}

std::unique_ptr<Incoming> incoming(const QString &directory, const QString &hint)
{
    const QString stem = directory + QLatin1Char('/') + (hint.isEmpty() ? QStringLiteral("download") : hint);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = temporaryName(stem);
        const HANDLE handle = CreateFileW(systemPath(name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            // Without it, a killed launcher would leave the file: the
            // transfer goes on all the same.
            deleteOnClose(handle, true);
            return std::make_unique<WinIncoming>(name, handle);
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return nullptr;
    }
    return nullptr;
}

std::unique_ptr<Writer> inPlace(const QString &target)
{
    const HANDLE handle =
        CreateFileW(systemPath(target).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    return std::make_unique<InPlaceWriter>(handle);
}

void failRenamesForTests(unsigned long error, int count)
{
    g_faultError = error;
    g_faults = count;
}

} // namespace replacefile

void flushReplacedFiles() {}

bool hasUnflushedReplacements()
{
    return false;
}

bool flushFile(const QString &path)
{
    const HANDLE handle =
        CreateFileW(fileops::systemPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool flushed = FlushFileBuffers(handle);
    CloseHandle(handle);
    return flushed;
}

} // namespace platform
