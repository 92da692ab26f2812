#include "platform/replacefile.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <QHash>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

namespace platform {

#ifdef Q_OS_LINUX

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

} // namespace

struct FileReplacement::State
{
    QByteArray target;
    QByteArray directory;
    bool targetExists = false;
    bool anonymousAllowed = true;
    mode_t mode = 0666;
    int fd = -1;
    // Empty while the new file is anonymous.
    QByteArray temporary;
    bool committed = false;

    bool openNamed()
    {
        const bool opened = withFreshName(target, &temporary, [this](const QByteArray &name) {
            fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
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
};

FileReplacement::FileReplacement(const QString &path, Strategy strategy)
    : d(new State)
{
    d->anonymousAllowed = strategy == Strategy::Automatic;
    d->target = QFile::encodeName(path);
    d->directory = QFile::encodeName(QFileInfo(path).path());
    struct stat previous;
    if (::stat(d->target.constData(), &previous) == 0) {
        d->targetExists = true;
        d->mode = previous.st_mode & 07777;
    }
}

FileReplacement::~FileReplacement()
{
    if (!d->committed)
        d->discard();
}

bool FileReplacement::open()
{
    if (!d->anonymousAllowed)
        return d->openNamed();
    d->fd = ::open(d->directory.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, d->mode);
    if (d->fd >= 0)
        return true;
    // No anonymous files here (an older kernel or another file system):
    // a named temporary file, unless the directory itself is the problem.
    if (errno == ENOENT || errno == ENOTDIR || errno == EACCES || errno == EROFS)
        return false;
    return d->openNamed();
}

bool FileReplacement::commit(const QByteArray &data)
{
    if (d->fd < 0 || d->committed)
        return false;
    // The kernel applies the umask to a new file; a replaced one keeps its bits.
    if (d->targetExists)
        ::fchmod(d->fd, d->mode);
    if (!writeAll(d->fd, data)) {
        d->discard();
        return false;
    }
    if (d->temporary.isEmpty()) {
        bool unsupported = false;
        if (!d->nameAnonymous(&unsupported)) {
            d->discard();
            // The anonymous file cannot be named: write a named one instead.
            if (!unsupported || !d->openNamed())
                return false;
            return commit(data);
        }
        d->temporary.clear();
        ::close(d->fd);
        d->fd = -1;
    } else {
        const bool closed = ::close(d->fd) == 0;
        d->fd = -1;
        if (!closed || ::rename(d->temporary.constData(), d->target.constData()) != 0) {
            d->discard();
            return false;
        }
        d->temporary.clear();
    }
    d->committed = true;
    noteUnflushed(d->directory);
    return true;
}

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

#else

// Elsewhere the toolkit's atomic save, which flushes every file itself.
struct FileReplacement::State
{
    explicit State(const QString &path)
        : file(path)
    {
    }
    QSaveFile file;
};

FileReplacement::FileReplacement(const QString &path, Strategy)
    : d(new State(path))
{
}

FileReplacement::~FileReplacement() = default;

bool FileReplacement::open()
{
    return d->file.open(QIODevice::WriteOnly);
}

bool FileReplacement::commit(const QByteArray &data)
{
    if (d->file.write(data) == data.size() && d->file.commit())
        return true;
    d->file.cancelWriting();
    return false;
}

void flushReplacedFiles() {}

bool hasUnflushedReplacements()
{
    return false;
}

// The toolkit's atomic save has flushed each file already.
bool flushFile(const QString &path)
{
    return QFileInfo::exists(path);
}

#endif

} // namespace platform
