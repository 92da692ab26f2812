// zorvan-demo-images DIR: paints the launcher's images into DIR, so that a
// demo installation shows a splash picture and icons without shipping art.
// zorvan-demo-images --app-icon OUT.ico: paints the application icon
// (resources/icon.ico) in 16, 24, 32, 48, 64 and 256 pixels.

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

namespace {

QImage splash()
{
    QImage image(460, 200, QImage::Format_ARGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, image.height());
    sky.setColorAt(0, QColor(24, 32, 72));
    sky.setColorAt(1, QColor(190, 90, 60));
    p.fillRect(image.rect(), sky);
    QPainterPath hills;
    hills.moveTo(0, 200);
    hills.cubicTo(120, 90, 220, 190, 320, 120);
    hills.cubicTo(380, 80, 430, 130, 460, 110);
    hills.lineTo(460, 200);
    p.fillPath(hills, QColor(30, 40, 30));
    p.setPen(QColor(250, 240, 210));
    QFont font = p.font();
    font.setPixelSize(40);
    font.setBold(true);
    p.setFont(font);
    p.drawText(image.rect().adjusted(0, 20, 0, -100), Qt::AlignCenter, QStringLiteral("Zorvan Lumeth"));
    return image;
}

QImage icon(const QColor &colour, const QString &letter)
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(colour);
    p.setPen(Qt::NoPen);
    p.drawEllipse(1, 1, 30, 30);
    p.setPen(Qt::white);
    QFont font = p.font();
    font.setPixelSize(18);
    font.setBold(true);
    p.setFont(font);
    p.drawText(image.rect(), Qt::AlignCenter, letter);
    return image;
}

// The launcher's own icon at `size` pixels: a white "Z" on a disc of the
// progress bar's colour, in the same proportions at every size.
QImage applicationIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x05, 0xb8, 0xcc));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(size * 0.05, size * 0.05, size * 0.9, size * 0.9));
    p.setPen(Qt::white);
    QFont font = p.font();
    font.setPixelSize(qRound(size * 0.625));
    font.setBold(true);
    p.setFont(font);
    p.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("Z"));
    return image;
}

// One image of a Windows icon file: a 32-bit bottom-up bitmap with its
// (unused) transparency mask, or PNG data for 256 pixels, as Windows
// expects the large size.
QByteArray iconImage(const QImage &image)
{
    QByteArray data;
    if (image.width() >= 256) {
        QBuffer buffer(&data);
        image.save(&buffer, "PNG");
        return data;
    }
    const int side = image.width();
    const int maskRow = ((side + 31) / 32) * 4;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint32(40) << qint32(side) << qint32(2 * side) << quint16(1) << quint16(32) << quint32(0)
        << quint32(side * side * 4 + side * maskRow) << qint32(0) << qint32(0) << quint32(0) << quint32(0);
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = side - 1; y >= 0; --y) {
        const auto *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < side; ++x)
            out << quint8(qBlue(line[x])) << quint8(qGreen(line[x])) << quint8(qRed(line[x])) << quint8(qAlpha(line[x]));
    }
    data.append(QByteArray(side * maskRow, '\0'));
    return data;
}

// The application icon ":/icon.ico" (resources/icon.ico) and the Windows
// executable's icon: the launcher's disc in every size Windows shows.
bool writeApplicationIcon(const QString &path)
{
    const QList<int> sizes{256, 64, 48, 32, 24, 16};
    QList<QByteArray> images;
    for (int size : sizes)
        images << iconImage(applicationIcon(size));
    QByteArray file;
    QDataStream out(&file, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(sizes.size());
    quint32 offset = 6 + 16 * sizes.size();
    for (int i = 0; i < sizes.size(); ++i) {
        const quint8 side = sizes[i] >= 256 ? 0 : quint8(sizes[i]);
        out << side << side << quint8(0) << quint8(0) << quint16(1) << quint16(32) << quint32(images[i].size()) << offset;
        offset += images[i].size();
    }
    for (const QByteArray &image : images)
        file += image;
    QFile ico(path);
    return ico.open(QIODevice::WriteOnly) && ico.write(file) == file.size();
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--app-icon")
        return writeApplicationIcon(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    if (argc != 2 || !QDir(QString::fromLocal8Bit(argv[1])).exists()) {
        QTextStream(stderr) << "usage: zorvan-demo-images EXISTING_DIR\n"
                               "       zorvan-demo-images --app-icon OUT.ico\n";
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const bool ok = splash().save(dir.filePath(QStringLiteral("splash.png")))
        && icon(QColor(190, 90, 60), QStringLiteral("Z")).save(dir.filePath(QStringLiteral("launcher_icon.png")))
        && icon(QColor(40, 120, 200), QStringLiteral("W")).save(dir.filePath(QStringLiteral("icon_site_hover.png")))
        && icon(QColor(60, 160, 90), QStringLiteral("i")).save(dir.filePath(QStringLiteral("icon_wiki_hover.png")))
        && icon(QColor(88, 101, 242), QStringLiteral("D")).save(dir.filePath(QStringLiteral("icon_discord_hover.png")));
    return ok ? 0 : 1;
}
