// zorvan-demo-images DIR: paints the launcher's images into DIR, so that a
// demo installation shows a splash picture and icons without shipping art.

#include <QDir>
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

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2 || !QDir(QString::fromLocal8Bit(argv[1])).exists()) {
        QTextStream(stderr) << "usage: zorvan-demo-images EXISTING_DIR\n";
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
