// The POSIX body of the whole-file replacement.

#include "platform/replacefile_p.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// One directory per file system holding files replaced since the last flush.
QHash<dev_t, QByteArray> &unflushed()
{
    static QHash<dev_t, QByteArray> directories;
    return directories;
}

void noteUnflushed(const QByteArray &directory)
{
    struct stat info;
    if (::stat(directory.constData(), &info) == 0 && !unflushed().contains(info.st_dev))
        unflushed().insert(info.st_dev, directory);
}

QByteArray directoryOf(const QByteArray &path)
{
    return QFile::encodeName(QFileInfo(QFile::decodeName(path)).path());
}

bool writeAll(int fd, const char *next, qint64 left)
{
    while (left > 0) {
        const ssize_t written = ::write(fd, next, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        next += written;
        left -= written;
    }
    return true;
}

// "NAME.XXXXXX" beside the target, the six characters picked at random.
QByteArray temporaryName(const QByteArray &target)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name = target + '.';
    for (int i = 0; i < 6; ++i)
        name += kAlphabet[QRandomGenerator::global()->bounded(int(sizeof(kAlphabet) - 1))];
    return name;
}

// Tries fresh temporary names until `make` succeeds with one, or fails for
// another reason than the name being taken (errno tells).
template <typename Make>
bool withFreshName(const QByteArray &target, QByteArray *name, Make make)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = temporaryName(target);
        if (make(*name))
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// Errors of linkat() that say the anonymous file cannot get a name this way
// at all (no /proc, a file system without links).
bool linkUnsupported(int error)
{
    return error == ENOENT || error == EPERM || error == EOPNOTSUPP || error == EXDEV;
}

// Errors that say the directory takes no new file.
bool directoryRefuses(int error)
{
    return error == EACCES || error == EPERM;
}

mode_t modeOf(QFileDevice::Permissions permissions)
{
    mode_t mode = 0;
    const struct
    {
        QFileDevice::Permission permission;
        mode_t bit;
    } kBits[] = {
        {QFileDevice::ReadOwner, S_IRUSR}, {QFileDevice::WriteOwner, S_IWUSR}, {QFileDevice::ExeOwner, S_IXUSR},
        {QFileDevice::ReadGroup, S_IRGRP}, {QFileDevice::WriteGroup, S_IWGRP}, {QFileDevice::ExeGroup, S_IXGRP},
        {QFileDevice::ReadOther, S_IROTH}, {QFileDevice::WriteOther, S_IWOTH}, {QFileDevice::ExeOther, S_IXOTH},
    };
    for (const auto &entry : kBits) {
        if (permissions & entry.permission)
            mode |= entry.bit;
    }
    return mode;
}

// Links the open file `fd` under `name`; errno tells why not.
bool linkDescriptor(int fd, const QByteArray &name)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    return ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0;
}

// A body arriving in a file of its own: nameless where the file system
// allows it, else a temporary name removed unless a writer takes the file.
class PosixIncoming : public replacefile::Incoming
{
public:
    int fd = -1;
    QByteArray temporary; // empty while nameless

    ~PosixIncoming() override
    {
        if (fd >= 0)
            ::close(fd);
        if (!temporary.isEmpty())
            ::unlink(temporary.constData());
    }

    bool append(const char *data, qint64 size) override { return writeAll(fd, data, size); }

    qint64 readAt(qint64 offset, char *buffer, qint64 size) override
    {
        for (;;) {
            const ssize_t got = ::pread(fd, buffer, size_t(size), off_t(offset));
            if (got >= 0 || errno != EINTR)
                return got;
        }
    }

    // The file now belongs to the name it was given.
    void release()
    {
        ::close(fd);
        fd = -1;
        temporary.clear();
    }
};

// How an attempt to give an incoming file the target's name ended.
enum class Adoption { Done, Failed, CopyInstead };

// A new file beside the target that takes its name in one rename.
class BesideWriter : public replacefile::Writer
{
public:
    QByteArray target;
    QByteArray directory;
    // Bits set explicitly; otherwise the kernel's for a new file (umask).
    std::optional<mode_t> mode;
    int fd = -1;
    // Empty while the new file is anonymous.
    QByteArray temporary;
    bool targetExists = false;
    bool committed = false;

    ~BesideWriter() override
    {
        if (!committed)
            discard();
    }

    bool openAnonymous()
    {
        fd = ::open(directory.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode.value_or(0666));
        return fd >= 0;
    }

    bool openNamed()
    {
        const bool opened = withFreshName(target, &temporary, [this](const QByteArray &name) {
            fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode.value_or(0666));
            return fd >= 0;
        });
        if (!opened)
            temporary.clear();
        return opened;
    }

    void discard()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        if (!temporary.isEmpty())
            ::unlink(temporary.constData());
        temporary.clear();
    }

    // Gives the complete nameless file `file` the target's name: a new
    // target is linked directly, an existing one replaced through a
    // temporary name, which is left in `*temporaryName` when the final
    // rename fails. Sets `unsupported` when no name can be given this way.
    bool nameAnonymous(int file, QByteArray *temporaryName, bool *unsupported)
    {
        if (!targetExists && linkDescriptor(file, target))
            return true;
        if (!targetExists && errno != EEXIST) {
            *unsupported = linkUnsupported(errno);
            return false;
        }
        QByteArray name;
        if (!withFreshName(target, &name, [file](const QByteArray &candidate) { return linkDescriptor(file, candidate); })) {
            *unsupported = errno != EEXIST && linkUnsupported(errno);
            return false;
        }
        *temporaryName = name;
        return ::rename(name.constData(), target.constData()) == 0;
    }

    // Gives the incoming file itself the target's name, with the bits the
    // new file is to have. A file on another file system is copied instead.
    Adoption adopt(PosixIncoming &incoming)
    {
        if (mode)
            ::fchmod(incoming.fd, *mode);
        if (incoming.temporary.isEmpty()) {
            QByteArray name;
            bool unsupported = false;
            if (!nameAnonymous(incoming.fd, &name, &unsupported)) {
                const bool elsewhere = errno == EXDEV || unsupported;
                if (!name.isEmpty())
                    ::unlink(name.constData());
                return elsewhere ? Adoption::CopyInstead : Adoption::Failed;
            }
        } else if (::rename(incoming.temporary.constData(), target.constData()) != 0) {
            return errno == EXDEV ? Adoption::CopyInstead : Adoption::Failed;
        }
        incoming.release();
        return Adoption::Done;
    }

    bool commit(replacefile::Content &content) override
    {
        if (fd < 0 || committed)
            return false;
        if (auto *incoming = static_cast<PosixIncoming *>(content.file())) {
            const Adoption adoption = adopt(*incoming);
            if (adoption != Adoption::CopyInstead) {
                discard();
                committed = adoption == Adoption::Done;
                if (committed)
                    noteUnflushed(directory);
                return committed;
            }
        }
        // The kernel applies the umask to a new file; explicit bits are set
        // as they are.
        if (mode)
            ::fchmod(fd, *mode);
        if (!replacefile::copyContent(content, [this](const char *data, qint64 size) { return writeAll(fd, data, size); })) {
            discard();
            return false;
        }
        if (temporary.isEmpty()) {
            bool unsupported = false;
            if (!nameAnonymous(fd, &temporary, &unsupported)) {
                discard();
                // The anonymous file cannot be named: write a named one instead.
                if (!unsupported || !openNamed())
                    return false;
                return commit(content);
            }
            temporary.clear();
            ::close(fd);
            fd = -1;
        } else {
            const bool closed = ::close(fd) == 0;
            fd = -1;
            if (!closed || ::rename(temporary.constData(), target.constData()) != 0) {
                discard();
                return false;
            }
            temporary.clear();
        }
        committed = true;
        noteUnflushed(directory);
        return true;
    }
};

// The existing file itself, written over.
class InPlaceWriter : public replacefile::Writer
{
public:
    QByteArray target;
    int fd = -1;

    ~InPlaceWriter() override
    {
        if (fd >= 0)
            ::close(fd);
    }

    bool commit(replacefile::Content &content) override
    {
        if (fd < 0)
            return false;
        // Reserving the space first keeps a full disk from cutting the file
        // short; a file system that cannot reserve is written all the same.
        const qint64 size = content.size();
        const int reserved = size == 0 ? 0 : ::posix_fallocate(fd, 0, off_t(size));
        bool written = (reserved == 0 || reserved == EOPNOTSUPP || reserved == EINVAL)
            && replacefile::copyContent(content, [this](const char *data, qint64 count) { return writeAll(fd, data, count); })
            && ::ftruncate(fd, off_t(size)) == 0;
        written = ::close(fd) == 0 && written;
        fd = -1;
        if (written)
            noteUnflushed(directoryOf(target));
        return written;
    }
};

} // namespace

namespace replacefile {

Entry inspect(const QString &path)
{
    Entry entry;
    const QByteArray name = QFile::encodeName(path);
    struct stat info;
    if (::lstat(name.constData(), &info) != 0)
        return entry;
    if (S_ISLNK(info.st_mode))
        entry.type = Entry::Type::Link;
    else if (S_ISREG(info.st_mode))
        entry.type = Entry::Type::File;
    else if (S_ISDIR(info.st_mode))
        entry.type = Entry::Type::Directory;
    else
        entry.type = Entry::Type::Other;
    entry.writable = ::access(name.constData(), W_OK) == 0;
    entry.hardLinks = int(info.st_nlink);
    return entry;
}

QString linkTarget(const QString &path)
{
    char buffer[4096];
    const ssize_t size = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
    if (size <= 0 || size >= ssize_t(sizeof buffer))
        return QString();
    return QFile::decodeName(QByteArray(buffer, int(size)));
}

std::unique_ptr<Writer> beside(const QString &target, const Bits &bits, FileReplacement::Strategy strategy, Refusal *refusal)
{
    auto writer = std::make_unique<BesideWriter>();
    writer->target = QFile::encodeName(target);
    writer->directory = directoryOf(writer->target);
    struct stat previous;
    if (::lstat(writer->target.constData(), &previous) == 0) {
        writer->targetExists = true;
        if (bits.keepTarget)
            writer->mode = previous.st_mode & 07777;
    }
    if (bits.given)
        writer->mode = modeOf(*bits.given);

    bool opened = false;
    if (strategy == FileReplacement::Strategy::Automatic) {
        opened = writer->openAnonymous();
        // No anonymous files here (an older kernel or another file system):
        // a named temporary file, unless the directory itself is the problem.
        if (!opened && errno != ENOENT && errno != ENOTDIR && errno != EROFS && !directoryRefuses(errno))
            opened = writer->openNamed();
    } else {
        opened = writer->openNamed();
    }
    if (opened)
        return writer;
    *refusal = directoryRefuses(errno) ? Refusal::Directory : Refusal::Other;
    return nullptr;
}

std::unique_ptr<Incoming> incoming(const QString &directory, const QString &hint)
{
    auto file = std::make_unique<PosixIncoming>();
    const QByteArray where = QFile::encodeName(directory);
    file->fd = ::open(where.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (file->fd >= 0)
        return file;
    // No nameless files here: a temporary name, unless the directory
    // itself refuses.
    if (errno == ENOENT || errno == ENOTDIR || errno == EROFS || directoryRefuses(errno))
        return nullptr;
    const QByteArray stem = where + '/' + QFile::encodeName(hint.isEmpty() ? QStringLiteral("download") : hint);
    PosixIncoming *named = file.get();
    if (!withFreshName(stem, &named->temporary, [named](const QByteArray &name) {
            named->fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            return named->fd >= 0;
        })) {
        named->temporary.clear();
        return nullptr;
    }
    return file;
}

std::unique_ptr<Writer> inPlace(const QString &target)
{
    auto writer = std::make_unique<InPlaceWriter>();
    writer->target = QFile::encodeName(target);
    writer->fd = ::open(writer->target.constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (writer->fd < 0)
        return nullptr;
    return writer;
}

// No rename here fails for another program's sake.
void failRenamesForTests(unsigned long, int) {}

} // namespace replacefile

void flushReplacedFiles()
{
    for (const QByteArray &directory : qAsConst(unflushed())) {
        const int fd = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            ::sync();
            continue;
        }
        ::syncfs(fd);
        ::close(fd);
    }
    unflushed().clear();
}

bool hasUnflushedReplacements()
{
    return !unflushed().isEmpty();
}

bool flushFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool flushed = ::fsync(fd) == 0;
    ::close(fd);
    return flushed;
}

} // namespace platform
