#include "platform/replacefile.h"

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

} // namespace

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
        const Entry entry = replacefile::inspect(target);
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
        const Entry::Type type = replacefile::inspect(path).type;
        if (type == Entry::Type::Directory)
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
    if (!d->writer || d->committed)
        return false;
    d->committed = d->writer->commit(data);
    if (!d->committed)
        d->writer.reset();
    return d->committed;
}

} // namespace platform
