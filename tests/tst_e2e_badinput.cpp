// Whole update runs in which one game file cannot be had: the run goes on
// with the next file, keeps the old file whole, and records the version.
// Each row is printed as a line of the bad-input table.

#include "support/fsfixtures.h"
#include "support/testenv.h"
#include "updater/gameupdater.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

class BadInputTest : public QObject
{
    Q_OBJECT

private slots:
    void oneFileFails_data()
    {
        QTest::addColumn<QString>("error");
        QTest::newRow("Map.dat redirects to itself") << "Download error (006)";
        // The body fills the disk as it arrives, or only as it is copied to
        // the file system of its directory.
        QTest::newRow("disk full (installation on a 160 KiB tmpfs, 256 KiB file)") << "Error when writing file (007)";
        QTest::newRow("disk full (Data on a 128 KiB tmpfs, 256 KiB file)") << "Error when writing file (007)";
        // Hashing it would never end; writing through it would reach a device.
        QTest::newRow("Map.dat is a link to /dev/full") << "Error when opening file (007)";
    }
    void oneFileFails();
};

void BadInputTest::oneFileFails()
{
    QFETCH(QString, error);
    const QString fault = QString::fromLatin1(QTest::currentDataTag());
    TempInstallation install;
    ServedTree served;
    const QByteArray map(256 * 1024, 'n'), old = "map of version 1";
    served.write("version.txt", "2\n");
    served.write("Data/Map.dat", map);
    served.write("Game.exe", "game 2");
    served.write("file_listing.xml", manifestFor({{"Data/Map.dat", map}, {"Game.exe", "game 2"}}));
    const QString mounted = fault.contains("installation") ? install.path() : install.absolute("Data");
    QVERIFY(QDir().mkpath(mounted));
    auto unmount = qScopeGuard([&] { fsfixtures::unmount(mounted); }); // where nothing is mounted, nothing happens
    // The old files fit, the new Map.dat does not.
    if (fault.contains("disk full") && !fsfixtures::mountTiny(mounted, fault.contains("installation") ? "160k" : "128k"))
        QSKIP("cannot mount a tmpfs here (needs root on Linux)");
    QDir::setCurrent(install.path());
    install.write("Game.exe", "game 1");
    install.write("localversion.txt", "1\n");
    install.write("Data/Map.dat", old);
    if (fault.contains("redirects")) {
        updateServer().setBehaviour("/game/Data/Map.dat", LoopbackHttpServer::Behaviour::RedirectLoop);
    } else if (fault.contains("/dev/full")) {
        if (!fsfixtures::symbolicLinksAvailable())
            QSKIP("no /dev/full to link to here");
        QVERIFY(QFile::remove("Data/Map.dat") && QFile::link("/dev/full", "Data/Map.dat"));
    }

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    updater.checkUpdate();
    printf("BADINPUT| %s | %s |\n", qPrintable(fault), qPrintable(texts(infos).join(" / ")));
    QCOMPARE(texts(infos),
             (QStringList{"Downloading  version.txt...", "Downloading  file_listing.xml...", "Downloading (50.00%) Map.dat...",
                          error + ". Local version available.", "Downloading (100.00%) Game.exe...",
                          "Update finished. You have the latest version."}));
    // The old file (or link) is left as it was, with nothing beside it.
    QCOMPARE(install.files(), (QStringList{"Data/Map.dat", "Game.exe", "file_listing.xml", "localversion.txt"}));
    QCOMPARE(QFileInfo("Data/Map.dat").isSymLink() ? QFile::symLinkTarget("Data/Map.dat").toUtf8() : install.read("Data/Map.dat"),
             fault.contains("/dev/full") ? QByteArray("/dev/full") : old);
    QCOMPARE(install.read("Game.exe"), QByteArray("game 2"));
    QCOMPARE(install.read("localversion.txt"), QByteArray("2\n"));
}

QTEST_GUILESS_MAIN(BadInputTest)
#include "tst_e2e_badinput.moc"
