#include "workload.h"

#include "updater/paths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace bench {

namespace {

QByteArray manifestEntry(const QString &relative, const QByteArray &md5, const QByteArray &sha1)
{
    return "  <File Name=\"" + relative.section(QLatin1Char('/'), -1).toUtf8() + "\" Path=\"" + QByteArray(paths::kServerGameDir)
        + relative.toUtf8() + "\" MD5=\"" + md5 + "\" SHA1=\"" + sha1 + "\"/>\n";
}

} // namespace

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

Tree writeTree(const QString &root, const QString &prefix, int count, qint64 size)
{
    Tree tree;
    tree.manifest = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Files>\n";
    const qint64 block = qMin<qint64>(size, 8 << 20);
    QByteArray data(int(block), Qt::Uninitialized);
    for (int i = 0; i < count; ++i) {
        const QString relative = QStringLiteral("%1-d%2/%1%3.bin").arg(prefix).arg(i % 20, 2, 10, QLatin1Char('0')).arg(i);
        const QString path = root + QLatin1Char('/') + relative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        QCryptographicHash md5(QCryptographicHash::Md5);
        QCryptographicHash sha1(QCryptographicHash::Sha1);
        for (qint64 left = size; left > 0;) {
            const int n = int(qMin<qint64>(left, block));
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(data.data()), int(block / 4));
            md5.addData(data.constData(), n);
            sha1.addData(data.constData(), n);
            if (file.write(data.constData(), n) != n)
                qFatal("cannot write %s", qPrintable(path));
            left -= n;
        }
        tree.files << relative;
        tree.bytes += size;
        tree.manifest += manifestEntry(relative, md5.result().toHex(), sha1.result().toHex());
    }
    tree.manifest += "</Files>\n";
    return tree;
}

} // namespace bench
