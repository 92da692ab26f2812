// Digests of local files and the check of one file against expected digests.

#include "support/testenv.h"
#include "updater/gameupdater.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

using Behaviour = LoopbackHttpServer::Behaviour;

namespace {

// The debug lines of hashing `path` twice: MD5, then SHA-1.
QStringList hashLines(const QString &path)
{
    return QStringList{"Vérification du hash de " + path, "Vérification du hash de " + path};
}

} // namespace

class ChecksumTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { updateServer(); }

    // `path` is relative to the installation, or "<absolute>" for the
    // absolute path of Data/file.bin. An unreadable file has empty digests.
    void digests_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("md5");
        QTest::addColumn<QString>("sha1");
        QTest::newRow("zero bytes") << "Data/file.bin" << QByteArray() << "d41d8cd98f00b204e9800998ecf8427e"
                                    << "da39a3ee5e6b4b0d3255bfef95601890afd80709";
        QTest::newRow("known text") << "Data/file.bin" << QByteArray("The quick brown fox jumps over the lazy dog")
                                    << "9e107d9d372bb6826bd81d3542a419d6" << "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12";
        // Read in binary mode: carriage returns and NULs are hashed as they are.
        const QByteArray binary("a\r\nb\0c\r", 7);
        QTest::newRow("binary, CR kept") << "Data/file.bin" << binary << md5Hex(binary) << sha1Hex(binary);
        // Several MiB without a repeated block: a block lost or read twice
        // changes the digest.
        QByteArray big;
        for (int i = 0; big.size() < 5 * 1024 * 1024; ++i)
            big += QByteArray::number(i);
        QTest::newRow("several MiB") << "Data/file.bin" << big << md5Hex(big) << sha1Hex(big);
        QTest::newRow("absolute path") << "<absolute>" << QByteArray("abc") << "900150983cd24fb0d6963f7d28e17f72"
                                       << "a9993e364706816aba3e25717850c26c9cd0d89d";
        QTest::newRow("missing") << "Data/absent.bin" << QByteArray("x") << QString() << QString();
        QTest::newRow("a directory") << "Data" << QByteArray("x") << QString() << QString();
    }

    void digests()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, content);
        QFETCH(QString, md5);
        QFETCH(QString, sha1);
        TempInstallation install;
        install.write("Data/file.bin", content);
        if (path == "<absolute>")
            path = install.absolute("Data/file.bin");

        GameUpdater updater;
        DebugCapture debug;
        QCOMPARE(updater.fileChecksum(path, QCryptographicHash::Md5), md5);
        QCOMPARE(updater.fileChecksum(path, QCryptographicHash::Sha1), sha1);
        QCOMPARE(debug.lines(), hashLines(path));
    }

    // The file is checked under its full URL, as a download needs it: the
    // local copy then lies at the URL-shaped path ("//" collapses to one
    // separator), and a download stores the body under "x.dat". The last row
    // gives the local path instead, which hashes but cannot be fetched.
    void checkFileDecision_data()
    {
        const QByteArray local = "local bytes";
        const QString md5 = md5Hex(local);
        const QString sha1 = sha1Hex(local);
        const QString checking = "Checking %1...";
        const QString downloading = "Downloading  x.dat...";
        const QString error004 = "Download error (004). Local version available.";
        const QByteArray served = "server bytes";
        const QByteArray untouched = "previous x.dat";

        QTest::addColumn<bool>("viaUrl");
        QTest::addColumn<bool>("hasLocal");
        QTest::addColumn<QString>("md5");
        QTest::addColumn<QString>("sha1");
        QTest::addColumn<bool>("serverFails");
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<QByteArray>("stored");

        const QStringList fetched{checking, downloading, "Done"};
        QTest::newRow("both match") << true << true << md5 << sha1 << false << QStringList{checking, "Done"} << untouched;
        QTest::newRow("MD5 alone matches") << true << true << md5 << md5Hex("other") << false << fetched << served;
        QTest::newRow("SHA-1 alone matches") << true << true << md5Hex("other") << sha1 << false << fetched << served;
        QTest::newRow("uppercase digests") << true << true << md5.toUpper() << sha1.toUpper() << false << fetched << served;
        QTest::newRow("missing, both expected empty")
            << true << false << "" << "" << false << QStringList{checking, "Done"} << untouched;
        QTest::newRow("missing, digests expected") << true << false << md5 << sha1 << false << fetched << served;
        QTest::newRow("present, both expected empty") << true << true << "" << "" << false << fetched << served;
        QTest::newRow("download fails, Done still last")
            << true << true << md5.toUpper() << sha1 << true << QStringList{checking, downloading, error004, "Done"}
            << untouched;
        QTest::newRow("local path, differs") << false << true << md5.toUpper() << sha1 << false
                                             << QStringList{checking, downloading, error004, "Done"} << local;
    }

    void checkFileDecision()
    {
        QFETCH(bool, viaUrl);
        QFETCH(bool, hasLocal);
        QFETCH(QString, md5);
        QFETCH(QString, sha1);
        QFETCH(bool, serverFails);
        QFETCH(QStringList, statuses);
        QFETCH(QByteArray, stored);
        TempInstallation install;
        ServedTree served;
        served.write("x.dat", "server bytes");
        if (serverFails)
            updateServer().setBehaviour("/game/x.dat", Behaviour::NotFound);
        const QString checked = viaUrl ? served.url("x.dat") : QString("x.dat");
        install.write("x.dat", "previous x.dat");
        if (hasLocal)
            install.write(QDir::cleanPath(checked), "local bytes");
        updateServer().clearRequests();

        GameUpdater updater;
        QSignalSpy infos(&updater, &GameUpdater::infos);
        DebugCapture debug;
        updater.checkFile(checked, md5, sha1);

        statuses[0] = statuses[0].arg(checked);
        QCOMPARE(texts(infos), statuses);
        QCOMPARE(install.read("x.dat"), stored);
        const bool requested = viaUrl && statuses.contains("Downloading  x.dat...");
        QCOMPARE(updateServer().requests(), requested ? QStringList{"/game/x.dat"} : QStringList());
        // Both digests are of the text as given.
        QCOMPARE(debug.lines().mid(0, 2), hashLines(checked));
        if (hasLocal)
            QCOMPARE(install.read(QDir::cleanPath(checked)), QByteArray("local bytes"));
    }
};

QTEST_MAIN(ChecksumTest)
#include "tst_checksum.moc"
