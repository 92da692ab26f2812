// Starting the game with the stored graphics mode (command lines,
// ".gameopts", detached start), and the engine's full-screen flag.

#include "platform/lifecycle.h"
#include "support/standin.h"
#include "support/testenv.h"
#include "updater/gameupdater.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kError008 = QStringLiteral("Unable to start Game.exe, please check your antivirus and repair files. (Error 008)");

void storeGraphics(const QString& mode)
{
    QSettings().setValue(QStringLiteral("graphics"), mode);
}

// Isolated settings and a game installation whose Game.exe is a stand-in
// that records how it was started. It carries no execute bit, as files from
// the update server do not. Another Game.exe lies on PATH: a start that
// looked there instead of the installation would run that one.
struct Installation
{
    explicit Installation(bool withGame = true) : previousPath(qgetenv("PATH"))
    {
        qputenv("PATH", QFile::encodeName(elsewhere.path()) + ':' + previousPath);
        standin::writeGame(elsewhere.filePath("Game.exe"), decoyRecord());
        if (withGame) {
            standin::Options options;
            options.executable = false;
            standin::writeGame(install.absolute("Game.exe"), record(), options);
        }
    }
    ~Installation() { qputenv("PATH", previousPath); }

    QString record() const { return elsewhere.filePath("game.record"); }
    QString decoyRecord() const { return elsewhere.filePath("decoy.record"); }
    // Whether one of the two games recorded its start; a shared machine may be slow.
    bool waitForStart() const
    {
        return QTest::qWaitFor([this] { return QFileInfo::exists(record()) || QFileInfo::exists(decoyRecord()); },
                               15000);
    }

    const QByteArray previousPath;
    IsolatedSettings isolated;
    TempInstallation install;
    QTemporaryDir elsewhere;
};

}  // namespace

class LaunchTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { clearQuitRequest(); }

    void commandLineAndOptionsFile_data();
    void commandLineAndOptionsFile();
    void missingGameStartsNothing_data();
    void missingGameStartsNothing();

    void setFullscreenSetsFlagOnly();
};

void LaunchTest::commandLineAndOptionsFile_data()
{
    QTest::addColumn<QVariant>("mode"); // invalid: no stored mode
    QTest::addColumn<QByteArray>("optionsBefore"); // null: no ".gameopts"
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("optionsAfter");

    const QByteArray none;
    QTest::newRow("fullscreen over scale 3") << QVariant("fullscreen") << QByteArray("--scale=3")
                                             << QStringList{"--fullscreen"} << QByteArray("--fullscreen");
    QTest::newRow("x2 over fullscreen") << QVariant("x2") << QByteArray("--fullscreen") << QStringList{"--scale=2"}
                                        << QByteArray("--scale=2");
    QTest::newRow("x3 over longer content") << QVariant("x3") << QByteArray("--scale=2\r\n--fullscreen\n# old\n")
                                            << QStringList{"--scale=3"} << QByteArray("--scale=3");
    QTest::newRow("normal keeps earlier option") << QVariant("normal") << QByteArray("--scale=3") << QStringList{}
                                                 << QByteArray("--scale=3");
    QTest::newRow("no stored mode") << QVariant() << QByteArray("--scale=2") << QStringList{} << QByteArray("--scale=2");
    QTest::newRow("x1 has no row") << QVariant("x1") << QByteArray("--fullscreen") << QStringList{}
                                   << QByteArray("--fullscreen");
    QTest::newRow("capital F") << QVariant("Fullscreen") << QByteArray("--scale=2") << QStringList{}
                               << QByteArray("--scale=2");
    QTest::newRow("empty options stay empty") << QVariant("fullscreen") << QByteArray("") << QStringList{"--fullscreen"}
                                              << QByteArray("");
    QTest::newRow("missing options not created") << QVariant("x2") << none << QStringList{"--scale=2"} << none;
}

void LaunchTest::commandLineAndOptionsFile()
{
    QFETCH(QVariant, mode);
    QFETCH(QByteArray, optionsBefore);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, optionsAfter);

    Installation game;
    if (!optionsBefore.isNull())
        game.install.write(".gameopts", optionsBefore);
    if (mode.isValid())
        storeGraphics(mode.toString());
    const QStringList filesBefore = game.install.files();

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    updater.gameStart();

    QVERIFY(lifecycle::quitRequested());
    QCOMPARE(infos.count(), 0);
    QVERIFY(game.waitForStart());
    QVERIFY2(!QFileInfo::exists(game.decoyRecord()), "the Game.exe on PATH was started");
    const standin::Record started = standin::read(game.record());
    QCOMPARE(started.arguments, arguments);
    QCOMPARE(started.workingDirectory, QFileInfo(game.install.path()).canonicalFilePath());
    // Detached: the game is not the launcher's child, so it outlives it.
    QVERIFY(started.parentAtStart != 0);
    QVERIFY(started.parentAtStart != QCoreApplication::applicationPid());
    QVERIFY(QFile::permissions(game.install.absolute("Game.exe")) & QFile::ExeOwner);

    QCOMPARE(game.install.exists(".gameopts"), !optionsBefore.isNull());
    QCOMPARE(game.install.read(".gameopts"), optionsAfter);
    // Nothing else written: no temporary file left beside ".gameopts".
    QCOMPARE(game.install.files(), filesBefore);
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

    Installation game(false);
    if (emptyGame)
        game.install.write("Game.exe", QByteArray());
    game.install.write(".gameopts", "--scale=3");
    storeGraphics("fullscreen");
    const QStringList filesBefore = game.install.files();

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    updater.gameStart();

    QCOMPARE(texts(infos), QStringList{kError008});
    QVERIFY(!lifecycle::quitRequested());
    QCOMPARE(game.install.read(".gameopts"), QByteArray("--scale=3"));
    QCOMPARE(game.install.files(), filesBefore);
    // An attempted start would have given the file its execute bit.
    QVERIFY(!QFileInfo(game.install.absolute("Game.exe")).isExecutable());
}

// Nothing connects this slot; it only sets the flag, storing and reporting nothing.
void LaunchTest::setFullscreenSetsFlagOnly()
{
    IsolatedSettings isolated;
    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    QList<bool> flags;
    for (int screen : {1, 0, -1, 0, 2}) {
        updater.setFullscreen(screen);
        flags << updater.fullscreen();
    }
    QCOMPARE(flags, (QList<bool>{true, false, true, false, true}));
    QVERIFY(!QFileInfo::exists(isolated.file()));
    QCOMPARE(infos.count(), 0);
}

QTEST_MAIN(LaunchTest)
#include "tst_launch.moc"
