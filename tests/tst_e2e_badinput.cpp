// Whole update runs of the engine, in-process, against nginx serving bad
// manifests and version files, and against an installation that cannot be
// written. Each case prints the status texts shown and what is on disk as a
// row of the bad-input table; Play must be enabled at the end.

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
const QString kGame = QStringLiteral("/home/zorvanhost/www/game/");

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
    return entry(QStringLiteral("Game.exe"), kGame + QStringLiteral("Game.exe"), kNew);
}

// A download's status text; the version files' show no percentage.
QString dl(const QString &name, const QString &percent = QString())
{
    return (percent.isEmpty() ? QStringLiteral("Downloading  ") : "Downloading (" + percent + "%) ") + name + "...";
}
const QString kFinished = QStringLiteral("Update finished. You have the latest version.");

} // namespace

class BadInputTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { m_nginx.stop(); }

    void badServerAnswers_data();
    void badServerAnswers();
    void unwritableInstallation_data();
    void unwritableInstallation();

private:
    // One update run in `install`, printed as a row of the table with
    // `disk`; returns the status texts.
    QStringList runIn(const Installation &install, const QString &disk);

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

QStringList BadInputTest::runIn(const Installation &install, const QString &disk)
{
    IsolatedSettings settings;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(install.path());
    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    QSignalSpy playOk(&updater, &GameUpdater::playOk);
    updater.checkUpdate();
    QDir::setCurrent(previous);
    // A run that never enables Play says so in its row, and fails there.
    const QStringList shown = playOk.isEmpty() ? QStringList{QStringLiteral("Play never enabled")} : texts(infos);
    printf("BADINPUT| %s | %s | %s |\n", QTest::currentDataTag(), qPrintable(shown.join(QStringLiteral(" / "))), qPrintable(disk));
    fflush(stdout);
    return shown;
}

void BadInputTest::badServerAnswers_data()
{
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<QStringList>("texts"); // between the manifest's download and the end
    QTest::addColumn<QByteArray>("gameAfter");
    QTest::addColumn<QString>("disk");
    QTest::addColumn<QByteArray>("version");
    const auto row = [](const char *fault, const QByteArray &manifest, const QStringList &texts, const QByteArray &gameAfter,
                        const char *disk, const QByteArray &version = "2\n") {
        QTest::newRow(fault) << manifest << texts << gameAfter << QString::fromUtf8(disk) << version;
    };
    const QStringList e010{QStringLiteral("Error in the update manifesto. (010)")};
    const QStringList g100{dl("Game.exe", "100.00")};
    // A first entry that fails with 006, then Game.exe all the same.
    const auto failed = [&g100](const QString &name) {
        return QStringList{dl(name, "50.00"), QStringLiteral("Download error (006). Local version available.")} + g100;
    };
    const QByteArray md5 = md5Hex(kNew).toLatin1();
    const QByteArray sha1 = sha1Hex(kNew).toLatin1();
    const char *unexamined = "nothing examined, version recorded";
    const char *refused = "climbing entry refused, nothing outside";

    row("manifest not XML", "this is { not xml }", e010, kOld, unexamined);
    row("manifest without any element", "<?xml version=\"1.0\"?>\n<!-- nothing published -->\n",
        {QStringLiteral("Error in the update manifesto. (011)")}, kOld, unexamined);
    row("manifest markup garbage", "<<<>>>", e010, kOld, unexamined);
    row("manifest blank", " \n\t\n", e010, kOld, unexamined);
    row("manifest 0 bytes", QByteArray(), e010, kOld, unexamined);
    row("manifest truncated mid-element", listing(gameEntry()).left(60), e010, kOld, unexamined);
    row("manifest root without File", "<Files><Other/></Files>", {}, kOld, "nothing examined");
    row("uppercase digests", listing(gameEntry().replace(md5, md5.toUpper()).replace(sha1, sha1.toUpper())), g100, kNew,
        "fetched (and again at every synchronisation)");
    row("missing attributes", listing(gameEntry().replace(" SHA1=\"" + sha1 + '"', "") + entry("Extra.dat", kGame + "Extra.dat", "extra")),
        {dl("Extra.dat", "100.00")}, kOld, "incomplete entry skipped, the next one fetched");
    row("path climbing with ..", listing(entry("escape.txt", kGame + "../../escape.txt", "x") + gameEntry()), g100, kNew, refused);
    row("name climbing with ..", listing(entry("../escape.txt", kGame + "../escape.txt", "x") + gameEntry()), g100, kNew, refused);
    row("absolute path", listing(entry("passwd", "/etc/passwd", "x") + gameEntry()), g100, kNew, "absolute entry refused");
    row("backslashes", listing(entry("win.dat", kGame + "Data\\win.dat", "w") + gameEntry()), failed("win.dat"), kNew,
        "nginx has no such file: 006, the rest goes on");
    row("non-ASCII names", listing(entry("Écran d'accueil ☃.png", kGame + "Données/Écran d'accueil ☃.png", "snow")),
        {dl("Écran d'accueil ☃.png", "100.00")}, kOld, "stored under its UTF-8 name");
    row("entry answering 404", listing(entry("lost.dat", kGame + "gone/lost.dat", "l") + gameEntry()), failed("lost.dat"), kNew,
        "006, the rest goes on");
    row("entry answering 500", listing(entry("bad.dat", kGame + "broken/bad.dat", "b") + gameEntry()), failed("bad.dat"), kNew,
        "006, the rest goes on");
    row("entry redirecting in a loop", listing(entry("spin.dat", kGame + "loop/spin.dat", "s") + gameEntry()), failed("spin.dat"),
        kNew, "006 after the redirect limit, the rest goes on");
    row("version.txt 64 MiB", listing(gameEntry()), g100, kNew, "compared whole, recorded", QByteArray(64 * 1024 * 1024, 'V'));
    row("version.txt binary", listing(gameEntry()), g100, kNew, "compared as bytes, recorded", QByteArray("\0\x01\xff\xfe\r\n\0", 7));
}

void BadInputTest::badServerAnswers()
{
    QFETCH(QByteArray, manifest);
    QFETCH(QStringList, texts);
    QFETCH(QByteArray, gameAfter);
    QFETCH(QString, disk);
    QFETCH(QByteArray, version);

    QDir(m_nginx.servedRoot()).removeRecursively();
    m_nginx.write(QStringLiteral("version.txt"), version);
    m_nginx.write(QStringLiteral("file_listing.xml"), manifest);
    m_nginx.write(QStringLiteral("Game.exe"), kNew);
    m_nginx.write(QStringLiteral("Extra.dat"), "extra");
    m_nginx.write(QStringLiteral("Données/Écran d'accueil ☃.png"), "snow");
    // Where a climbing entry would lead on the server.
    m_nginx.writeServed(QStringLiteral("escape.txt"), "x");
    m_nginx.writeServed(QStringLiteral("passwd"), "x");
    Installation install;
    install.write(QStringLiteral("Game.exe"), kOld);
    install.write(QStringLiteral("localversion.txt"), "1\n");

    const QStringList shown = runIn(install, disk);

    QCOMPARE(shown, (QStringList{dl("version.txt"), dl("file_listing.xml")} + texts << kFinished));
    QCOMPARE(install.read(QStringLiteral("Game.exe")), gameAfter);
    QCOMPARE(install.read(QStringLiteral("localversion.txt")), version);
    QVERIFY(!install.exists(QStringLiteral("version.txt")));
    QCOMPARE(install.besideInstallation(), QStringList());
    // Every other file is the one the server has at its path, under that name.
    FileMap files = install.files();
    files.remove(QStringLiteral("Game.exe"));
    files.remove(QStringLiteral("localversion.txt"));
    for (auto it = files.begin(); it != files.end(); ++it)
        QVERIFY2(it.value() == readFileAt(m_nginx.gameDir() + '/' + it.key()), qPrintable(it.key()));
}

void BadInputTest::unwritableInstallation_data()
{
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("disk");
    const QStringList fetched{dl("version.txt"), dl("file_listing.xml"), dl("Map.dat", "100.00")};
    QTest::newRow("full disk (128 KiB tmpfs, 256 KiB file)")
        << fetched + QStringList{"Error when writing file (007). Local version available.", kFinished}
        << "old file kept whole, alone in its directory";
    QTest::newRow("game file is a link to /dev/full")
        << fetched + QStringList{"Error when opening file (007). Local version available.", kFinished} << "link left as it was";
    QTest::newRow("read-only installation (chattr +i)")
        << QStringList{dl("version.txt"), "Error when opening file (005). Local version available.",
                       "Error in the update manifesto (009)."}
        << "unchanged";
}

// A server with a new Data/Map.dat; the installation cannot take it.
void BadInputTest::unwritableInstallation()
{
    QFETCH(QStringList, expected);
    QFETCH(QString, disk);
    const QString fault = QString::fromLatin1(QTest::currentDataTag());
    const QString map = QStringLiteral("Data/Map.dat");
    const QByteArray big = patternBytes(256 * 1024, 7);
    QDir(m_nginx.servedRoot()).removeRecursively();
    m_nginx.write(QStringLiteral("version.txt"), "2\n");
    m_nginx.write(map, big);
    m_nginx.write(QStringLiteral("file_listing.xml"), manifestFor({{map, big}}));
    Installation install;
    install.write(map, kOld);
    install.write(QStringLiteral("localversion.txt"), "1\n");
    const QString dataDir = install.file(QStringLiteral("Data"));
    const QByteArray data = QFile::encodeName(dataDir);

    std::function<void()> undo = [] {};
    if (fault.startsWith(QLatin1String("full disk"))) {
        // 128 KiB: the old file fits, the new one does not.
        if (::mount("tmpfs", data.constData(), "tmpfs", 0, "size=128k") != 0)
            QSKIP("cannot mount a tmpfs here (needs root)");
        undo = [data] { ::umount(data.constData()); };
        install.write(map, kOld);
    } else if (fault.contains(QLatin1String("/dev/full"))) {
        // Never to be opened as a file.
        QVERIFY(QFile::remove(install.file(map)) && QFile::link(QStringLiteral("/dev/full"), install.file(map)));
    } else {
        // Root ignores permission bits; the immutable attribute holds even for it.
        if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), install.path()}) != 0)
            QSKIP("chattr +i is not available here");
        undo = [&install] { QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), install.path()}); };
    }
    auto cleanup = qScopeGuard([&undo] { undo(); });

    QCOMPARE(runIn(install, disk), expected);
    // The old file is whole, and nothing of the new one is left beside it.
    QCOMPARE(QDir(dataDir).entryList(QDir::Files | QDir::System | QDir::Hidden), QStringList{QStringLiteral("Map.dat")});
    if (fault.contains(QLatin1String("/dev/full")))
        QCOMPARE(QFileInfo(install.file(map)).symLinkTarget(), QStringLiteral("/dev/full"));
    else
        QCOMPARE(install.read(map), kOld);
    QCOMPARE(install.read(QStringLiteral("localversion.txt")), QByteArray(expected.last() == kFinished ? "2\n" : "1\n"));
    QVERIFY(!install.exists(QStringLiteral("version.txt")));
}

QTEST_GUILESS_MAIN(BadInputTest)
#include "tst_e2e_badinput.moc"
