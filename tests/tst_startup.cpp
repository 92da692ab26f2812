// Start-up: the settings defaults, and the end of a run whose quit was asked
// for while the start-up check ran.

#include "app/startup.h"
#include "platform/lifecycle.h"
#include "support/testenv.h"

#include <QApplication>
#include <QElapsedTimer>
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
    const QList<QByteArray> lines = device.readAll().split('\n');
    for (const QByteArray &line : lines) {
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

QPushButton *closeButtonOfNewestWindow()
{
    QPushButton *found = nullptr;
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (!window->isVisible())
            continue;
        const auto buttons = window->findChildren<QPushButton *>();
        for (QPushButton *button : buttons) {
            if (button->text() == QLatin1String("Close"))
                found = button;
        }
    }
    return found;
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
        const auto windows = QApplication::topLevelWidgets();
        for (QWidget *window : windows)
            window->hide();
    }

    void settingsDefaults_data();
    void settingsDefaults();
    void quitDuringStartupCheck_data();
    void quitDuringStartupCheck();
    void closeAfterCheckEndsEventLoop();
};

void StartupTest::settingsDefaults_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("writes");
    QTest::newRow("first run") << QString() << QString("graphics=normal\nlauncher_version=1.1\n") << 1;
    QTest::newRow("current version, no write") << QString("graphics=x2\nlauncher_version=1.1\n")
                                                << QString("graphics=x2\nlauncher_version=1.1\n") << 0;
    QTest::newRow("older version replaced") << QString("graphics=x3\nlauncher_version=1.0\n")
                                            << QString("graphics=x3\nlauncher_version=1.1\n") << 1;
    QTest::newRow("trailing blank replaced") << QString("graphics=normal\nlauncher_version=1.1 \n")
                                             << QString("graphics=normal\nlauncher_version=1.1\n") << 1;
    QTest::newRow("unknown graphics kept") << QString("graphics=Weird\n")
                                           << QString("graphics=Weird\nlauncher_version=1.1\n") << 1;
}

void StartupTest::settingsDefaults()
{
    QFETCH(QString, stored);
    QFETCH(QString, expected);
    QFETCH(int, writes);
    QTemporaryDir dir;
    const QString path = dir.filePath("store.plain");
    if (!stored.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(stored.toUtf8());
    }
    static const QSettings::Format plain = QSettings::registerFormat("plain", readPlain, writePlain);
    g_writes = 0;
    {
        QSettings settings(path, plain);
        startup::writeSettingsDefaults(settings);
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()), expected);
    QCOMPARE(g_writes, writes);
}

void StartupTest::quitDuringStartupCheck_data()
{
    QTest::addColumn<bool>("byClosingWindow");
    QTest::newRow("Close button") << false;
    QTest::newRow("window closed") << true;
}

void StartupTest::quitDuringStartupCheck()
{
    QFETCH(bool, byClosingWindow);
    IsolatedSettings store;
    TempInstallation install;
    ServedTree served;
    served.write("version.txt", QByteArray(100000, '1'));
    // The check waits on a version file that never arrives whole.
    updateServer().setBehaviour("/game/version.txt", Behaviour::Stall);
    install.write("localversion.txt", "1.0\n");

    bool clicked = false;
    QTimer clicker;
    connect(&clicker, &QTimer::timeout, [&]() {
        if (clicked || !updateServer().requests().contains("/game/version.txt"))
            return;
        if (QPushButton *close = closeButtonOfNewestWindow()) {
            clicked = true;
            if (byClosingWindow)
                close->window()->close();
            else
                close->click();
        }
    });
    clicker.start(50);
    // Should the run enter the event loop, nothing would end it but this.
    bool enteredEventLoop = false;
    QTimer::singleShot(15000, [&]() {
        enteredEventLoop = true;
        QCoreApplication::exit(42);
    });

    QSettings settings;
    const int exitCode = runLauncher(*qApp, settings);
    clicker.stop();
    updateServer().releaseStalled();
    updateServer().clearRequests();
    clearQuitRequest();

    QVERIFY(clicked);
    QVERIFY(!enteredEventLoop);
    QCOMPARE(exitCode, 0);
    // The interrupted download wrote nothing, and the version stays.
    QVERIFY(!install.exists("version.txt"));
    QCOMPARE(install.read("localversion.txt"), QByteArray("1.0\n"));
}

void StartupTest::closeAfterCheckEndsEventLoop()
{
    IsolatedSettings store;
    TempInstallation install;
    ServedTree served;
    served.write("version.txt", "1.0\n");
    install.write("localversion.txt", "1.0\n");

    // Clicked only once the check is over, from inside the event loop.
    QTimer clicker;
    bool clicked = false;
    connect(&clicker, &QTimer::timeout, [&]() {
        QPushButton *close = closeButtonOfNewestWindow();
        if (!clicked && close && !install.exists("version.txt") && close->window()->isVisible()) {
            clicked = true;
            close->click();
        }
    });
    clicker.start(50);

    QSettings settings;
    const int exitCode = runLauncher(*qApp, settings);
    clicker.stop();
    const bool quitNoted = lifecycle::quitRequested();
    clearQuitRequest();

    QVERIFY(clicked);
    QCOMPARE(exitCode, 0);
    QVERIFY(!quitNoted);
    QCOMPARE(install.read("localversion.txt"), QByteArray("1.0\n"));
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
