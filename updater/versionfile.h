#pragma once

#include <QByteArray>
#include <QString>

// The installed and the server's version files of the working directory.
namespace versionfile {

extern const char *const kServerVersionFile; // "version.txt"
extern const char *const kLocalVersionFile;  // "localversion.txt"

// Writes "0.0" and a line end to `path`, truncating it; false when the file
// cannot be opened for writing.
bool writeInitialVersion(const QString &path);

// The version text as compared: the file's bytes with every carriage return
// dropped, as a text-mode read gives them.
QByteArray comparable(const QByteArray &raw);

} // namespace versionfile
