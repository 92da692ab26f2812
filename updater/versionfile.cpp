#include "updater/versionfile.h"

#include <QFile>
#include <QTextStream>

namespace versionfile {

const char *const kServerVersionFile = "version.txt";
const char *const kLocalVersionFile = "localversion.txt";

bool writeInitialVersion(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream stream(&file);
    stream << "0.0" << Qt::endl;
    return true;
}

QByteArray comparable(const QByteArray &raw)
{
    QByteArray text = raw;
    text.replace('\r', QByteArray());
    return text;
}

} // namespace versionfile
