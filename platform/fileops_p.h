#pragma once

// The system's side of fileops.h, one body per platform (fileops_posix.cpp,
// fileops_win.cpp), chosen when building.

#include <QString>

namespace platform {
namespace fileops {

// A further name `extraName` for the file `existing`; false when the file
// system has no hard links or the name is taken.
bool hardLink(const QString &existing, const QString &extraName);

} // namespace fileops
} // namespace platform
