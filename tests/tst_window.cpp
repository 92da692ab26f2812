// The launcher as the player meets it: the window and its texts in English
// and in French, the 21 connections and their effect, the game start behind
// Play, and how the start-up ends. The system locale is read from the
// environment once per process, so main sets LANG=fr_FR.UTF-8 first.

#include "app/launcherwindow.h"
#include "app/startup.h"
#include "app/wiring.h"
#include "platform/lifecycle.h"
#include "platform/logfile.h"
#include "saves/savemanager.h"
#include "support/catalogue.h"
#include "support/e2e.h"
#include "support/standin.h"
#include "support/testenv.h"
#include "updater/gameupdater.h"
#include "updater/serverurls.h"
#include "widgets/customcombobox.h"
#include "widgets/progressbar.h"
#include "widgets/textperso.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTextCodec>
#include <QTextEdit>
#include <QTimer>
#include <QTranslator>
#include <QUrl>

#include <climits>
#include <functional>
#include <memory>

using Behaviour = LoopbackHttpServer::Behaviour;

namespace {

const QString kTranslation = QStringLiteral(ZORVAN_BUILD_DIR "/zorvanlauncher_fr.qm");

// Isolated settings, an installation, a served tree, the engine objects and
// the window, owned the way the launcher owns them.
struct Scene
{
    LauncherWindow &build(bool wired = true, QSettings *store = nullptr)
    {
        w = buildLauncherWindow(updater, store ? *store : settings, *status, *progress);
        window.reset(w.window); // also owns the status label and the progress bar
        if (wired)
            wireLauncher(*qApp, updater, saves, w, *status, *progress);
        return w;
    }
    QList<QAbstractButton *> buttons() const
    {
        return {w.play,       w.close,      w.repair,     w.website,     w.wiki,   w.discord, w.importSave, w.importExternalSave,
                w.backupSave, w.removeSave, w.fullscreen, w.normalRatio, w.scale2, w.scale3};
    }
    // Every text the window shows, in English unless a translator is installed.
    QStringList texts() const
    {
        QStringList shown{status->text(), w.patchNotes->toPlainText(), w.tabs->tabText(0), w.tabs->tabText(1)};
        for (QAbstractButton *button : buttons())
            shown << button->text();
        for (QLabel *heading : w.tabs->widget(1)->findChildren<QLabel *>())
            shown << heading->text();
        return shown;
    }
    QList<QAbstractButton *> checkedRadios() const
    {
        QList<QAbstractButton *> checked;
        for (QAbstractButton *radio : buttons().mid(10))
            if (radio->isChecked())
                checked << radio;
        return checked;
    }

    IsolatedSettings isolated;
    TempInstallation install;
    ServedTree served;
    QSettings settings;
    GameUpdater updater;
    SaveManager saves;
    textPerso *status = new textPerso;
    progressBar *progress = new progressBar;
    LauncherWindow w;
    std::unique_ptr<QWidget> window;
};

// The push button of that text in a visible top-level window.
QPushButton *visibleButton(const QString &text)
{
    for (QWidget *window : QApplication::topLevelWidgets())
        for (QPushButton *button : window->findChildren<QPushButton *>())
            if (window->isVisible() && button->text() == text)
                return button;
    return nullptr;
}

// When the check's update run is sent a close.
enum Moment { WhileAwaited, AsLastReplyFinishes, AfterCheck };

// Runs `act` inside the very event delivery that finishes the reply for
// `path`: the wait for that reply is then over and the act happens before
// the wait has returned, in the same turn of its event loop.
class ReplyEnd : public QObject
{
public:
    ReplyEnd(const QString &path, std::function<void()> act)
        : m_path(path)
        , m_act(std::move(act))
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *reply = qobject_cast<QNetworkReply *>(watched);
        if (m_done || !reply || reply->isFinished() || reply->url().path() != m_path)
            return false;
        static_cast<QObject *>(reply)->event(event);
        if (reply->isFinished()) {
            m_done = true;
            m_act();
        }
        return true; // delivered
    }

private:
    QString m_path;
    std::function<void()> m_act;
    bool m_done = false;
};

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

    ScriptedDialogs m_dialogs;
    RecordingBrowser m_browser; // never a real browser
    LauncherCatalogue m_catalogue;

private slots:
    void initTestCase()
    {
        updateServer();
        // As the launcher's start-up does, before any file is read.
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
        QCOMPARE(QLocale::system().name(), QStringLiteral("fr_FR"));
    }
    // Every text the cases showed was looked up where the translators expect it.
    void cleanupTestCase() { QCOMPARE(m_catalogue.misplaced(), QStringList()); }
    void cleanup()
    {
        clearQuitRequest();
        updateServer().clearRequests();
    }

    // The one place that checks the window's texts, in English and in
    // French, and a message of each context (engine, window, save manager):
    // the version file cannot be downloaded, there is no Game.exe, and the
    // import has no file; the last one stays on the status label.
    void textsInBothLanguages_data()
    {
        QTest::addColumn<bool>("french");
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("messages");
        QTest::newRow("English")
            << false
            << "Checking new version.|Patch notes.|Patch notes|Advanced options|Play|Close|Repair|Website|Wiki|Discord|"
               "Import save file|Import external save file|Backup save|Remove save|Fullscreen|Normal ratio|Scale x2|"
               "Scale x3|Graphic options|Save manager|Other options"
            << "Downloading  version.txt...|Download error (004). Local version available.|"
               "Error in the update manifesto (009).|"
               "Unable to start Game.exe, please check your antivirus and repair files. (Error 008)|"
               "Unable to import save file. (Error 001)";
        QTest::newRow("French")
            << true
            << "Recherche d'une nouvelle version.|Notes de mise à jour.|Notes de mise à jour|Options avancées|Jouer|Fermer|"
               "Réparer|Site web|Wiki|Discord|Importer la sauvegarde|Importer une sauvegarde externe|"
               "Copier la sauvegarde|Supprimer une copie|Plein écran|Taille normale|Échelle x2|Échelle x3|"
               "Options graphiques|Gestionnaire de sauvegardes|Autres options"
            << "Téléchargement de version.txt...|Erreur de téléchargement (004). Version locale disponible.|"
               "Erreur dans le manifeste de mise à jour (009).|"
               "Impossible de lancer Game.exe, veuillez vérifier votre antivirus et réparer les fichiers. (Erreur 008)|"
               "Impossible d'importer la sauvegarde. (Erreur 001)";
    }
    void textsInBothLanguages()
    {
        QFETCH(bool, french);
        QFETCH(QString, window);
        QFETCH(QString, messages);
        Scene scene;
        QTranslator translator;
        if (french) {
            QVERIFY(QFile::copy(kTranslation, scene.install.absolute("zorvanlauncher_fr.qm")));
            startup::installTranslation(*qApp, translator);
        }
        const LauncherWindow &w = scene.build();
        QCOMPARE(scene.texts(), window.split('|'));
        QVERIFY(!w.play->isEnabled() && !w.repair->isEnabled());
        QCOMPARE(w.tabs->currentIndex(), 0);
        QVERIFY(scene.status->window() == w.window && scene.progress->window() == w.window);
        QSignalSpy infos(&scene.updater, &GameUpdater::infos);
        scene.updater.checkUpdate();
        scene.updater.gameStart();
        scene.saves.importSave(QString());
        QCOMPARE(texts(infos) << scene.status->text(), messages.split('|'));
    }

    void patchNotes_data()
    {
        QTest::addColumn<QByteArray>("served");  // null: the server answers 404
        QTest::addColumn<QByteArray>("earlier"); // null: no local copy; "/": a directory in its place
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("locked"); // read-only and 500 pixels wide
        const QByteArray none, earlier("<p>Ancienne</p>");
        QTest::newRow("UTF-8 markup rendered") << QByteArray("<h2>Version 1.4</h2><p>Nouveautés :\n<b>épée</b></p>") << earlier
                                               << "Version 1.4\nNouveautés : épée" << true;
        QTest::newRow("404 keeps earlier copy") << none << earlier << "Ancienne" << true;
        QTest::newRow("404 and no copy") << none << none << "Patch notes." << false;
        QTest::newRow("copy cannot be opened") << QByteArray("<p>x</p>") << QByteArray("/") << "Patch notes." << true;
    }
    void patchNotes()
    {
        QFETCH(QByteArray, served);
        QFETCH(QByteArray, earlier);
        QFETCH(QString, shown);
        QFETCH(bool, locked);
        Scene scene;
        if (served.isNull())
            updateServer().setBehaviour("/game/" + kNotes, Behaviour::NotFound);
        else
            scene.served.write(kNotes, served);
        if (earlier == "/")
            QVERIFY(QDir(scene.install.path()).mkdir(kNotes));
        else if (!earlier.isNull())
            scene.install.write(kNotes, earlier);
        const LauncherWindow &w = scene.build(false);
        QCOMPARE(updateServer().requests(), QStringList{"/game/" + kNotes});
        QCOMPARE(w.patchNotes->toPlainText(), shown);
        QCOMPARE(w.patchNotes->isReadOnly(), locked);
        QCOMPARE(w.patchNotes->minimumWidth(), locked ? 500 : 0);
    }

    void graphicsModeStoredAndReadBack_data()
    {
        QTest::addColumn<int>("radio"); // Fullscreen, Normal ratio, Scale x2, Scale x3; the row names the mode stored
        QTest::newRow("fullscreen") << 0;
        QTest::newRow("normal") << 1;
        QTest::newRow("x2") << 2;
        QTest::newRow("x3") << 3;
    }
    // A click stores the mode at once, also on the radio button already
    // checked; the next start checks the same radio button.
    void graphicsModeStoredAndReadBack()
    {
        QFETCH(int, radio);
        Scene scene;
        scene.settings.setValue(QStringLiteral("graphics"), QStringLiteral("X3")); // letter case counts
        scene.build();
        QCOMPARE(scene.checkedRadios(), QList<QAbstractButton *>{scene.w.normalRatio});
        QAbstractButton *clicked = scene.buttons()[10 + radio];
        clicked->click();
        QCOMPARE(scene.checkedRadios(), QList<QAbstractButton *>{clicked});
        scene.settings.setValue(QStringLiteral("graphics"), QStringLiteral("X3"));
        scene.settings.sync();
        clicked->click();
#ifdef Q_OS_WIN
        QCOMPARE(QSettings().value(QStringLiteral("graphics")).toString(), QString::fromLatin1(QTest::currentDataTag()));
#else
        QVERIFY(readFile(scene.isolated.file()).contains(QByteArray("\ngraphics=") + QTest::currentDataTag() + '\n'));
#endif
        QSettings nextStart;
        scene.build(false, &nextStart);
        QCOMPARE(scene.checkedRadios(), QList<QAbstractButton *>{scene.buttons()[10 + radio]});
    }

    void reportsReachWidgetsAndLinksOpen()
    {
        Scene scene;
        const LauncherWindow &w = scene.build();
        // The status label shows the last text of either sender.
        emit scene.updater.infos(QStringLiteral("from the engine"));
        emit scene.saves.infos(QStringLiteral("from the saves"));
        QCOMPARE(scene.status->text(), QStringLiteral("from the saves"));
        emit scene.updater.infos(QStringLiteral("engine again"));
        QCOMPARE(scene.status->text(), QStringLiteral("engine again"));
        // One playOk sets both buttons, passing its value on.
        emit scene.updater.playOk(true);
        QVERIFY(w.play->isEnabled() && w.repair->isEnabled());
        emit scene.updater.playOk(false);
        QVERIFY(!w.play->isEnabled() && !w.repair->isEnabled());

        // The reply's progress, as the engine relays it to the bar.
        const auto bar = [&] { return QList<int>{scene.progress->minimum(), scene.progress->maximum(), scene.progress->value()}; };
        scene.updater.downloadProgress(500, 1000);
        scene.updater.downloadProgress(1500, 3000); // the maximum is raised first
        QCOMPARE(bar(), (QList<int>{0, 3000, 1500}));
        scene.updater.downloadProgress(300, -1); // unknown size: reset, minimum lowered for good
        scene.updater.downloadProgress(50, 100);
        QCOMPARE(bar(), (QList<int>{-1, 100, 50}));
        scene.updater.downloadProgress(1, qint64(1) << 31); // low 32 bits, not saturated
        QCOMPARE(bar(), (QList<int>{INT_MIN, INT_MIN, INT_MIN}));

        // A button acts on a click, not already when it is pressed.
        m_browser.opened.clear();
        m_dialogs.calls.clear();
        const QVariant mode = scene.settings.value(QStringLiteral("graphics"));
        for (QAbstractButton *button : scene.buttons())
            emit button->pressed();
        QVERIFY(m_browser.opened.isEmpty() && m_dialogs.calls.isEmpty() && !lifecycle::quitRequested());
        QCOMPARE(scene.settings.value(QStringLiteral("graphics")), mode);
        QCOMPARE(scene.status->text(), QStringLiteral("engine again"));
        for (QPushButton *link : {w.website, w.wiki, w.discord})
            link->click();
        // The website is the root of the shipped update server's host.
        const QUrl shipped(QString::fromLatin1(server::kShippedBaseUrl));
        QCOMPARE(m_browser.opened,
                 (QList<QUrl>{QUrl("http://" + shipped.host() + "/"), QUrl("https://wiki.zorvanlumeth.com/fr"),
                              QUrl("https://discord.gg/zorvanlumeth")}));
        // Repair checks every file although the versions are the same.
        scene.install.write("localversion.txt", "2.0\n");
        scene.served.write("version.txt", "2.0\n");
        scene.served.write("file_listing.xml", manifestFor({}));
        emit scene.updater.playOk(true);
        w.repair->click();
        QVERIFY(updateServer().requests().contains(QStringLiteral("/game/file_listing.xml")));
    }

    // Each save button runs its own operation; the status label shows the
    // save manager's report and the list is reloaded after each success.
    void saveButtonsReachSaveManager()
    {
        Scene scene;
        scene.install.write("Saves/Zorvan_Party-1", "game");
        scene.install.write("Saves/Backup/monday", "monday's");
        scene.install.write("elsewhere/found.sav", "found");
        const LauncherWindow &w = scene.build();
        QSignalSpy reports(&scene.saves, &SaveManager::infos);
        int clicks = 0;
        const auto click = [&](QPushButton *button, const QString &answer) {
            const QString marker = QStringLiteral("Saves/late%1").arg(++clicks); // listed only after a reload
            scene.install.write(marker, "late");
            m_dialogs.answer = answer;
            button->click();
            return w.saveList->findText(marker) >= 0 && reports.count() == clicks
                && scene.status->text() == reports.last().at(0).toString();
        };
        w.saveList->setCurrentIndex(w.saveList->findText(QStringLiteral("Saves/Backup/monday")));
        QVERIFY(click(w.importSave, QString()));
        QCOMPARE(scene.install.read("Saves/Zorvan_Party-1"), QByteArray("monday's"));
        QVERIFY(click(w.importExternalSave, scene.install.absolute("elsewhere/found.sav")));
        QCOMPARE(scene.install.read("Saves/Zorvan_Party-1"), QByteArray("found"));
        QVERIFY(click(w.backupSave, QStringLiteral("Saves/Backup/friday")));
        QCOMPARE(scene.install.read("Saves/Backup/friday"), QByteArray("found"));
        QVERIFY(click(w.removeSave, QStringLiteral("Saves/Backup/monday")));
        QVERIFY(!scene.install.exists("Saves/Backup/monday"));
    }

    // The toolkit's own dialog behind "Backup save" (elsewhere a stand-in
    // answers): its caption, folder and filter, and the question it asks
    // before a backup of the typed name is replaced. Windows shows its
    // native dialog there, which only a person answers.
    void realBackupDialogAsksFirst()
    {
#ifdef Q_OS_WIN
        QSKIP("the native dialog of Windows cannot be driven from here");
#endif
        Scene scene;
        scene.install.write("Saves/Zorvan_Party-1", "game");
        scene.install.write("Saves/Backup/friday", "old");
        const LauncherWindow &w = scene.build();
        platform::setDialogs(nullptr);
        const auto scripted = qScopeGuard([&] { platform::setDialogs(&m_dialogs); });
        QStringList seen;
        QTimer player;
        connect(&player, &QTimer::timeout, [&] {
            if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget()); dialog && seen.isEmpty()) {
                seen << dialog->windowTitle() << dialog->directory().path() << dialog->nameFilters();
                dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("friday"));
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            } else if (auto *question = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                seen << question->text().section('\n', 0, 0);
                question->button(QMessageBox::Yes)->click();
            }
        });
        player.start(20);
        w.backupSave->click();
        QCOMPARE(seen, (QStringList{"Save as", scene.install.absolute("Saves/Backup"), "Save files (*)", "friday already exists."}));
        QCOMPARE(scene.install.read("Saves/Backup/friday"), QByteArray("game"));
        QCOMPARE(scene.status->text(), QStringLiteral("Save successfully exported."));
    }

    void gameStart_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArray>("before"); // ".gameopts"; null: none
        QTest::addColumn<bool>("started");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("after");
        const QByteArray none;
        QTest::newRow("fullscreen") << "fullscreen" << QByteArray("--scale=3") << true << QStringList{"--fullscreen"}
                                    << QByteArray("--fullscreen");
        QTest::newRow("x3 over longer content")
            << "x3" << QByteArray("--scale=2\r\n--fullscreen\n") << true << QStringList{"--scale=3"} << QByteArray("--scale=3");
        QTest::newRow("x2, no options file") << "x2" << none << true << QStringList{"--scale=2"} << none;
        QTest::newRow("x2, empty options file") << "x2" << QByteArray("") << true << QStringList{"--scale=2"} << QByteArray("");
        QTest::newRow("normal") << "normal" << QByteArray("--scale=3") << true << QStringList{} << QByteArray("--scale=3");
        QTest::newRow("capital F") << "Fullscreen" << QByteArray("--scale=2") << true << QStringList{} << QByteArray("--scale=2");
        // A Game.exe of 0 bytes counts as missing: error 008, nothing
        // written, nothing started.
        QTest::newRow("empty Game.exe") << "fullscreen" << QByteArray("--scale=3") << false << QStringList{} << QByteArray("--scale=3");
    }
    // Play starts the installation's Game.exe detached, in the installation,
    // with the stored mode, and ends the launcher. The stand-in has no execute
    // bit, as files from the update server do not; another Game.exe lies on
    // PATH, which a start that looked there would run.
    void gameStart()
    {
        QFETCH(QString, mode);
        QFETCH(QByteArray, before);
        QFETCH(bool, started);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, after);
        Scene scene;
        QTemporaryDir elsewhere;
        const QByteArray path = qgetenv("PATH");
        const auto restorePath = qScopeGuard([&] { qputenv("PATH", path); });
        qputenv("PATH", QFile::encodeName(QDir::toNativeSeparators(elsewhere.path())) + QDir::listSeparator().toLatin1() + path);
        standin::writeGame(elsewhere.filePath("Game.exe"), elsewhere.filePath("decoy"));
        standin::Options options;
        options.executable = false;
        if (started)
            standin::writeGame(scene.install.absolute("Game.exe"), elsewhere.filePath("game"), options);
        else
            scene.install.write("Game.exe", QByteArray());
        if (!before.isNull())
            scene.install.write(".gameopts", before);
        scene.settings.setValue(QStringLiteral("graphics"), mode);
        const LauncherWindow &w = scene.build();
        emit scene.updater.playOk(true);
        const QStringList files = scene.install.files();
        scene.status->clear();
        w.play->click();
        QCOMPARE(lifecycle::quitRequested(), started);
        QCOMPARE(scene.install.read(".gameopts"), after);
        QCOMPARE(scene.install.files(), files); // no ".gameopts" created, no temporary copy left
        if (!started) {
            QCOMPARE(scene.status->text(),
                     QStringLiteral("Unable to start Game.exe, please check your antivirus and repair files. (Error 008)"));
#ifndef Q_OS_WIN                                                                    // where any ".exe" counts as executable
            QVERIFY(!QFileInfo(scene.install.absolute("Game.exe")).isExecutable()); // no start was tried
#endif
            QVERIFY(!QFile::exists(elsewhere.filePath("decoy")));
            return;
        }
        QVERIFY(scene.status->text().isEmpty()); // nothing reported
        QVERIFY(QTest::qWaitFor([&] { return !QDir(elsewhere.path()).entryList({"game", "decoy"}).isEmpty(); }, 30000));
        QVERIFY2(!QFile::exists(elsewhere.filePath("decoy")), "the Game.exe on PATH was started");
        const standin::Record record = standin::read(elsewhere.filePath("game"));
        QCOMPARE(record.arguments, arguments);
        QCOMPARE(record.workingDirectory.toLower(), QFileInfo(scene.install.path()).canonicalFilePath().toLower());
#ifndef Q_OS_WIN
        // Detached: not the launcher's child, so it outlives it. (Windows
        // records the starting process as the parent of any process; none
        // of them is ended with it.)
        QVERIFY(record.parentAtStart != 0 && record.parentAtStart != QCoreApplication::applicationPid());
#endif
    }

    void closeEndsRun_data()
    {
        QTest::addColumn<int>("moment");
        QTest::addColumn<bool>("byClosingWindow");
        QTest::newRow("Close button while a reply is awaited") << int(WhileAwaited) << false;
        QTest::newRow("window closed while a reply is awaited") << int(WhileAwaited) << true;
        QTest::newRow("Close button as the last reply finishes") << int(AsLastReplyFinishes) << false;
        QTest::newRow("window closed as the last reply finishes") << int(AsLastReplyFinishes) << true;
        QTest::newRow("Close button after the check") << int(AfterCheck) << false;
    }
    void closeEndsRun()
    {
        QFETCH(int, moment);
        QFETCH(bool, byClosingWindow);
        IsolatedSettings store;
        TempInstallation install;
        ServedTree served;
        install.write("localversion.txt", "1.0\n");
        served.write("version.txt", moment == WhileAwaited ? QByteArray(100000, '1') : QByteArray("1.0\n"));
        if (moment == WhileAwaited) // the check waits on a version file that never arrives whole
            updateServer().setBehaviour("/game/version.txt", Behaviour::Stall);
        // Ends a run that nothing else ends (a forgotten quit) with a failing
        // code: at once when the close was made before the event loop.
        QTimer failsafe;
        failsafe.setSingleShot(true);
        connect(&failsafe, &QTimer::timeout, [] { QCoreApplication::exit(42); });
        failsafe.start(60000);
        bool clicked = false;
        const auto click = [&]() {
            clicked = true;
            QPushButton *close = visibleButton(QStringLiteral("Close"));
            if (byClosingWindow)
                close->window()->close();
            else
                close->click();
            if (moment != AfterCheck)
                failsafe.start(0);
        };
        // While awaited: once the version file is asked for. After the check:
        // once it has enabled Play, its last step here.
        QTimer clicker;
        connect(&clicker, &QTimer::timeout, [&]() {
            QPushButton *play = visibleButton(QStringLiteral("Play"));
            if (!clicked && play && (moment == WhileAwaited ? updateServer().requests().contains("/game/version.txt") : play->isEnabled()))
                click();
        });
        if (moment != AsLastReplyFinishes)
            clicker.start(50);
        ReplyEnd lastReplyEnds(QStringLiteral("/game/version.txt"), click);
        if (moment == AsLastReplyFinishes)
            qApp->installEventFilter(&lastReplyEnds);

        QSettings settings;
        const int exitCode = runLauncher(*qApp, settings);
        clicker.stop();
        failsafe.stop();
        qApp->removeEventFilter(&lastReplyEnds);
        updateServer().releaseStalled();
        for (QWidget *window : QApplication::topLevelWidgets()) // whatever else the run left shown
            window->hide();
        QVERIFY(clicked);
        // A quit during the check ends the run without the event loop (a
        // forgotten one meets the failsafe there); one from the event loop
        // ends the loop.
        QCOMPARE(exitCode, 0);
    }

    // The icon compiled into the library reaches the program that links it,
    // in every size Windows shows (taskbar, title bar, Alt+Tab, Explorer).
    void applicationIconSizes()
    {
        QList<int> sizes;
        for (const QSize &size : startup::applicationIcon().availableSizes())
            sizes << size.width() * 1000 + size.height();
        std::sort(sizes.begin(), sizes.end());
        QCOMPARE(sizes, (QList<int>{16016, 24024, 32032, 48048, 64064, 256256}));
    }

    // The player's log keeps the last runs, each line after its time; a run
    // that fills a file goes on in a new one, and no file outgrows its cap.
    void playerLogKeepsLastRunsBounded()
    {
        QTemporaryDir data;
        const QDir logs(data.filePath("Team Quillon/Zorvan Lumeth"));
        QStringList written;
        for (int run = 1; run <= 5; ++run) {
            QVERIFY(platform::startLog(logs.path(), 200, 3));
            for (int line = 1; line <= (run < 5 ? 3 : 7); ++line) // 37 bytes each: run 5 fills 1.3 files
                qDebug().noquote() << (written << QString("run %1 line %2").arg(run).arg(line)).last();
            platform::stopLog();
        }
        qDebug("after the log");
        QCOMPARE(logs.entryList(QDir::Files), (QStringList{"launcher.1.log", "launcher.2.log", "launcher.log"}));
        const QRegularExpression time("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ", QRegularExpression::MultilineOption);
        QStringList kept;
        for (const char *name : {"launcher.2.log", "launcher.1.log", "launcher.log"}) {
            QString log = QString::fromUtf8(readFile(logs.filePath(name)));
            QVERIFY(log.size() <= 200 && log.count(time) == log.count('\n'));
            kept << log.remove(time).split('\n', Qt::SkipEmptyParts);
        }
        QCOMPARE(kept, written.mid(written.size() - 10)); // run 4 and run 5
    }

    void launcherStart_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QByteArray>("stored"); // the settings store; null: first run
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("fr_FR, first run") << "fr_FR.UTF-8" << QByteArray()
                                          << QByteArray("[General]\ngraphics=normal\nlauncher_version=1.1\n");
        QTest::newRow("de_DE, inexact version") << "de_DE.UTF-8" << QByteArray("[General]\ngraphics=Weird\nlauncher_version=\"1.1 \"\n")
                                                << QByteArray("[General]\ngraphics=Weird\nlauncher_version=1.1\n");
    }
    // The real launcher loads zorvanlauncher_fr.qm from its working directory
    // only under a French system language. It writes the settings defaults:
    // both on a first run, else only the version, keeping any graphics mode.
    void launcherStart()
    {
#ifdef Q_OS_WIN
        // The system language comes from the Wine prefix, not LANG, and the
        // store is the registry: tst_e2e_windows starts the built launcher.
        QSKIP("the language and the store of a started launcher are the prefix's under Wine");
#endif
        QFETCH(QString, lang);
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, written);
        ServedTree served; // empty: every request is answered 404
        const e2e::Installation install;
        const QString store = install.side.filePath("Team Quillon/Zorvan Lumeth.conf");
        if (!stored.isNull())
            writeFile(store, stored);
        QVERIFY(QFile::copy(kTranslation, install.file("zorvanlauncher_fr.qm")));
        e2e::LauncherRun launcher(install, updateServer().url(), {"LC_ALL=", "LANG=" + lang}); // main removed the other LC_*
        QVERIFY(launcher.start());
        // Once it asks for the version file, the window stands and the
        // translation was loaded if it ever is; a loaded one stays mapped.
        QVERIFY(QTest::qWaitFor([&] { return updateServer().requests().contains("/game/version.txt"); }, 60000));
        const QByteArray maps = readFile(QStringLiteral("/proc/%1/maps").arg(launcher.process.processId()));
        launcher.process.kill(), launcher.process.waitForFinished();
        const QString qm = QFileInfo(install.file("zorvanlauncher_fr.qm")).canonicalFilePath();
        QCOMPARE(maps.contains(QFile::encodeName(qm)), lang.startsWith("fr"));
        QCOMPARE(readFile(store), written);
    }
};

int main(int argc, char **argv)
{
    for (const QString &variable : QProcessEnvironment::systemEnvironment().keys()) // those outranking LANG
        if (variable.startsWith(QLatin1String("LC_")) || variable == QLatin1String("LANGUAGE"))
            qunsetenv(variable.toLatin1().constData());
    qputenv("LANG", "fr_FR.UTF-8");
    QApplication app(argc, argv);
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
