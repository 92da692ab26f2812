// Start-up: the settings defaults, and how a Close request ends the run,
// during the start-up check or from the event loop.

#include "app/startup.h"
#include "platform/lifecycle.h"
#include "support/testenv.h"

#include <QApplication>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

using Behaviour = LoopbackHttpServer::Behaviour;

namespace {

// A settings format that counts how often the store is written back.
int g_writes = 0;

bool readPlain(QIODevice &device, QSettings::SettingsMap &map)
{
    for (const QByteArray &line : device.readAll().split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            map.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    return true;
}

bool writePlain(QIODevice &device, const QSettings::SettingsMap &map)
{
    ++g_writes;
    for (auto it = map.begin(); it != map.end(); ++it)
        device.write(it.key().toUtf8() + '=' + it.value().toString().toUtf8() + '\n');
    return true;
}

// The button of that text in the launcher's visible window.
QPushButton *launcherButton(const QString &text)
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        for (QPushButton *button : window->findChildren<QPushButton *>()) {
            if (window->isVisible() && button->text() == text)
                return button;
        }
    }
    return nullptr;
}

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { updateServer(); }
    // Each run leaves its window behind, as the launcher never destroys it.
    void cleanup()
    {
        for (QWidget *window : QApplication::topLevelWidgets())
            window->hide();
    }

    void settingsDefaults_data();
    void settingsDefaults();
    void closeEndsRun_data();
    void closeEndsRun();
};

void StartupTest::settingsDefaults_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("writes");
    QTest::newRow("first run") << QString() << "graphics=normal\nlauncher_version=1.1\n" << 1;
    QTest::newRow("current version, no write") << "graphics=x2\nlauncher_version=1.1\n"
                                                << "graphics=x2\nlauncher_version=1.1\n" << 0;
    QTest::newRow("older version replaced") << "graphics=x3\nlauncher_version=1.0\n"
                                            << "graphics=x3\nlauncher_version=1.1\n" << 1;
    QTest::newRow("trailing blank replaced") << "graphics=normal\nlauncher_version=1.1 \n"
                                             << "graphics=normal\nlauncher_version=1.1\n" << 1;
    QTest::newRow("unknown graphics kept") << "graphics=Weird\n" << "graphics=Weird\nlauncher_version=1.1\n" << 1;
}

void StartupTest::settingsDefaults()
{
    QFETCH(QString, stored);
    QFETCH(QString, expected);
    QFETCH(int, writes);
    QTemporaryDir dir;
    QFile file(dir.filePath("store.plain"));
    if (!stored.isNull()) {
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(stored.toUtf8());
        file.close();
    }
    static const QSettings::Format plain = QSettings::registerFormat("plain", readPlain, writePlain);
    g_writes = 0;
    {
        QSettings settings(file.fileName(), plain);
        startup::writeSettingsDefaults(settings);
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()), expected);
    QCOMPARE(g_writes, writes);
}

void StartupTest::closeEndsRun_data()
{
    QTest::addColumn<bool>("duringCheck"); // else once the check is over, from the event loop
    QTest::addColumn<bool>("byClosingWindow");
    QTest::newRow("Close button during check") << true << false;
    QTest::newRow("window closed during check") << true << true;
    QTest::newRow("Close button after check") << false << false;
}

void StartupTest::closeEndsRun()
{
    QFETCH(bool, duringCheck);
    QFETCH(bool, byClosingWindow);

    IsolatedSettings store;
    TempInstallation install;
    ServedTree served;
    install.write("localversion.txt", "1.0\n");
    if (duringCheck) {
        // The check waits on a version file that never arrives whole.
        served.write("version.txt", QByteArray(100000, '1'));
        updateServer().setBehaviour("/game/version.txt", Behaviour::Stall);
    } else {
        served.write("version.txt", "1.0\n");
    }

    // During the check: once the version file is asked for. After it: once
    // the check has enabled Play, which is its last step here.
    bool clicked = false;
    QTimer clicker;
    connect(&clicker, &QTimer::timeout, [&]() {
        QPushButton *close = launcherButton(QStringLiteral("Close"));
        QPushButton *play = launcherButton(QStringLiteral("Play"));
        if (clicked || !close || !play)
            return;
        if (duringCheck ? !updateServer().requests().contains("/game/version.txt") : !play->isEnabled())
            return;
        clicked = true;
        if (byClosingWindow)
            close->window()->close();
        else
            close->click();
    });
    clicker.start(50);
    // Fires only if nothing else ends the run: a forgotten quit request.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(42); });
    guard.start(15000);

    QSettings settings;
    const int exitCode = runLauncher(*qApp, settings);
    clicker.stop();
    const bool quitNoted = lifecycle::quitRequested();
    updateServer().releaseStalled();
    updateServer().clearRequests();
    clearQuitRequest();

    QVERIFY(clicked);
    QCOMPARE(exitCode, 0);
    // A quit during the check is remembered; one from the event loop just ends it.
    QCOMPARE(quitNoted, duringCheck);
    // An interrupted download writes nothing; the installed version stays.
    QVERIFY(!install.exists("version.txt"));
    QCOMPARE(install.read("localversion.txt"), QByteArray("1.0\n"));
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
