#include "versionbump.h"

namespace publish {

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

QString bumpedVersion(const QString &current)
{
    int last = current.size() - 1;
    while (last >= 0 && !isAsciiDigit(current.at(last)))
        --last;
    if (last < 0)
        return QString();

    QString bumped = current;
    int i = last;
    for (; i >= 0 && isAsciiDigit(bumped.at(i)); --i) {
        if (bumped.at(i) != QLatin1Char('9')) {
            bumped[i] = QChar(bumped.at(i).unicode() + 1);
            return bumped;
        }
        bumped[i] = QLatin1Char('0');
    }
    bumped.insert(i + 1, QLatin1Char('1'));
    return bumped;
}

} // namespace publish
