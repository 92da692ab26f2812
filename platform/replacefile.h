#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace platform {

// Gives a file a new content as a whole, like QSaveFile: the data goes to a
// new file in the same directory, which takes the file's name in one rename
// once it is complete. At every moment the name holds the previous file,
// untouched, or the complete new one. On Linux the new file has no name at
// all until it is complete, so a process killed part-way leaves nothing
// behind. A replaced file's permission bits carry over to the new one.
//
// Unlike QSaveFile, the content is not forced to the disk file by file: a
// device flush per file dominates the fetching of many small game files.
// Whoever records that the files are in place calls flushReplacedFiles()
// first, so that after a power cut either the record is missing (and the
// files are checked again) or every file it covers is on the disk.
class FileReplacement
{
public:
    enum class Strategy {
        Automatic,      // a nameless file where the system offers one
        NamedTemporary, // always "NAME.XXXXXX" beside the target, renamed at the end
    };

    explicit FileReplacement(const QString &path, Strategy strategy = Strategy::Automatic);
    // Discards the new file unless it was committed.
    ~FileReplacement();
    FileReplacement(const FileReplacement &) = delete;
    FileReplacement &operator=(const FileReplacement &) = delete;

    // Creates the new file beside the target; false when that is not possible
    // (a missing or read-only directory). Nothing visible changes.
    bool open();
    // Writes `data` whole and gives the new file the target's name; false
    // when the data does not fit (a full disk) or the name cannot be given,
    // in which case the target is as it was.
    bool commit(const QByteArray &data);

    struct State;

private:
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
