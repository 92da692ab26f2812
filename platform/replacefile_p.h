#pragma once

// The system's side of FileReplacement, one body per platform
// (replacefile_posix.cpp, replacefile_win.cpp), chosen when building. The
// choice of what to do in which layout is made once, in replacefile.cpp.

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
};
Entry inspect(const QString &path);

// Where the link at `path` leads, as stored in it (perhaps relative to the
// link's directory); empty when it cannot be read.
QString linkTarget(const QString &path);

// The new content on its way to the name.
class Writer
{
public:
    // Discards whatever was not committed.
    virtual ~Writer() = default;
    // Writes `data` whole and puts it under the name; false leaves the name
    // as it was.
    virtual bool commit(const QByteArray &data) = 0;
};

// The permission bits of the new file.
struct Bits
{
    bool keepTarget = false;                      // those of the file it replaces
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

} // namespace replacefile
} // namespace platform
