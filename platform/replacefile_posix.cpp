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

bool writeAll(int fd, const QByteArray &data)
{
    const char *next = data.constData();
    qint64 left = data.size();
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
    const struct {
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

    // Links the anonymous file under `name`; errno tells why not.
    bool link(const QByteArray &name) const
    {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        return ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0;
    }

    // Gives the complete anonymous file the target's name: a new target is
    // linked directly, an existing one replaced through a temporary name.
    // Sets `unsupported` when no name can be given this way.
    bool nameAnonymous(bool *unsupported)
    {
        if (!targetExists && link(target))
            return true;
        if (!targetExists && errno != EEXIST) {
            *unsupported = linkUnsupported(errno);
            return false;
        }
        QByteArray name;
        if (!withFreshName(target, &name, [this](const QByteArray &candidate) { return link(candidate); })) {
            *unsupported = errno != EEXIST && linkUnsupported(errno);
            return false;
        }
        temporary = name;
        return ::rename(temporary.constData(), target.constData()) == 0;
    }

    bool commit(const QByteArray &data) override
    {
        if (fd < 0 || committed)
            return false;
        // The kernel applies the umask to a new file; explicit bits are set
        // as they are.
        if (mode)
            ::fchmod(fd, *mode);
        if (!writeAll(fd, data)) {
            discard();
            return false;
        }
        if (temporary.isEmpty()) {
            bool unsupported = false;
            if (!nameAnonymous(&unsupported)) {
                discard();
                // The anonymous file cannot be named: write a named one instead.
                if (!unsupported || !openNamed())
                    return false;
                return commit(data);
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

    bool commit(const QByteArray &data) override
    {
        if (fd < 0)
            return false;
        // Reserving the space first keeps a full disk from cutting the file
        // short; a file system that cannot reserve is written all the same.
        const int reserved = data.isEmpty() ? 0 : ::posix_fallocate(fd, 0, off_t(data.size()));
        bool written = (reserved == 0 || reserved == EOPNOTSUPP || reserved == EINVAL) && writeAll(fd, data)
            && ::ftruncate(fd, off_t(data.size())) == 0;
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

std::unique_ptr<Writer> inPlace(const QString &target)
{
    auto writer = std::make_unique<InPlaceWriter>();
    writer->target = QFile::encodeName(target);
    writer->fd = ::open(writer->target.constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (writer->fd < 0)
        return nullptr;
    return writer;
}

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
