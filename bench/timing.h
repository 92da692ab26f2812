#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace bench {

// Seconds taken by `program` run in `directory` with its output dropped;
// ends the bench when the program fails.
double timedProcess(const QString &program, const QStringList &args, const QString &directory);

// Seconds taken by `work`.
double timed(const std::function<void()> &work);

} // namespace bench
