// zorvan-shot: saves a picture of what the X screen shows.
//
//   zorvan-shot OUT.png [DELAY_MS]   waits DELAY_MS (default 0), grabs the
//                                    screen, keeps the part that is not the
//                                    black background (the windows), saves
//   zorvan-shot --check FILE.png     exit 0 only if the picture is not blank
//
// The grab needs an X display (DISPLAY), such as the one xvfb-run provides.

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QSet>
#include <QTextStream>
#include <QTimer>

namespace {

// Distinct colours, counted up to `limit`: a blank screen has one.
int distinctColours(const QImage &image, int limit)
{
    QSet<QRgb> seen;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            seen.insert(line[x]);
            if (seen.size() >= limit)
                return limit;
        }
    }
    return seen.size();
}

int check(const QString &file)
{
    QTextStream out(stdout);
    const QImage image(file);
    if (image.isNull()) {
        out << file << ": not a readable picture\n";
        return 1;
    }
    const int colours = distinctColours(image, 64);
    out << file << ": " << image.width() << "x" << image.height() << ", " << (colours >= 64 ? "64 or more" : QString::number(colours))
        << " colours\n";
    return colours >= 8 ? 0 : 1;
}

// The smallest rectangle around every pixel that is not the virtual
// screen's black background; the whole picture when there is none.
QRect shownPart(const QImage &image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    QRect shown;
    for (int y = 0; y < rgb.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            if (qRed(line[x]) | qGreen(line[x]) | qBlue(line[x]))
                shown |= QRect(x, y, 1, 1);
    }
    return shown.isEmpty() ? rgb.rect() : shown;
}

int grab(const QString &file)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        QTextStream(stderr) << "zorvan-shot: no screen\n";
        return 1;
    }
    const QPixmap picture = screen->grabWindow(0);
    if (picture.isNull() || !picture.copy(shownPart(picture.toImage())).save(file, "PNG")) {
        QTextStream(stderr) << "zorvan-shot: cannot grab the screen into " << file << "\n";
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && QByteArray(argv[1]) == "--check") {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        return check(QString::fromLocal8Bit(argv[2]));
    }
    if (argc < 2 || argc > 3 || argv[1][0] == '-') {
        QTextStream(stderr) << "usage: zorvan-shot OUT.png [DELAY_MS] | zorvan-shot --check FILE.png\n";
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const QString file = QString::fromLocal8Bit(argv[1]);
    const int delay = argc == 3 ? QByteArray(argv[2]).toInt() : 0;
    int result = 1;
    QTimer::singleShot(delay, &app, [&] {
        result = grab(file);
        app.quit();
    });
    app.exec();
    return result;
}
