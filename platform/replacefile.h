#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <limits>
#include <memory>

namespace platform {

namespace replacefile {
class Content;
}

// The one way the launcher gives a file a whole new content: downloads,
// ".gameopts" and the save operations all write through it.
//
// The content goes to a new file beside the target, which takes the target's
// name in one rename once it is complete: at every moment the name holds the
// previous file, untouched, or the complete new one. Where the system offers
// it (Linux), the new file has no name at all until it is complete, so a
// process killed part-way leaves nothing behind. The few layouts in which a
// new file cannot take the name without changing what the caller asked for
// are listed with each kind.
//
// The content is not forced to the disk file by file: a device flush per
// file dominates the fetching of many small game files. Whoever records that
// files are in place calls flushReplacedFiles() first.
class IncomingFile;

class FileReplacement
{
public:
    enum class Kind {
        // The file at the path gets the new content, as an open with
        // truncation would give it:
        // - a symbolic link is followed (through any chain of links); the
        //   file it leads to gets the content and the link stays;
        // - the file keeps its permission bits; a new file gets the usual
        //   ones of a new file;
        // - a file with further hard links, and a writable file in a
        //   directory where no new file can be made, are written in place so
        //   that every name shows the new content. Space is reserved first,
        //   so a full disk leaves the file as it was, but a crash or power
        //   cut during the write can leave it part old, part new;
        // - a directory, a device or pipe, a file the user may not write, or
        //   a missing file in a directory where no file can be made: open()
        //   fails and nothing changes;
        // - a file another program holds without letting it be renamed (a
        //   virus scanner, Windows): open() waits for it (kFilePatienceMs),
        //   then writes in place if the holder lets others write, else
        //   fails.
        Overwrite,
        // The path gets a new regular file, as deleting it and copying into
        // its place would give it:
        // - a symbolic link at the path is itself replaced; whatever it led
        //   to stays as it was;
        // - further hard links keep the previous content;
        // - a read-only file is replaced when its directory allows it, except
        //   on Windows, which deletes no read-only file: open() fails there;
        // - a file another program holds is waited for, as with Overwrite,
        //   and then refused;
        // - the new file has the bits given to setPermissions(), else the
        //   usual ones of a new file;
        // - a directory at the path, or a directory where no file can be
        //   made: open() fails and nothing changes.
        NewFile,
    };
    enum class Strategy {
        Automatic,      // a nameless file where the system offers one
        NamedTemporary, // always "NAME.XXXXXX" beside the target, renamed at the end
    };

    explicit FileReplacement(const QString &path, Kind kind = Kind::Overwrite, Strategy strategy = Strategy::Automatic);
    // Discards the new file unless it was committed.
    ~FileReplacement();
    FileReplacement(const FileReplacement &) = delete;
    FileReplacement &operator=(const FileReplacement &) = delete;

    // The permission bits of a NewFile (as a copy takes its source's).
    void setPermissions(QFileDevice::Permissions permissions);

    // Prepares the write; false when the layout refuses it (see Kind).
    // Nothing visible changes.
    bool open();
    // Writes `data` whole and gives it the target's name; false when the
    // data does not fit (a full disk) or the name cannot be given (within
    // kFilePatienceMs where another program holds a file), in which case
    // the target is as it was.
    bool commit(const QByteArray &data);
    // The same with the content of `incoming`, whose file takes the name
    // itself where the system allows it (no second copy of a large body);
    // false as well when `incoming` lost part of its body.
    bool commit(IncomingFile &incoming);

    struct State;

private:
    bool commitContent(replacefile::Content &content);
    std::unique_ptr<State> d;
};

// A body that arrives in pieces (a download), kept in a file of its own in
// `directory` until it is complete, and then handed to
// FileReplacement::commit(), which gives it its destination's name. Until
// then nothing visible to the launcher changes: on Linux the file has no
// name at all, elsewhere it is a temporary "NAME.XXXXXX" that goes when the
// object does. Where `directory` takes no new file, the body is held in
// memory instead, up to kMemoryLimit.
class IncomingFile
{
public:
    static constexpr qint64 kMemoryLimit = std::numeric_limits<int>::max() - 64;

    // `hint`: a file name for the temporary name (the destination's).
    explicit IncomingFile(const QString &directory, const QString &hint = QString());
    // Discards the body unless a FileReplacement took it.
    ~IncomingFile();
    IncomingFile(const IncomingFile &) = delete;
    IncomingFile &operator=(const IncomingFile &) = delete;

    // Stores the next piece. After a piece could not be stored whole (a
    // full disk), every later one is dropped and failed() is true.
    void append(const char *data, qint64 size);
    bool failed() const;
    // The bytes appended, stored or not.
    qint64 size() const;

    struct State;

private:
    friend class FileReplacement;
    std::unique_ptr<State> d;
};

// Forces every file replaced since the last call to the disk: one flush per
// file system written to, nothing when nothing was replaced.
void flushReplacedFiles();

// Whether files were replaced since the last flushReplacedFiles().
bool hasUnflushedReplacements();

// Forces the content of the file at `path` to the disk.
bool flushFile(const QString &path);

} // namespace platform
