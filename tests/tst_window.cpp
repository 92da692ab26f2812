// The launcher window as it is built (widgets, texts, images, patch notes,
// graphics choice) and the 21 connections that tie it to the engine objects.

#include "support/testenv.h"
#include "app/launcherwindow.h"
#include "app/wiring.h"
#include "platform/dialogs.h"
#include "platform/lifecycle.h"
#include "saves/savemanager.h"
#include "updater/gameupdater.h"
#include "widgets/customcombobox.h"
#include "widgets/progressbar.h"
#include "widgets/textperso.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QMetaMethod>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QUrl>

#include <memory>

using Behaviour = LoopbackHttpServer::Behaviour;

namespace {

const QString kNotes = QStringLiteral("Notes des mises à jour.txt");
const QString kNotesPath = QStringLiteral("/game/Notes des mises à jour.txt");

// The engine objects and the window, owned the way the launcher owns them:
// the status label and the progress bar end up children of the window.
struct Launcher
{
    explicit Launcher(QSettings &settings)
        : status(new textPerso)
        , progress(new progressBar)
        , w(buildLauncherWindow(updater, settings, *status, *progress))
        , window(w.window)
    {
    }

    void wire() { wireLauncher(*qApp, updater, saves, w, *status, *progress); }

    QList<QAbstractButton *> buttons() const
    {
        return {w.play,       w.close,      w.repair,     w.website,  w.wiki,       w.discord,     w.importSave,
                w.importExternalSave, w.backupSave, w.removeSave, w.fullscreen, w.normalRatio, w.scale2, w.scale3};
    }
    QAbstractButton *button(const QString &text) const
    {
        for (QAbstractButton *b : buttons()) {
            if (b->text() == text)
                return b;
        }
        return nullptr;
    }
    // The one label without text.
    QLabel *splash() const
    {
        for (QLabel *label : window->findChildren<QLabel *>()) {
            if (label->text().isEmpty())
                return label;
        }
        return nullptr;
    }
    // The checked radio button, if exactly one is.
    QRadioButton *checkedRadio() const
    {
        QList<QRadioButton *> checked;
        for (QRadioButton *radio : {w.fullscreen, w.normalRatio, w.scale2, w.scale3}) {
            if (radio->isChecked())
                checked << radio;
        }
        return checked.size() == 1 ? checked.first() : nullptr;
    }

    GameUpdater updater;
    SaveManager saves;
    textPerso *status;
    progressBar *progress;
    LauncherWindow w;
    std::unique_ptr<QWidget> window;
};

// A temporary installation with its images, isolated settings and a served
// tree; the notes file is served unless a test says otherwise.
struct Scene
{
    explicit Scene(bool withImages = true)
    {
        served.write(kNotes, "<p>Notes</p>");
        QImage image(48, 32, QImage::Format_ARGB32);
        image.fill(QColor(30, 120, 200));
        for (const char *name : {"launcher_icon.png", "splash.png", "icon_site_hover.png", "icon_wiki_hover.png",
                                 "icon_discord_hover.png"}) {
            if (withImages)
                image.save(install.absolute(QString::fromLatin1(name)), "PNG");
        }
    }

    Launcher &build()
    {
        launcher = std::make_unique<Launcher>(settings);
        return *launcher;
    }
    Launcher &buildWired()
    {
        build().wire();
        return *launcher;
    }

    IsolatedSettings isolated;
    TempInstallation install;
    ServedTree served;
    QSettings settings;
    std::unique_ptr<Launcher> launcher;
};

// Receivers of every signal of the named objects, by "name signal".
// QObject::receivers is protected; a pointer to it taken through a derived
// class may be applied to any object.
struct ReceiverCounts : QObject
{
    static QMap<QString, int> of(const QList<QPair<QString, QObject *>> &objects)
    {
        int (QObject::*count)(const char *) const = &ReceiverCounts::receivers;
        QMap<QString, int> counts;
        for (const auto &named : objects) {
            const QMetaObject *meta = named.second->metaObject();
            for (int i = 0; i < meta->methodCount(); ++i) {
                const QMetaMethod method = meta->method(i);
                if (method.methodType() != QMetaMethod::Signal || (method.attributes() & QMetaMethod::Cloned))
                    continue;
                const QByteArray signal = "2" + method.methodSignature();
                counts[named.first + ' ' + QString::fromLatin1(method.methodSignature())] =
                    (named.second->*count)(signal.constData());
            }
        }
        return counts;
    }
};

class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    QStringList urls;

public slots:
    void open(const QUrl &url) { urls << url.toString(); }
};

class ScriptedDialogs : public platform::Dialogs
{
public:
    QString answer;
    QStringList calls;

    QString saveFileName(const QString &caption, const QString &, const QString &) override
    {
        calls << QStringLiteral("save:") + caption;
        return answer;
    }
    QString openFileName(const QString &caption, const QString &, const QString &) override
    {
        calls << QStringLiteral("open:") + caption;
        return answer;
    }
    void information(const QString &text) override { calls << QStringLiteral("info:") + text; }
};

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void widgetsAndTexts();
    void imagesMissing();
    void patchNotes_data();
    void patchNotes();
    void initialRadioButton_data();
    void initialRadioButton();

    void connectionsAreExactlyTheWiring();
    void reportsReachWidgets();
    void radioClicksStoreMode_data();
    void radioClicksStoreMode();
    void linkButtonsOpenBrowser();
    void saveButtons_data();
    void saveButtons();
    void playWithoutGame();
    void repairRunsCheck();

private:
    UrlRecorder m_browser;
    ScriptedDialogs m_dialogs;
};

void WindowTest::initTestCase()
{
    updateServer();
    // Never a real browser: every http and https URL lands here.
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_browser, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_browser, "open");
    platform::setDialogs(&m_dialogs);
}

void WindowTest::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    platform::setDialogs(nullptr);
}

void WindowTest::cleanup()
{
    m_browser.urls.clear();
    m_dialogs.answer.clear();
    m_dialogs.calls.clear();
    updateServer().clearRequests();
}

void WindowTest::widgetsAndTexts()
{
    Scene scene;
    Launcher &l = scene.build();
    const LauncherWindow &w = l.w;

    QVERIFY(!w.window->isVisible());
    // No title of its own: the title bar shows the application name.
    QCOMPARE(w.window->windowTitle(), QString());
    QVERIFY(!w.window->windowIcon().pixmap(16, 16).isNull());
    for (QPushButton *link : {w.website, w.wiki, w.discord})
        QVERIFY(!link->icon().pixmap(16, 16).isNull());
    QVERIFY(l.splash());
    QCOMPARE(l.splash()->pixmap(Qt::ReturnByValue).size(), QSize(48, 32));

    QStringList texts;
    for (QAbstractButton *button : l.buttons())
        texts << button->text();
    QCOMPARE(texts, (QStringList{"Play", "Close", "Repair", "Website", "Wiki", "Discord", "Import save file",
                                 "Import external save file", "Backup save", "Remove save", "Fullscreen",
                                 "Normal ratio", "Scale x2", "Scale x3"}));
    QVERIFY(!w.play->isEnabled());
    QVERIFY(!w.repair->isEnabled());
    QVERIFY(w.close->isEnabled());

    QCOMPARE(l.status->text(), QStringLiteral("Checking new version."));
    QCOMPARE(l.status->window(), w.window);
    QCOMPARE(l.progress->window(), w.window);
    QCOMPARE(l.progress->value(), -1);

    QCOMPARE(w.tabs->count(), 2);
    QCOMPARE(w.tabs->tabText(0), QStringLiteral("Patch notes"));
    QCOMPARE(w.tabs->tabText(1), QStringLiteral("Advanced options"));
    QCOMPARE(w.tabs->currentIndex(), 0);

    QStringList headings;
    for (QLabel *label : w.tabs->widget(1)->findChildren<QLabel *>())
        headings << label->text();
    QCOMPARE(headings, (QStringList{"Graphic options", "Save manager", "Other options"}));
    // The list's text is always one of its entries, never typed in.
    QVERIFY(!w.saveList->isEditable());

    // One parent and no group: checking one radio button unchecks the others.
    w.scale2->setChecked(true);
    QCOMPARE(l.checkedRadio(), w.scale2);
}

// Without the image files the icons and the splash image stay empty.
void WindowTest::imagesMissing()
{
    Scene scene(false);
    Launcher &l = scene.build();
    QVERIFY(l.w.window->windowIcon().pixmap(16, 16).isNull());
    for (QPushButton *link : {l.w.website, l.w.wiki, l.w.discord})
        QVERIFY(link->icon().pixmap(16, 16).isNull());
    QVERIFY(l.splash() && l.splash()->pixmap(Qt::ReturnByValue).isNull());
}

void WindowTest::patchNotes_data()
{
    QTest::addColumn<QByteArray>("served");  // null: the server answers 404
    QTest::addColumn<QByteArray>("earlier"); // null: no local copy before the start
    QTest::addColumn<bool>("localIsDirectory");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("locked"); // read-only, at least 500 pixels wide

    const QByteArray none;
    QTest::newRow("markup rendered") << QByteArray("<h2>Version 1.4</h2><p>Nouveautés : <b>épée</b></p>") << none
                                     << false << "Version 1.4\nNouveautés : épée" << true;
    QTest::newRow("line breaks run on") << QByteArray("Première ligne\nDeuxième ligne\r\nTroisième") << none << false
                                        << "Première ligne Deuxième ligne Troisième" << true;
    QTest::newRow("byte-order mark honoured") << QByteArray("\xEF\xBB\xBF" "Été à Noël") << none << false
                                              << "Été à Noël" << true;
    QTest::newRow("latin-1 not decoded") << QByteArray("\xE9t\xE9 chaud") << none << false << "\uFFFDt\uFFFD chaud"
                                         << true;
    QTest::newRow("download replaces earlier copy") << QByteArray("<p>Nouvelle</p>") << QByteArray("<p>Ancienne</p>")
                                                    << false << "Nouvelle" << true;
    QTest::newRow("404 keeps earlier copy") << none << QByteArray("<p>Ancienne</p>") << false << "Ancienne" << true;
    QTest::newRow("404 and no copy") << none << none << false << "Patch notes." << false;
    QTest::newRow("copy cannot be opened") << QByteArray("<p>Nouvelle</p>") << none << true << "Patch notes." << true;
}

void WindowTest::patchNotes()
{
    QFETCH(QByteArray, served);
    QFETCH(QByteArray, earlier);
    QFETCH(bool, localIsDirectory);
    QFETCH(QString, shown);
    QFETCH(bool, locked);

    Scene scene;
    if (served.isNull())
        updateServer().setBehaviour(kNotesPath, Behaviour::NotFound);
    else
        scene.served.write(kNotes, served);
    if (!earlier.isNull())
        scene.install.write(kNotes, earlier);
    if (localIsDirectory)
        QVERIFY(QDir(scene.install.path()).mkdir(kNotes));

    Launcher &l = scene.build();

    QCOMPARE(updateServer().requests(), QStringList{kNotesPath});
    QCOMPARE(l.w.patchNotes->toPlainText(), shown);
    QCOMPARE(l.w.patchNotes->isReadOnly(), locked);
    QCOMPARE(l.w.patchNotes->minimumWidth(), locked ? 500 : 0);
    // The download's own messages and enabling (a failed one emits
    // playOk(true)) reached nobody.
    QCOMPARE(l.status->text(), QStringLiteral("Checking new version."));
    QVERIFY(!l.w.play->isEnabled());
    if (!served.isNull() && !localIsDirectory)
        QCOMPARE(scene.install.read(kNotes), served);
    else if (!earlier.isNull())
        QCOMPARE(scene.install.read(kNotes), earlier);
}

void WindowTest::initialRadioButton_data()
{
    QTest::addColumn<QVariant>("stored"); // invalid: key missing
    QTest::addColumn<QString>("checked");

    QTest::newRow("fullscreen") << QVariant("fullscreen") << "Fullscreen";
    QTest::newRow("normal") << QVariant("normal") << "Normal ratio";
    QTest::newRow("x2") << QVariant("x2") << "Scale x2";
    QTest::newRow("x3") << QVariant("x3") << "Scale x3";
    QTest::newRow("X3 in capitals") << QVariant("X3") << "Normal ratio";
    QTest::newRow("missing") << QVariant() << "Normal ratio";
    QTest::newRow("weird") << QVariant("weird") << "Normal ratio";
}

void WindowTest::initialRadioButton()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, checked);

    Scene scene;
    if (stored.isValid())
        scene.settings.setValue(QStringLiteral("graphics"), stored);
    const QVariant before = scene.settings.value(QStringLiteral("graphics"));
    Launcher &l = scene.build();

    QVERIFY2(l.checkedRadio(), "exactly one radio button is checked");
    QCOMPARE(l.checkedRadio()->text(), checked);
    QCOMPARE(scene.settings.value(QStringLiteral("graphics")), before);
}

// Every signal of the objects involved, compared before and after the
// wiring: exactly the 21 connections, on clicked() and not on a neighbour
// such as pressed() or toggled(), each made once.
void WindowTest::connectionsAreExactlyTheWiring()
{
    Scene scene;
    Launcher &l = scene.build();
    QList<QPair<QString, QObject *>> objects{{"engine", &l.updater}, {"saves", &l.saves},     {"list", l.w.saveList},
                                             {"status", l.status},   {"progress", l.progress}, {"tabs", l.w.tabs},
                                             {"notes", l.w.patchNotes}, {"app", qApp}};
    for (QAbstractButton *button : l.buttons())
        objects << qMakePair(button->text(), static_cast<QObject *>(button));

    const QMap<QString, int> before = ReceiverCounts::of(objects);
    // The window is built before anything is connected to the engine objects.
    for (const char *own : {"engine playOk(bool)", "engine infos(QString)", "engine downloadP(qlonglong,qlonglong)",
                            "saves infos(QString)", "saves modified()", "list currentSave(QString)"})
        QCOMPARE(before.value(QString::fromLatin1(own), -1), 0);
    l.wire();
    const QMap<QString, int> after = ReceiverCounts::of(objects);

    QStringList added;
    int total = 0;
    for (auto it = after.begin(); it != after.end(); ++it) {
        const int more = it.value() - before.value(it.key());
        if (more != 0)
            added << it.key() + " +" + QString::number(more);
        total += more;
    }
    QStringList expected{"engine playOk(bool) +2", "engine infos(QString) +1", "saves infos(QString) +1",
                         "engine downloadP(qlonglong,qlonglong) +1", "list currentSave(QString) +1", "saves modified() +1"};
    for (const char *button : {"Play", "Repair", "Close", "Discord", "Wiki", "Website", "Fullscreen", "Normal ratio",
                               "Scale x2", "Scale x3", "Import external save file", "Import save file",
                               "Backup save", "Remove save"})
        expected << QString::fromLatin1(button) + " clicked(bool) +1";
    expected.sort();
    QCOMPARE(added, expected);
    QCOMPARE(total, 21);
}

// Texts, byte counts and enabling from the engine objects reach the widgets.
void WindowTest::reportsReachWidgets()
{
    Scene scene;
    Launcher &l = scene.buildWired();
    emit l.updater.downloadP(250, 1000);
    QCOMPARE(l.progress->maximum(), 1000);
    QCOMPARE(l.progress->value(), 250);

    // The status label shows the last text of either sender.
    emit l.updater.infos(QStringLiteral("Checking Game/data.pak..."));
    emit l.saves.infos(QStringLiteral("Save successfully exported."));
    QCOMPARE(l.status->text(), QStringLiteral("Save successfully exported."));
    emit l.updater.infos(QStringLiteral("Done"));
    QCOMPARE(l.status->text(), QStringLiteral("Done"));
    emit l.saves.infos(QString());
    QCOMPARE(l.status->text(), QString());

    // One playOk sets both buttons, passing its value on.
    emit l.updater.playOk(true);
    QVERIFY(l.w.play->isEnabled() && l.w.repair->isEnabled());
    emit l.updater.playOk(false);
    QVERIFY(!l.w.play->isEnabled() && !l.w.repair->isEnabled());
}

void WindowTest::radioClicksStoreMode_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("stored");
    QTest::newRow("Fullscreen") << "Fullscreen" << "fullscreen";
    QTest::newRow("Normal ratio") << "Normal ratio" << "normal";
    QTest::newRow("Scale x2") << "Scale x2" << "x2";
    QTest::newRow("Scale x3") << "Scale x3" << "x3";
}

void WindowTest::radioClicksStoreMode()
{
    QFETCH(QString, button);
    QFETCH(QString, stored);

    Scene scene;
    scene.settings.setValue(QStringLiteral("graphics"), QStringLiteral("weird"));
    Launcher &l = scene.buildWired();
    QAbstractButton *radio = l.button(button);
    radio->click();
    QCOMPARE(l.checkedRadio(), radio);
    // In the store's file as soon as the slot has returned.
    QFile file(scene.isolated.file());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("\ngraphics=" + stored.toUtf8() + '\n'));

    // Clicking the radio button that is already checked stores the mode again.
    scene.settings.setValue(QStringLiteral("graphics"), QStringLiteral("weird"));
    radio->click();
    QCOMPARE(scene.settings.value(QStringLiteral("graphics")).toString(), stored);
    // The slots report nothing.
    QCOMPARE(l.status->text(), QStringLiteral("Checking new version."));
    QVERIFY(!l.w.play->isEnabled());
}

void WindowTest::linkButtonsOpenBrowser()
{
    Scene scene;
    Launcher &l = scene.buildWired();
    l.w.website->click();
    l.w.wiki->click();
    l.w.discord->click();

    QCOMPARE(m_browser.urls, (QStringList{"http://zorvanlumeth.com/", "https://wiki.zorvanlumeth.com/fr",
                                          "https://discord.gg/zorvanlumeth"}));
    // Nothing else: no status text, no download, no quit.
    QCOMPARE(l.status->text(), QStringLiteral("Checking new version."));
    QCOMPARE(updateServer().requests(), QStringList{kNotesPath});
    QVERIFY(!lifecycle::quitRequested());
}

void WindowTest::saveButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("answer");   // the file dialog's choice
    QTest::addColumn<QString>("selected"); // the list entry selected before the click; "<none>": list emptied
    QTest::addColumn<QStringList>("dialogs");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QByteArray>("gameSave");
    QTest::addColumn<QStringList>("backups");
    QTest::addColumn<bool>("reloaded");

    const QStringList both{"Saves/Backup/monday", "Saves/Backup/tuesday"};
    const QStringList saveAs{"save:Save as"};
    const QStringList select{"open:Select save file"};
    const QByteArray game("game");
    QTest::newRow("backup") << "Backup save" << "Saves/Backup/friday" << "" << saveAs << "Save successfully exported."
                            << game << QStringList{"Saves/Backup/friday", "Saves/Backup/monday", "Saves/Backup/tuesday"}
                            << true;
    QTest::newRow("remove") << "Remove save" << "Saves/Backup/monday" << "" << select << "Save succesfully removed."
                            << game << QStringList{"Saves/Backup/tuesday"} << true;
    QTest::newRow("import external") << "Import external save file" << "elsewhere/found.sav" << "" << select
                                     << "Save successfully imported." << QByteArray("found") << both << true;
    QTest::newRow("import selected") << "Import save file" << "" << "Saves/Backup/tuesday" << QStringList{}
                                     << "Save successfully imported." << QByteArray("tuesday's") << both << true;
    // An empty list hands on an empty path, which cannot be imported; a
    // failed operation does not reload the list.
    QTest::newRow("import from empty list") << "Import save file" << "" << "<none>" << QStringList{}
                                            << "Unable to import save file. (Error 001)" << game << both << false;
}

void WindowTest::saveButtons()
{
    QFETCH(QString, button);
    QFETCH(QString, answer);
    QFETCH(QString, selected);
    QFETCH(QStringList, dialogs);
    QFETCH(QString, status);
    QFETCH(QByteArray, gameSave);
    QFETCH(QStringList, backups);
    QFETCH(bool, reloaded);

    Scene scene;
    scene.install.write("Saves/Zorvan_Party-1", "game");
    scene.install.write("Saves/Backup/monday", "monday's");
    scene.install.write("Saves/Backup/tuesday", "tuesday's");
    scene.install.write("elsewhere/found.sav", "found");
    Launcher &l = scene.buildWired();
    if (selected == QLatin1String("<none>"))
        l.w.saveList->clear();
    else if (!selected.isEmpty())
        l.w.saveList->setCurrentIndex(l.w.saveList->findText(selected));
    // Appears in the list only if it is reloaded.
    scene.install.write("Saves/late", "late");
    if (!answer.isEmpty())
        m_dialogs.answer = answer.startsWith(QLatin1String("Saves/")) ? answer : scene.install.absolute(answer);

    // Only "Import save file" goes through the list, which hands on its entry.
    QSignalSpy handedOn(l.w.saveList, &CustomComboBox::currentSave);
    l.button(button)->click();

    QCOMPARE(handedOn.count(), button == QLatin1String("Import save file") ? 1 : 0);
    QCOMPARE(m_dialogs.calls, dialogs);
    QCOMPARE(l.status->text(), status);
    QCOMPARE(scene.install.read("Saves/Zorvan_Party-1"), gameSave);
    QStringList onDisk;
    for (const QString &file : scene.install.files()) {
        if (file.startsWith(QLatin1String("Saves/Backup/")))
            onDisk << file;
    }
    QCOMPARE(onDisk, backups);
    QCOMPARE(l.w.saveList->findText(QStringLiteral("Saves/late")) >= 0, reloaded);
}

void WindowTest::playWithoutGame()
{
    Scene scene;
    Launcher &l = scene.buildWired();
    emit l.updater.playOk(true);
    l.w.play->click();

    QCOMPARE(l.status->text(),
             QStringLiteral("Unable to start Game.exe, please check your antivirus and repair files. (Error 008)"));
    QVERIFY(!lifecycle::quitRequested());
}

void WindowTest::repairRunsCheck()
{
    Scene scene;
    scene.served.write("version.txt", "2.0\n");
    scene.served.write("file_listing.xml", manifestFor({}));
    scene.install.write("localversion.txt", "2.0\n");
    Launcher &l = scene.buildWired();
    updateServer().clearRequests();
    emit l.updater.playOk(true);
    l.w.repair->click();

    const QStringList requests = updateServer().requests();
    QVERIFY2(requests.contains(QStringLiteral("/game/version.txt")), qPrintable(requests.join(", ")));
    QVERIFY2(requests.contains(QStringLiteral("/game/file_listing.xml")), qPrintable(requests.join(", ")));
    QCOMPARE(l.status->text(), QStringLiteral("Update finished. You have the latest version."));
    QCOMPARE(scene.install.read("localversion.txt"), QByteArray("2.0\n"));
    // The downloads moved the progress bar away from its reset state.
    QVERIFY(l.progress->value() >= 0);
    QVERIFY(l.w.play->isEnabled());
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
