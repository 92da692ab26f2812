// Whole update runs of the engine, in-process, against nginx serving bad
// manifests and version files, and against an installation that cannot be
// written. Each case records the status texts shown and what is on disk;
// nothing may be written beside the installation.

#include "e2e/installation.h"
#include "e2e/nginxserver.h"
#include "updater/gameupdater.h"
#include "updater/serverurls.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <sys/mount.h>

namespace {

const QByteArray kOld = "game bytes of version 1";
const QByteArray kNew = "game bytes of version 2";

QByteArray entry(const QString &name, const QString &path, const QByteArray &content)
{
    return "<File Name=\"" + name.toUtf8() + "\" Path=\"" + path.toUtf8() + "\" MD5=\"" + md5Hex(content).toLatin1()
        + "\" SHA1=\"" + sha1Hex(content).toLatin1() + "\"/>";
}

QByteArray listing(const QByteArray &entries)
{
    return "<?xml version=\"1.0\"?>\n<Files>" + entries + "</Files>\n";
}

QByteArray gameEntry()
{
    return entry(QStringLiteral("Game.exe"), QStringLiteral("/home/zorvanhost/www/game/Game.exe"), kNew);
}

QString dl(const QString &file) { return QStringLiteral("Downloading  ") + file + QStringLiteral("..."); }
QString dl(const QString &percent, const QString &name)
{
    return QStringLiteral("Downloading (") + percent + QStringLiteral("%) ") + name + QStringLiteral("...");
}
const QString kFinished = QStringLiteral("Update finished. You have the latest version.");

} // namespace

class BadInputTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void badServerAnswers_data();
    void badServerAnswers();
    void fullDisk();
    void deviceInPlaceOfAGameFile();
    void readOnlyInstallation();

private:
    // One update run in `install`; returns the status texts.
    QStringList runIn(const Installation &install, int *playOkCount = nullptr);
    void printRow(const QString &fault, const QStringList &texts, const QString &disk);

    NginxServer m_nginx;
};

void BadInputTest::initTestCase()
{
    if (!NginxServer::available())
        QSKIP("nginx is not installed (apt-get install nginx-light)");
    QVERIFY2(m_nginx.start(), qPrintable(m_nginx.errorText()));
    qputenv(server::kBaseUrlVariable, m_nginx.baseUrl().toUtf8());
    QCOMPARE(server::baseUrl(), m_nginx.baseUrl());
}

void BadInputTest::cleanupTestCase()
{
    m_nginx.stop();
}

QStringList BadInputTest::runIn(const Installation &install, int *playOkCount)
{
    const QString previous = QDir::currentPath();
    QDir::setCurrent(install.path());
    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    QSignalSpy playOk(&updater, &GameUpdater::playOk);
    updater.checkUpdate();
    QDir::setCurrent(previous);
    if (playOkCount)
        *playOkCount = playOk.count();
    return texts(infos);
}

void BadInputTest::printRow(const QString &fault, const QStringList &shown, const QString &disk)
{
    printf("BADINPUT| %s | %s | %s |\n", qPrintable(fault), qPrintable(shown.join(QStringLiteral(" / "))),
           qPrintable(disk));
    fflush(stdout);
}

void BadInputTest::badServerAnswers_data()
{
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QByteArray>("gameAfter");
    QTest::addColumn<QString>("disk");

    const QByteArray v2 = "2\n";
    const QString v = dl(QStringLiteral("version.txt"));
    const QString m = dl(QStringLiteral("file_listing.xml"));
    const QString e010 = QStringLiteral("Error in the update manifesto. (010)");
    const QString e011 = QStringLiteral("Error in the update manifesto. (011)");
    const QString e006 = QStringLiteral("Download error (006). Local version available.");
    const QString g100 = dl(QStringLiteral("100.00"), QStringLiteral("Game.exe"));

    QTest::newRow("manifest not XML") << QByteArray("this is { not xml }") << v2 << QStringList{v, m, e010, kFinished}
                                      << kOld << "nothing examined, version recorded";
    QTest::newRow("manifest without any element")
        << QByteArray("<?xml version=\"1.0\"?>\n<!-- nothing published -->\n") << v2
        << QStringList{v, m, e011, kFinished} << kOld << "nothing examined, version recorded";
    QTest::newRow("manifest markup garbage") << QByteArray("<<<>>>") << v2 << QStringList{v, m, e010, kFinished}
                                             << kOld << "nothing examined, version recorded";
    QTest::newRow("manifest blank") << QByteArray(" \n\t\n") << v2 << QStringList{v, m, e010, kFinished} << kOld
                                    << "nothing examined, version recorded";
    QTest::newRow("manifest 0 bytes") << QByteArray() << v2 << QStringList{v, m, e010, kFinished} << kOld
                                      << "nothing examined, version recorded";
    QTest::newRow("manifest truncated mid-element")
        << listing(gameEntry()).left(60) << v2 << QStringList{v, m, e010, kFinished} << kOld
        << "nothing examined, version recorded";
    QTest::newRow("manifest root without File") << QByteArray("<Files><Other/></Files>") << v2
                                                << QStringList{v, m, kFinished} << kOld << "nothing examined";
    QTest::newRow("uppercase digests")
        << listing("<File Name=\"Game.exe\" Path=\"/home/zorvanhost/www/game/Game.exe\" MD5=\""
                   + md5Hex(kNew).toUpper().toLatin1() + "\" SHA1=\"" + sha1Hex(kNew).toUpper().toLatin1() + "\"/>")
        << v2 << QStringList{v, m, g100, kFinished} << kNew << "fetched (and again at every synchronisation)";
    QTest::newRow("missing attributes")
        << listing("<File Name=\"Game.exe\" Path=\"/home/zorvanhost/www/game/Game.exe\" MD5=\"" + md5Hex(kNew).toLatin1()
                   + "\"/>" + entry("Extra.dat", "/home/zorvanhost/www/game/Extra.dat", "extra"))
        << v2 << QStringList{v, m, dl(QStringLiteral("100.00"), QStringLiteral("Extra.dat")), kFinished} << kOld
        << "incomplete entry skipped, the next one fetched";
    QTest::newRow("path climbing with ..")
        << listing(entry("escape.txt", "/home/zorvanhost/www/game/../../escape.txt", "x") + gameEntry()) << v2
        << QStringList{v, m, g100, kFinished} << kNew << "climbing entry refused, nothing outside";
    QTest::newRow("name climbing with ..")
        << listing(entry("../escape.txt", "/home/zorvanhost/www/game/../escape.txt", "x") + gameEntry()) << v2
        << QStringList{v, m, g100, kFinished} << kNew << "climbing entry refused, nothing outside";
    QTest::newRow("absolute path")
        << listing(entry("passwd", "/etc/passwd", "x") + gameEntry()) << v2 << QStringList{v, m, g100, kFinished} << kNew
        << "absolute entry refused";
    QTest::newRow("backslashes")
        << listing(entry("win.dat", "/home/zorvanhost/www/game/Data\\win.dat", "w") + gameEntry()) << v2
        << QStringList{v, m, dl(QStringLiteral("50.00"), QStringLiteral("win.dat")), e006, g100, kFinished} << kNew
        << "nginx has no such file: 006, the rest goes on";
    QTest::newRow("non-ASCII names")
        << listing(entry("Écran d'accueil ☃.png", "/home/zorvanhost/www/game/Données/Écran d'accueil ☃.png", "snow"))
        << v2 << QStringList{v, m, dl(QStringLiteral("100.00"), QStringLiteral("Écran d'accueil ☃.png")), kFinished}
        << kOld << "stored under its UTF-8 name";
    QTest::newRow("entry answering 404")
        << listing(entry("lost.dat", "/home/zorvanhost/www/game/gone/lost.dat", "l") + gameEntry()) << v2
        << QStringList{v, m, dl(QStringLiteral("50.00"), QStringLiteral("lost.dat")), e006, g100, kFinished} << kNew
        << "006, the rest goes on";
    QTest::newRow("entry answering 500")
        << listing(entry("bad.dat", "/home/zorvanhost/www/game/broken/bad.dat", "b") + gameEntry()) << v2
        << QStringList{v, m, dl(QStringLiteral("50.00"), QStringLiteral("bad.dat")), e006, g100, kFinished} << kNew
        << "006, the rest goes on";
    QTest::newRow("entry redirecting in a loop")
        << listing(entry("spin.dat", "/home/zorvanhost/www/game/loop/spin.dat", "s") + gameEntry()) << v2
        << QStringList{v, m, dl(QStringLiteral("50.00"), QStringLiteral("spin.dat")), e006, g100, kFinished} << kNew
        << "006 after the redirect limit, the rest goes on";
    QTest::newRow("version.txt 64 MiB") << listing(gameEntry()) << QByteArray(64 * 1024 * 1024, 'V')
                                        << QStringList{v, m, g100, kFinished} << kNew << "compared whole, recorded";
    QTest::newRow("version.txt binary") << listing(gameEntry()) << QByteArray("\0\x01\xff\xfe\r\n\0", 7)
                                        << QStringList{v, m, g100, kFinished} << kNew << "compared as bytes, recorded";
}

void BadInputTest::badServerAnswers()
{
    QFETCH(QByteArray, manifest);
    QFETCH(QByteArray, version);
    QFETCH(QStringList, expected);
    QFETCH(QByteArray, gameAfter);
    QFETCH(QString, disk);

    QDir(m_nginx.gameDir()).removeRecursively();
    m_nginx.write(QStringLiteral("version.txt"), version);
    m_nginx.write(QStringLiteral("file_listing.xml"), manifest);
    m_nginx.write(QStringLiteral("Game.exe"), kNew);
    m_nginx.write(QStringLiteral("Extra.dat"), "extra");
    m_nginx.write(QStringLiteral("Données/Écran d'accueil ☃.png"), "snow");
    m_nginx.writeServed(QStringLiteral("escape.txt"), "x");
    m_nginx.writeServed(QStringLiteral("passwd"), "x");
    IsolatedSettings settings;
    Installation install;
    install.write(QStringLiteral("Game.exe"), kOld);
    install.write(QStringLiteral("localversion.txt"), "1\n");

    int playOk = 0;
    const QStringList shown = runIn(install, &playOk);
    printRow(QString::fromLatin1(QTest::currentDataTag()), shown, disk);

    QCOMPARE(shown, expected);
    QVERIFY(playOk >= 1);
    QCOMPARE(install.read(QStringLiteral("Game.exe")), gameAfter);
    QCOMPARE(install.read(QStringLiteral("localversion.txt")), version);
    QVERIFY(!install.exists(QStringLiteral("version.txt")));
    QCOMPARE(install.besideInstallation(), QStringList());
    for (const QString &file : install.files().keys())
        QVERIFY2(!file.contains(QLatin1String("escape")) && !file.contains(QLatin1String("passwd")), qPrintable(file));
}

// A game directory on a tmpfs too small for the new file.
void BadInputTest::fullDisk()
{
    Installation install;
    install.write(QStringLiteral("Data/Map.dat"), kOld);
    install.write(QStringLiteral("localversion.txt"), "1\n");
    const QByteArray big = patternBytes(256 * 1024, 7);
    QDir(m_nginx.gameDir()).removeRecursively();
    m_nginx.write(QStringLiteral("version.txt"), "2\n");
    m_nginx.write(QStringLiteral("Data/Map.dat"), big);
    m_nginx.write(QStringLiteral("file_listing.xml"), manifestFor({{QStringLiteral("Data/Map.dat"), big}}));
    const QByteArray data = QFile::encodeName(install.file(QStringLiteral("Data")));
    // 128 KiB: the old file fits, the new one does not.
    if (::mount("tmpfs", data.constData(), "tmpfs", 0, "size=128k") != 0)
        QSKIP("cannot mount a tmpfs here (needs root)");
    auto unmount = qScopeGuard([&data] { ::umount(data.constData()); });
    install.write(QStringLiteral("Data/Map.dat"), kOld);
    IsolatedSettings settings;

    const QStringList shown = runIn(install);
    const FileMap inData = snapshot(install.file(QStringLiteral("Data")));
    printRow(QStringLiteral("full disk (128 KiB tmpfs, 256 KiB file)"), shown,
             QStringLiteral("old file kept whole, %1 file(s) in the directory").arg(inData.size()));

    QCOMPARE(shown, (QStringList{dl(QStringLiteral("version.txt")), dl(QStringLiteral("file_listing.xml")),
                                 dl(QStringLiteral("100.00"), QStringLiteral("Map.dat")),
                                 QStringLiteral("Error when writing file (007). Local version available."), kFinished}));
    QCOMPARE(inData, (FileMap{{QStringLiteral("Map.dat"), kOld}}));
    QCOMPARE(install.read(QStringLiteral("localversion.txt")), QByteArray("2\n"));
}

// A game file that is a link to /dev/full: never opened as a file.
void BadInputTest::deviceInPlaceOfAGameFile()
{
    Installation install;
    install.write(QStringLiteral("localversion.txt"), "1\n");
    QDir(m_nginx.gameDir()).removeRecursively();
    m_nginx.write(QStringLiteral("version.txt"), "2\n");
    m_nginx.write(QStringLiteral("Game.exe"), kNew);
    m_nginx.write(QStringLiteral("file_listing.xml"), manifestFor({{QStringLiteral("Game.exe"), kNew}}));
    QVERIFY(QFile::link(QStringLiteral("/dev/full"), install.file(QStringLiteral("Game.exe"))));
    IsolatedSettings settings;

    const QStringList shown = runIn(install);
    printRow(QStringLiteral("game file is a link to /dev/full"), shown, QStringLiteral("link left as it was"));

    QCOMPARE(shown, (QStringList{dl(QStringLiteral("version.txt")), dl(QStringLiteral("file_listing.xml")),
                                 dl(QStringLiteral("100.00"), QStringLiteral("Game.exe")),
                                 QStringLiteral("Error when opening file (007). Local version available."), kFinished}));
    QCOMPARE(QFileInfo(install.file(QStringLiteral("Game.exe"))).symLinkTarget(), QStringLiteral("/dev/full"));
}

// Root ignores permission bits; the immutable attribute holds even for it.
void BadInputTest::readOnlyInstallation()
{
    Installation install;
    install.write(QStringLiteral("Game.exe"), kOld);
    install.write(QStringLiteral("localversion.txt"), "1\n");
    QDir(m_nginx.gameDir()).removeRecursively();
    m_nginx.write(QStringLiteral("version.txt"), "2\n");
    m_nginx.write(QStringLiteral("Game.exe"), kNew);
    m_nginx.write(QStringLiteral("file_listing.xml"), manifestFor({{QStringLiteral("Game.exe"), kNew}}));
    if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), install.path()}) != 0)
        QSKIP("chattr +i is not available here");
    auto writable = qScopeGuard([&install] { QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), install.path()}); });
    const FileMap before = install.files();
    IsolatedSettings settings;

    const QStringList shown = runIn(install);
    printRow(QStringLiteral("read-only installation (chattr +i)"), shown, QStringLiteral("unchanged"));

    QCOMPARE(shown, (QStringList{dl(QStringLiteral("version.txt")),
                                 QStringLiteral("Error when opening file (005). Local version available."),
                                 QStringLiteral("Error in the update manifesto (009).")}));
    QCOMPARE(install.files(), before);
}

QTEST_GUILESS_MAIN(BadInputTest)
#include "tst_e2e_badinput.moc"
