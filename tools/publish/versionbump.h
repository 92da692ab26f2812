#pragma once

#include <QString>

namespace publish {

// `current` with its last run of decimal digits raised by one, carrying as
// on paper and keeping the run's width ("1.4" -> "1.5", "1.9" -> "1.10",
// "2.09-rc" -> "2.10-rc"). A null text when `current` holds no digit.
QString bumpedVersion(const QString &current);

} // namespace publish
