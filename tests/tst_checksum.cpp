// Digests of local files and the check of one file against expected digests.

#include "support/testenv.h"
#include "updater/gameupdater.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

using Behaviour = LoopbackHttpServer::Behaviour;

namespace {

QStringList twice(const QString &line)
{
    return QStringList{line, line};
}

// A file of several MiB whose bytes are not one repeated value, so that a
// lost or repeated block changes the digest.
QByteArray patterned(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        data[i] = char(x & 0xff);
    }
    return data;
}

// Where a full URL given as a local path points on disk: the toolkit opens
// the text as it stands, and "//" collapses to one separator.
QString urlShapedPath(const QString &url)
{
    return QDir::cleanPath(url);
}

} // namespace

class ChecksumTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { updateServer(); }

    void digestsOfFiles_data();
    void digestsOfFiles();
    void unreadableGivesEmpty_data();
    void unreadableGivesEmpty();
    void checkFileDecision_data();
    void checkFileDecision();
    void checkFileWithLocalPath();
};

void ChecksumTest::digestsOfFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("md5");
    QTest::addColumn<QString>("sha1");
    QTest::addColumn<bool>("absolute");
    QTest::newRow("zero bytes") << QByteArray() << "d41d8cd98f00b204e9800998ecf8427e"
                                << "da39a3ee5e6b4b0d3255bfef95601890afd80709" << false;
    QTest::newRow("known text") << QByteArray("The quick brown fox jumps over the lazy dog")
                                << "9e107d9d372bb6826bd81d3542a419d6"
                                << "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12" << false;
    // Read in binary mode: carriage returns and NULs are hashed as they are.
    const QByteArray binary("a\r\nb\0c\r", 7);
    QTest::newRow("binary, CR kept") << binary << md5Hex(binary) << sha1Hex(binary) << false;
    const QByteArray big = patterned(5 * 1024 * 1024 + 123);
    QTest::newRow("several MiB") << big << md5Hex(big) << sha1Hex(big) << false;
    QTest::newRow("absolute path") << QByteArray("abc") << "900150983cd24fb0d6963f7d28e17f72"
                                   << "a9993e364706816aba3e25717850c26c9cd0d89d" << true;
}

void ChecksumTest::digestsOfFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, md5);
    QFETCH(QString, sha1);
    QFETCH(bool, absolute);
    TempInstallation install;
    install.write("Data/file.bin", content);
    const QString path = absolute ? install.absolute("Data/file.bin") : QString("Data/file.bin");

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    DebugCapture debug;
    const QString gotMd5 = updater.fileChecksum(path, QCryptographicHash::Md5);
    const QString gotSha1 = updater.fileChecksum(path, QCryptographicHash::Sha1);

    QCOMPARE(gotMd5, md5);
    QCOMPARE(gotSha1, sha1);
    QCOMPARE(gotMd5, gotMd5.toLower());
    QCOMPARE(debug.lines(), twice("Vérification du hash de " + path));
    QCOMPARE(infos.count(), 0);
    QCOMPARE(install.read("Data/file.bin"), content);
}

void ChecksumTest::unreadableGivesEmpty_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing") << "Data/absent.bin";
    QTest::newRow("missing directory") << "Nowhere/absent.bin";
    QTest::newRow("a directory") << "Data";
}

void ChecksumTest::unreadableGivesEmpty()
{
    QFETCH(QString, path);
    TempInstallation install;
    install.write("Data/present.bin", "x");

    GameUpdater updater;
    DebugCapture debug;
    const QString md5 = updater.fileChecksum(path, QCryptographicHash::Md5);
    const QString sha1 = updater.fileChecksum(path, QCryptographicHash::Sha1);

    QVERIFY(md5.isEmpty());
    QVERIFY(sha1.isEmpty());
    QCOMPARE(debug.lines(), twice("Vérification du hash de " + path));
    QCOMPARE(install.files(), QStringList{"Data/present.bin"});
}

void ChecksumTest::checkFileDecision_data()
{
    // The file is checked under its full URL: the local copy then lies at the
    // URL-shaped path, and a download stores the body under "x.dat".
    const QByteArray local = "local bytes";
    const QString md5 = md5Hex(local);
    const QString sha1 = sha1Hex(local);
    const QString otherMd5 = md5Hex("other");
    const QString otherSha1 = sha1Hex("other");
    const QString checking = "Checking %1...";
    const QString downloading = "Downloading  x.dat...";

    QTest::addColumn<bool>("hasLocal");
    QTest::addColumn<QString>("md5");
    QTest::addColumn<QString>("sha1");
    QTest::addColumn<bool>("serverFails");
    QTest::addColumn<QStringList>("statuses");
    QTest::addColumn<QByteArray>("stored");

    const QByteArray served = "server bytes";
    const QByteArray untouched = "previous x.dat";
    QTest::newRow("both match") << true << md5 << sha1 << false << QStringList{checking, "Done"} << untouched;
    QTest::newRow("MD5 alone matches") << true << md5 << otherSha1 << false
                                       << QStringList{checking, downloading, "Done"} << served;
    QTest::newRow("SHA-1 alone matches") << true << otherMd5 << sha1 << false
                                         << QStringList{checking, downloading, "Done"} << served;
    QTest::newRow("uppercase digests") << true << md5.toUpper() << sha1.toUpper() << false
                                       << QStringList{checking, downloading, "Done"} << served;
    QTest::newRow("missing, both expected empty") << false << "" << "" << false << QStringList{checking, "Done"}
                                                  << untouched;
    QTest::newRow("missing, digests expected") << false << md5 << sha1 << false
                                               << QStringList{checking, downloading, "Done"} << served;
    QTest::newRow("present, both expected empty") << true << "" << "" << false
                                                  << QStringList{checking, downloading, "Done"} << served;
    QTest::newRow("download fails, Done still last")
        << true << otherMd5 << otherSha1 << true
        << QStringList{checking, downloading, "Download error (004). Local version available.", "Done"} << untouched;
}

void ChecksumTest::checkFileDecision()
{
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
    const QString url = served.url("x.dat");
    if (hasLocal)
        install.write(urlShapedPath(url), "local bytes");
    install.write("x.dat", "previous x.dat");
    updateServer().clearRequests();

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    DebugCapture debug;
    updater.checkFile(url, md5, sha1);

    statuses[0] = statuses[0].arg(url);
    QCOMPARE(texts(infos), statuses);
    QCOMPARE(install.read("x.dat"), stored);
    const bool downloaded = statuses.contains("Downloading  x.dat...");
    QCOMPARE(updateServer().requests(), downloaded ? QStringList{"/game/x.dat"} : QStringList());
    // MD5 first, then SHA-1, each of the text as given.
    QCOMPARE(debug.lines().mid(0, 2), twice("Vérification du hash de " + url));
    if (hasLocal)
        QCOMPARE(install.read(urlShapedPath(url)), QByteArray("local bytes"));
}

void ChecksumTest::checkFileWithLocalPath()
{
    // A local path hashes, but is no URL: the download it leads to fails, and
    // the file is left as it was.
    TempInstallation install;
    ServedTree served;
    install.write("Game.exe", "game");
    updateServer().clearRequests();

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    QSignalSpy playOk(&updater, &GameUpdater::playOk);
    updater.checkFile("Game.exe", md5Hex("game"), sha1Hex("game"));
    const QStringList matching = texts(infos);
    infos.clear();
    updater.checkFile("Game.exe", md5Hex("game").toUpper(), sha1Hex("game"));

    QCOMPARE(matching, (QStringList{"Checking Game.exe...", "Done"}));
    QCOMPARE(texts(infos), (QStringList{"Checking Game.exe...", "Downloading  Game.exe...",
                                        "Download error (004). Local version available.", "Done"}));
    QCOMPARE(playOk.count(), 1);
    QCOMPARE(install.read("Game.exe"), QByteArray("game"));
    QCOMPARE(updateServer().requests(), QStringList());
}

QTEST_MAIN(ChecksumTest)
#include "tst_checksum.moc"
