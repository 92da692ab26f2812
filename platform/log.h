#pragma once

#include <QDebug>
#include <QString>

// One diagnostic line: a fixed label immediately followed by its value,
// written to the toolkit's debug output without quoting.
inline void debugLine(const QString &label, const QString &value = QString())
{
    qDebug().noquote().nospace() << label << value;
}
