// Starting the game (command lines, ".gameopts", detached start), the four
// graphics modes in the settings store, and the three community links.

#include "platform/lifecycle.h"
#include "platform/process.h"
#include "support/standin.h"
#include "support/testenv.h"
#include "updater/gameupdater.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

const QString kError008 = QStringLiteral("Unable to start Game.exe, please check your antivirus and repair files. (Error 008)");

// A started stand-in writes its record within moments; the machine is shared,
// so the wait is generous.
constexpr int kRecordTimeoutMs = 15000;
// How long a start that must not happen is given to show itself anyway.
constexpr int kNoStartGraceMs = 1000;

void storeGraphics(const QString& mode)
{
    QSettings settings;
    settings.setValue(QStringLiteral("graphics"), mode);
}

// Puts a directory in front of PATH for the life of the object.
class PathPrefix
{
public:
    explicit PathPrefix(const QString& directory) : m_previous(qgetenv("PATH"))
    {
        qputenv("PATH", QFile::encodeName(directory) + ':' + m_previous);
    }
    ~PathPrefix() { qputenv("PATH", m_previous); }

private:
    QByteArray m_previous;
};

// Records every URL handed to the desktop services for http and https, so
// that no browser is ever opened; the handlers are removed again with it.
class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    UrlRecorder()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
    }
    ~UrlRecorder() override
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }

    QStringList urls;

public slots:
    void open(const QUrl& url) { urls << url.toString(); }
};

QStringList settingsFileLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList linesStartingWith(const QStringList& lines, const QString& prefix)
{
    QStringList result;
    for (const QString& line : lines) {
        if (line.startsWith(prefix))
            result << line;
    }
    return result;
}

}  // namespace

class LaunchTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void commandLineAndOptionsFile_data();
    void commandLineAndOptionsFile();
    void missingGameStartsNothing_data();
    void missingGameStartsNothing();
    void gameOnPathIsNotStarted();
    void detachedStartLooksOnlyInWorkingDirectory();
    void executeBitIsAdded();
    void gameOutlivesTheLaunch();

    void graphicsSlotStoresMode_data();
    void graphicsSlotStoresMode();
    void clickingAgainWritesAgain();
    void setFullscreenSetsFlagOnly_data();
    void setFullscreenSetsFlagOnly();
    void storedModeReachesNextLaunch_data();
    void storedModeReachesNextLaunch();

    void linkOpensItsUrl_data();
    void linkOpensItsUrl();
};

void LaunchTest::cleanup()
{
    if (lifecycle::quitRequested())
        clearQuitRequest();
}

void LaunchTest::commandLineAndOptionsFile_data()
{
    QTest::addColumn<bool>("modeStored");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("optionsExist");
    QTest::addColumn<QByteArray>("optionsBefore");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("optionsAfter");

    QTest::newRow("fullscreen over scale 3") << true << "fullscreen" << true << QByteArray("--scale=3") << QStringList{"--fullscreen"}
                                             << QByteArray("--fullscreen");
    QTest::newRow("x2 over fullscreen") << true << "x2" << true << QByteArray("--fullscreen") << QStringList{"--scale=2"}
                                        << QByteArray("--scale=2");
    QTest::newRow("x3 over longer content") << true << "x3" << true << QByteArray("--scale=2\r\n--fullscreen\n# old\n")
                                            << QStringList{"--scale=3"} << QByteArray("--scale=3");
    QTest::newRow("normal keeps earlier option")
        << true << "normal" << true << QByteArray("--scale=3") << QStringList{} << QByteArray("--scale=3");
    QTest::newRow("no stored mode") << false << QString() << true << QByteArray("--scale=2") << QStringList{} << QByteArray("--scale=2");
    QTest::newRow("x1 has no row") << true << "x1" << true << QByteArray("--fullscreen") << QStringList{} << QByteArray("--fullscreen");
    QTest::newRow("capital F") << true << "Fullscreen" << true << QByteArray("--scale=2") << QStringList{} << QByteArray("--scale=2");
    QTest::newRow("capital X") << true << "X3" << true << QByteArray("--fullscreen") << QStringList{} << QByteArray("--fullscreen");
    QTest::newRow("trailing blank") << true << "x2 " << true << QByteArray("--fullscreen") << QStringList{} << QByteArray("--fullscreen");
    QTest::newRow("unknown value") << true << "windowed" << true << QByteArray("--scale=3") << QStringList{} << QByteArray("--scale=3");
    QTest::newRow("empty options stay empty, fullscreen")
        << true << "fullscreen" << true << QByteArray() << QStringList{"--fullscreen"} << QByteArray();
    QTest::newRow("empty options stay empty, x3") << true << "x3" << true << QByteArray() << QStringList{"--scale=3"} << QByteArray();
    QTest::newRow("missing options not created") << true << "x2" << false << QByteArray() << QStringList{"--scale=2"} << QByteArray();
}

void LaunchTest::commandLineAndOptionsFile()
{
    QFETCH(bool, modeStored);
    QFETCH(QString, mode);
    QFETCH(bool, optionsExist);
    QFETCH(QByteArray, optionsBefore);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, optionsAfter);

    IsolatedSettings isolated;
    TempInstallation install;
    QTemporaryDir records;
    const QString record = records.filePath("game.record");
    standin::writeGame(install.absolute("Game.exe"), record);
    if (optionsExist)
        install.write(".gameopts", optionsBefore);
    if (modeStored)
        storeGraphics(mode);
    const QStringList filesBefore = install.files();

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    updater.gameStart();

    QVERIFY(lifecycle::quitRequested());
    QCOMPARE(infos.count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(record), kRecordTimeoutMs);
    const standin::Record started = standin::read(record);
    QCOMPARE(started.arguments, arguments);
    QCOMPARE(started.workingDirectory, QFileInfo(install.path()).canonicalFilePath());

    QCOMPARE(install.exists(".gameopts"), optionsExist);
    if (optionsExist)
        QCOMPARE(install.read(".gameopts"), optionsAfter);
    // Nothing else written: no temporary file left beside ".gameopts".
    QCOMPARE(install.files(), filesBefore);
}

void LaunchTest::missingGameStartsNothing_data()
{
    QTest::addColumn<bool>("emptyGame");
    QTest::newRow("no Game.exe") << false;
    QTest::newRow("Game.exe of 0 bytes") << true;
}

void LaunchTest::missingGameStartsNothing()
{
    QFETCH(bool, emptyGame);

    IsolatedSettings isolated;
    TempInstallation install;
    QTemporaryDir elsewhere;
    // A game that could be found on PATH must not be taken instead.
    const QString pathRecord = elsewhere.filePath("path.record");
    standin::writeGame(elsewhere.filePath("Game.exe"), pathRecord);
    PathPrefix path(elsewhere.path());
    if (emptyGame) {
        install.write("Game.exe", QByteArray());
        QFile::setPermissions(install.absolute("Game.exe"), QFile::ReadOwner | QFile::WriteOwner);
    }
    install.write(".gameopts", "--scale=3");
    storeGraphics("fullscreen");
    const QStringList filesBefore = install.files();

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    updater.gameStart();

    QCOMPARE(texts(infos), QStringList{kError008});
    QVERIFY(!lifecycle::quitRequested());
    QCOMPARE(install.read(".gameopts"), QByteArray("--scale=3"));
    QCOMPARE(install.files(), filesBefore);
    // An attempted start would have given the file its execute bit.
    if (emptyGame)
        QVERIFY(!QFileInfo(install.absolute("Game.exe")).isExecutable());
    QTest::qWait(kNoStartGraceMs);
    QVERIFY(!QFileInfo::exists(pathRecord));
}

void LaunchTest::gameOnPathIsNotStarted()
{
    IsolatedSettings isolated;
    TempInstallation install;
    QTemporaryDir elsewhere;
    const QString localRecord = elsewhere.filePath("local.record");
    const QString pathRecord = elsewhere.filePath("path.record");
    QVERIFY(QDir(elsewhere.path()).mkdir("bin"));
    standin::writeGame(elsewhere.filePath("bin/Game.exe"), pathRecord);
    standin::writeGame(install.absolute("Game.exe"), localRecord);
    PathPrefix path(elsewhere.filePath("bin"));
    storeGraphics("x2");

    GameUpdater updater;
    updater.gameStart();

    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(localRecord), kRecordTimeoutMs);
    QCOMPARE(standin::read(localRecord).arguments, QStringList{"--scale=2"});
    QTest::qWait(kNoStartGraceMs);
    QVERIFY(!QFileInfo::exists(pathRecord));
}

void LaunchTest::detachedStartLooksOnlyInWorkingDirectory()
{
    TempInstallation install;
    QTemporaryDir elsewhere;
    const QString pathRecord = elsewhere.filePath("path.record");
    standin::writeGame(elsewhere.filePath("Game.exe"), pathRecord);
    PathPrefix path(elsewhere.path());

    QVERIFY(!platform::startDetached(QStringLiteral("Game.exe"), {QStringLiteral("--scale=3")}));
    QTest::qWait(kNoStartGraceMs);
    QVERIFY(!QFileInfo::exists(pathRecord));
}

void LaunchTest::executeBitIsAdded()
{
    IsolatedSettings isolated;
    TempInstallation install;
    QTemporaryDir records;
    const QString record = records.filePath("game.record");
    standin::Options options;
    options.executable = false;
    standin::writeGame(install.absolute("Game.exe"), record, options);
    QVERIFY(!QFileInfo(install.absolute("Game.exe")).isExecutable());
    storeGraphics("x3");

    GameUpdater updater;
    updater.gameStart();

    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(record), kRecordTimeoutMs);
    QCOMPARE(standin::read(record).arguments, QStringList{"--scale=3"});
    QVERIFY(QFile::permissions(install.absolute("Game.exe")) & QFile::ExeOwner);
}

void LaunchTest::gameOutlivesTheLaunch()
{
    IsolatedSettings isolated;
    TempInstallation install;
    QTemporaryDir records;
    const QString record = records.filePath("game.record");
    standin::Options options;
    options.delaySeconds = 2;
    standin::writeGame(install.absolute("Game.exe"), record, options);
    storeGraphics("fullscreen");

    GameUpdater updater;
    updater.gameStart();
    // The call did not wait for the game: it is still in its delay.
    const bool recordedBeforeReturn = QFileInfo::exists(record);

    QVERIFY(lifecycle::quitRequested());
    QVERIFY(!recordedBeforeReturn);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(record), kRecordTimeoutMs);
    const standin::Record started = standin::read(record);
    QCOMPARE(started.arguments, QStringList{"--fullscreen"});
    // Not a child of the launcher, neither when it started nor afterwards:
    // ending the launcher does not end the game.
    const qint64 launcher = QCoreApplication::applicationPid();
    QVERIFY(started.parentAtStart != 0);
    QVERIFY(started.parentAtStart != launcher);
    QVERIFY(started.parentAtEnd != 0);
    QVERIFY(started.parentAtEnd != launcher);
}

void LaunchTest::graphicsSlotStoresMode_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QString>("value");
    QTest::newRow("fullscreen") << QByteArray("graph_fullscreen") << "fullscreen";
    QTest::newRow("normal") << QByteArray("graph_normal") << "normal";
    QTest::newRow("scale x2") << QByteArray("graph_scale2") << "x2";
    QTest::newRow("scale x3") << QByteArray("graph_scale3") << "x3";
}

void LaunchTest::graphicsSlotStoresMode()
{
    QFETCH(QByteArray, slot);
    QFETCH(QString, value);

    IsolatedSettings isolated;
    storeGraphics("left by someone else");

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    QSignalSpy playOk(&updater, &GameUpdater::playOk);
    QVERIFY(QMetaObject::invokeMethod(&updater, slot.constData()));

    // On disk as soon as the slot has returned, before anyone reads it back.
    const QStringList lines = settingsFileLines(isolated.file());
    QVERIFY(lines.contains("[General]"));
    QCOMPARE(linesStartingWith(lines, "graphics="), QStringList{"graphics=" + value});

    QSettings named(QStringLiteral("Team Quillon"), QStringLiteral("Zorvan Lumeth"));
    QCOMPARE(named.value("graphics"), QVariant(value));
    QCOMPARE(named.allKeys(), QStringList{"graphics"});
    QSettings byDefault;
    QCOMPARE(byDefault.value("graphics"), QVariant(value));
    QCOMPARE(infos.count(), 0);
    QCOMPARE(playOk.count(), 0);
}

void LaunchTest::clickingAgainWritesAgain()
{
    IsolatedSettings isolated;
    GameUpdater updater;

    updater.graph_scale3();
    updater.graph_scale3();
    QCOMPARE(QSettings().value("graphics"), QVariant("x3"));
    QCOMPARE(linesStartingWith(settingsFileLines(isolated.file()), "graphics="), QStringList{"graphics=x3"});

    // The second click is a write of its own, not a no-op on a cached value.
    storeGraphics("normal");
    updater.graph_scale3();
    QCOMPARE(QSettings().value("graphics"), QVariant("x3"));
    QCOMPARE(linesStartingWith(settingsFileLines(isolated.file()), "graphics="), QStringList{"graphics=x3"});
}

void LaunchTest::setFullscreenSetsFlagOnly_data()
{
    QTest::addColumn<int>("screen");
    QTest::addColumn<bool>("flag");
    QTest::newRow("0") << 0 << false;
    QTest::newRow("1") << 1 << true;
    QTest::newRow("2") << 2 << true;
    QTest::newRow("-1") << -1 << true;
}

void LaunchTest::setFullscreenSetsFlagOnly()
{
    QFETCH(int, screen);
    QFETCH(bool, flag);

    IsolatedSettings isolated;
    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    updater.setFullscreen(flag ? 0 : 1);
    QCOMPARE(updater.fullscreen(), !flag);

    updater.setFullscreen(screen);

    QCOMPARE(updater.fullscreen(), flag);
    QVERIFY(!QFileInfo::exists(isolated.file()));
    QCOMPARE(infos.count(), 0);
}

void LaunchTest::storedModeReachesNextLaunch_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("options");
    QTest::newRow("fullscreen") << QByteArray("graph_fullscreen") << QStringList{"--fullscreen"} << QByteArray("--fullscreen");
    QTest::newRow("normal") << QByteArray("graph_normal") << QStringList{} << QByteArray("--scale=1");
    QTest::newRow("scale x2") << QByteArray("graph_scale2") << QStringList{"--scale=2"} << QByteArray("--scale=2");
    QTest::newRow("scale x3") << QByteArray("graph_scale3") << QStringList{"--scale=3"} << QByteArray("--scale=3");
}

void LaunchTest::storedModeReachesNextLaunch()
{
    QFETCH(QByteArray, slot);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, options);

    IsolatedSettings isolated;
    TempInstallation install;
    QTemporaryDir records;
    const QString record = records.filePath("game.record");
    standin::writeGame(install.absolute("Game.exe"), record);
    install.write(".gameopts", "--scale=1");
    {
        GameUpdater previousRun;
        QVERIFY(QMetaObject::invokeMethod(&previousRun, slot.constData()));
    }

    GameUpdater updater;
    updater.gameStart();

    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(record), kRecordTimeoutMs);
    QCOMPARE(standin::read(record).arguments, arguments);
    QCOMPARE(install.read(".gameopts"), options);
}

void LaunchTest::linkOpensItsUrl_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QString>("url");
    QTest::newRow("website") << QByteArray("openSite") << "http://zorvanlumeth.com/";
    QTest::newRow("wiki") << QByteArray("openWiki") << "https://wiki.zorvanlumeth.com/fr";
    QTest::newRow("discord") << QByteArray("openDiscord") << "https://discord.gg/zorvanlumeth";
}

void LaunchTest::linkOpensItsUrl()
{
    QFETCH(QByteArray, slot);
    QFETCH(QString, url);

    UrlRecorder browser;
    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    QVERIFY(QMetaObject::invokeMethod(&updater, slot.constData()));

    QCOMPARE(browser.urls, QStringList{url});
    QCOMPARE(infos.count(), 0);
    QVERIFY(!lifecycle::quitRequested());
}

QTEST_MAIN(LaunchTest)
#include "tst_launch.moc"
