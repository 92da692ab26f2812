#pragma once

// The system's side of FileReplacement and IncomingFile, one body per
// platform (replacefile_posix.cpp, replacefile_win.cpp), chosen when
// building. The choice of what to do in which layout is made once, in
// replacefile.cpp.

#include "platform/replacefile.h"

#include <memory>
#include <optional>

namespace platform {
namespace replacefile {

// What lies at a name; a link at the name is reported, not followed.
struct Entry
{
    enum class Type { Missing, File, Directory, Link, Other };
    Type type = Type::Missing;
    bool writable = false; // the user may open the file for writing
    int hardLinks = 0;     // names of the file
    // Held open by another program that lets no one rename or delete it
    // (Windows): whether it is writable, and its names, are not known yet.
    bool busy = false;
    // A deletion would remove it as far as the file itself goes (Windows
    // deletes no read-only file); the directory may still refuse.
    bool removable = true;
};
Entry inspect(const QString &path);

// Where the link at `path` leads, as stored in it (perhaps relative to the
// link's directory); empty when it cannot be read.
QString linkTarget(const QString &path);

// A body kept in a file of its own while it arrives.
class Incoming
{
public:
    // Discards the file unless a writer took it over.
    virtual ~Incoming() = default;
    // Appends `size` bytes; false when they could not all be stored.
    virtual bool append(const char *data, qint64 size) = 0;
    // Up to `size` bytes from `offset`: the count read, 0 at the end, -1 on
    // an error.
    virtual qint64 readAt(qint64 offset, char *buffer, qint64 size) = 0;
};

// A new file for a body, in `directory`, which must exist; null when none
// can be made there. `hint` is a file name the system may build its
// temporary name from.
std::unique_ptr<Incoming> incoming(const QString &directory, const QString &hint);

// The whole new content, in memory or in a file that is taken over when
// the system can give it the target's name directly.
class Content
{
public:
    virtual ~Content() = default;
    virtual qint64 size() const = 0;
    // The bytes, when they are in memory.
    virtual const char *data() const { return nullptr; }
    // Up to `size` bytes from `offset`, as Incoming::readAt, when they are
    // in a file.
    virtual qint64 readAt(qint64, char *, qint64) { return -1; }
    // The file holding the bytes, when there is one.
    virtual Incoming *file() { return nullptr; }
};

// Feeds `content` to `write` in blocks; false when a read or a write fails.
template <typename Write>
bool copyContent(Content &content, Write write)
{
    if (const char *bytes = content.data())
        return write(bytes, content.size());
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 offset = 0; offset < content.size();) {
        const qint64 got = content.readAt(offset, block.data(), qMin<qint64>(block.size(), content.size() - offset));
        if (got <= 0 || !write(block.constData(), got))
            return false;
        offset += got;
    }
    return true;
}

// The new content on its way to the name.
class Writer
{
public:
    // Discards whatever was not committed.
    virtual ~Writer() = default;
    // Puts `content` whole under the name; false leaves the name as it was.
    virtual bool commit(Content &content) = 0;
};

// The permission bits of the new file.
struct Bits
{
    bool keepTarget = false;                       // those of the file it replaces
    std::optional<QFileDevice::Permissions> given; // else these, else a new file's
};

enum class Refusal { None, Directory, Other };

// A new file beside `target`, in its directory, that takes the name `target`
// in one rename at commit. Null when it cannot be made; `refusal` tells
// whether the directory allows no new file (read-only, say).
std::unique_ptr<Writer> beside(const QString &target, const Bits &bits, FileReplacement::Strategy strategy, Refusal *refusal);

// The existing file `target` itself, written over at commit after space for
// the whole content has been reserved. Null when it cannot be opened.
std::unique_ptr<Writer> inPlace(const QString &target);

// Tests, Windows: the next `count` renames that give a file its name fail
// as a program holding the new file makes them fail: ReplaceFileW with
// `error` (ERROR_UNABLE_TO_REMOVE_REPLACED, _MOVE_REPLACEMENT or
// _MOVE_REPLACEMENT_2), leaving the files as Microsoft documents them for
// that error, MoveFileExW with ERROR_SHARING_VIOLATION. Elsewhere nothing.
void failRenamesForTests(unsigned long error, int count);

} // namespace replacefile
} // namespace platform
