#include "platform/replacefile.h"

#include "platform/fileops.h"
#include "platform/replacefile_p.h"

#include <QDir>
#include <QFileInfo>

namespace platform {

using replacefile::Entry;

namespace {

// The name at the end of a chain of links starting at `path`; empty for a
// chain that does not end (a loop).
QString followLinks(const QString &path)
{
    QString current = path;
    for (int hop = 0; hop < 40; ++hop) {
        if (replacefile::inspect(current).type != Entry::Type::Link)
            return current;
        const QString target = replacefile::linkTarget(current);
        if (target.isEmpty())
            return QString();
        current = QDir::isAbsolutePath(target) ? target : QFileInfo(current).path() + QLatin1Char('/') + target;
    }
    return QString();
}

// What lies at `path` once a program that held it (a virus scanner reading
// it) has let go; still busy when it held it past the patience.
Entry settled(const QString &path)
{
    Entry entry;
    persist(patience(kFilePatienceMs), [&] {
        entry = replacefile::inspect(path);
        return entry.busy ? Try::Busy : Try::Done;
    });
    return entry;
}

// A body held in memory.
class Bytes : public replacefile::Content
{
public:
    explicit Bytes(const QByteArray &bytes)
        : m_bytes(bytes)
    {
    }
    qint64 size() const override { return m_bytes.size(); }
    const char *data() const override { return m_bytes.constData(); }

private:
    const QByteArray &m_bytes;
};

} // namespace

struct IncomingFile::State : public replacefile::Content
{
    std::unique_ptr<replacefile::Incoming> incoming;
    QByteArray memory; // without a file
    qint64 appended = 0;
    bool lost = false;

    qint64 size() const override { return appended; }
    const char *data() const override { return incoming ? nullptr : memory.constData(); }
    qint64 readAt(qint64 offset, char *buffer, qint64 count) override { return incoming ? incoming->readAt(offset, buffer, count) : -1; }
    replacefile::Incoming *file() override { return incoming.get(); }
};

IncomingFile::IncomingFile(const QString &directory, const QString &hint)
    : d(new State)
{
    d->incoming = replacefile::incoming(directory, hint);
}

IncomingFile::~IncomingFile() = default;

void IncomingFile::append(const char *data, qint64 size)
{
    if (size <= 0)
        return;
    d->appended += size;
    if (d->lost)
        return;
    if (d->incoming) {
        d->lost = !d->incoming->append(data, size);
    } else if (d->memory.size() + size > kMemoryLimit) {
        d->lost = true;
        d->memory.clear();
    } else {
        d->memory.append(data, int(size));
    }
}

bool IncomingFile::failed() const
{
    return d->lost;
}

qint64 IncomingFile::size() const
{
    return d->appended;
}

struct FileReplacement::State
{
    QString path;
    Kind kind = Kind::Overwrite;
    Strategy strategy = Strategy::Automatic;
    std::optional<QFileDevice::Permissions> permissions;
    std::unique_ptr<replacefile::Writer> writer;
    bool committed = false;

    std::unique_ptr<replacefile::Writer> openOverwrite() const
    {
        const QString target = followLinks(path);
        if (target.isEmpty())
            return nullptr;
        const Entry entry = settled(target);
        // Held past the patience: written in place if its holder lets others
        // write (a game that opened it with the C runtime's fopen), as an open
        // for writing would be, else refused.
        if (entry.busy)
            return replacefile::inPlace(target);
        const bool exists = entry.type != Entry::Type::Missing;
        if (exists && (entry.type != Entry::Type::File || !entry.writable))
            return nullptr;
        // A new file would take the name from the other hard links.
        if (exists && entry.hardLinks > 1)
            return replacefile::inPlace(target);
        replacefile::Bits bits;
        bits.keepTarget = exists;
        replacefile::Refusal refusal = replacefile::Refusal::None;
        std::unique_ptr<replacefile::Writer> writer = replacefile::beside(target, bits, strategy, &refusal);
        // A writable file in a directory that takes no new file.
        if (!writer && exists && refusal == replacefile::Refusal::Directory)
            return replacefile::inPlace(target);
        return writer;
    }

    std::unique_ptr<replacefile::Writer> openNewFile() const
    {
        // A deletion fails on these, and the copy then finds the file in its way.
        const Entry entry = settled(path);
        if (entry.type == Entry::Type::Directory || entry.busy || !entry.removable)
            return nullptr;
        replacefile::Bits bits;
        bits.given = permissions;
        replacefile::Refusal refusal = replacefile::Refusal::None;
        return replacefile::beside(path, bits, strategy, &refusal);
    }
};

FileReplacement::FileReplacement(const QString &path, Kind kind, Strategy strategy)
    : d(new State)
{
    d->path = path;
    d->kind = kind;
    d->strategy = strategy;
}

FileReplacement::~FileReplacement() = default;

void FileReplacement::setPermissions(QFileDevice::Permissions permissions)
{
    d->permissions = permissions;
}

bool FileReplacement::open()
{
    if (d->writer || d->committed || d->path.isEmpty())
        return false;
    d->writer = d->kind == Kind::Overwrite ? d->openOverwrite() : d->openNewFile();
    return d->writer != nullptr;
}

bool FileReplacement::commit(const QByteArray &data)
{
    Bytes content(data);
    return commitContent(content);
}

bool FileReplacement::commit(IncomingFile &incoming)
{
    if (incoming.failed()) {
        d->writer.reset();
        return false;
    }
    return commitContent(*incoming.d);
}

bool FileReplacement::commitContent(replacefile::Content &content)
{
    if (!d->writer || d->committed)
        return false;
    d->committed = d->writer->commit(content);
    if (!d->committed)
        d->writer.reset();
    return d->committed;
}

} // namespace platform
