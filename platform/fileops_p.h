#pragma once

// The system's side of fileops.h, one body per platform (fileops_posix.cpp,
// fileops_win.cpp), chosen when building.

#include "platform/fileops.h"

#include <QString>

#include <string>

namespace platform {
namespace fileops {

// A further name `extraName` for the file `existing`; false when the file
// system has no hard links or the name is taken.
bool hardLink(const QString &existing, const QString &extraName);

#ifdef Q_OS_WIN
// The form in which every call of the system gets a path: absolute, with
// "\\?\" in front ("\\?\UNC\" for a share), so that no length limit
// applies, "." and ".." resolved as the system resolves them, and a relative
// path taken from the working directory (a drive-relative "D:x" from that
// drive's). A path already in that form, or a device's "\\.\", is kept.
std::wstring systemPath(const QString &path);

// The outcome of a call that returned `succeeded`, from the thread's last
// error: Busy for the refusals another program's handle causes (a sharing
// or lock violation, or a denied access, which a file pending deletion or
// still being scanned gives too).
Try outcomeOf(bool succeeded);
#endif

} // namespace fileops
} // namespace platform
