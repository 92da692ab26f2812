// The launcher window as it is built (widgets, texts, layout, patch notes,
// graphics choice) and the 21 connections that tie it to the engine objects.

#include "support/testenv.h"
#include "app/launcherwindow.h"
#include "app/wiring.h"
#include "platform/dialogs.h"
#include "platform/lifecycle.h"
#include "saves/savemanager.h"
#include "updater/gameupdater.h"
#include "updater/serverurls.h"
#include "widgets/customcombobox.h"
#include "widgets/progressbar.h"
#include "widgets/textperso.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>

#include <memory>

using Behaviour = LoopbackHttpServer::Behaviour;

namespace {

const QString kNotes = QStringLiteral("Notes des mises à jour.txt");
const QString kNotesPath = QStringLiteral("/game/Notes des mises à jour.txt");
const char *const kImages[] = {"launcher_icon.png", "splash.png", "icon_site_hover.png", "icon_wiki_hover.png",
                               "icon_discord_hover.png"};

void writeImages(const TempInstallation &install)
{
    QImage image(48, 32, QImage::Format_ARGB32);
    image.fill(QColor(30, 120, 200));
    for (const char *name : kImages)
        image.save(install.absolute(QString::fromLatin1(name)), "PNG");
}

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

    GameUpdater updater;
    SaveManager saves;
    textPerso *status;
    progressBar *progress;
    LauncherWindow w;
    std::unique_ptr<QWidget> window;
};

// A temporary installation with isolated settings and a served tree; the
// notes file is served unless a test says otherwise.
struct Scene
{
    Scene()
    {
        served.write(kNotes, "<p>Notes</p>");
        writeImages(install);
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

QString storedGraphics()
{
    return QSettings(QStringLiteral("Team Quillon"), QStringLiteral("Zorvan Lumeth"))
        .value(QStringLiteral("graphics"), QStringLiteral("<missing>"))
        .toString();
}

QString describeWidget(QWidget *widget)
{
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        return button->text();
    if (qobject_cast<textPerso *>(widget))
        return QStringLiteral("status");
    if (qobject_cast<progressBar *>(widget))
        return QStringLiteral("progress");
    if (qobject_cast<CustomComboBox *>(widget))
        return QStringLiteral("saves");
    if (qobject_cast<QTabWidget *>(widget))
        return QStringLiteral("tabs");
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text().isEmpty() ? QStringLiteral("splash") : label->text();
    return QString::fromLatin1(widget->metaObject()->className());
}

// "H[...]" / "V[...]" with the items in order; "@center" marks an item
// aligned centrally, "~n" a stretch factor n.
QString describeLayout(QLayout *layout)
{
    auto *box = qobject_cast<QBoxLayout *>(layout);
    QString kind = QStringLiteral("?");
    if (qobject_cast<QHBoxLayout *>(layout))
        kind = QStringLiteral("H");
    else if (qobject_cast<QVBoxLayout *>(layout))
        kind = QStringLiteral("V");
    QStringList items;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        QString text;
        if (item->widget())
            text = describeWidget(item->widget());
        else if (item->layout())
            text = describeLayout(item->layout());
        else
            text = QStringLiteral("spacer");
        if (item->alignment() == Qt::AlignCenter)
            text = QStringLiteral("@center") + text;
        else if (item->alignment() != Qt::Alignment())
            text = QStringLiteral("@%1").arg(int(item->alignment())) + text;
        if (box && box->stretch(i) != 0)
            text += QStringLiteral("~%1").arg(box->stretch(i));
        items << text;
    }
    return kind + QLatin1Char('[') + items.join(QLatin1Char(',')) + QLatin1Char(']');
}

QList<QLabel *> headings(QWidget *page)
{
    QList<QLabel *> result;
    QLayout *layout = page->layout();
    for (int i = 0; i < layout->count(); ++i) {
        auto *label = qobject_cast<QLabel *>(layout->itemAt(i)->widget());
        if (label)
            result << label;
    }
    return result;
}

QRadioButton *checkedRadio(const LauncherWindow &w)
{
    QRadioButton *checked = nullptr;
    for (QRadioButton *radio : {w.fullscreen, w.normalRatio, w.scale2, w.scale3}) {
        if (radio->isChecked()) {
            if (checked)
                return nullptr;
            checked = radio;
        }
    }
    return checked;
}

// QObject::receivers is protected; a pointer to it taken through a derived
// class may be applied to any object.
struct ReceiverCount : QObject
{
    static int of(const QObject *object, const char *signal)
    {
        int (QObject::*count)(const char *) const = &ReceiverCount::receivers;
        return (object->*count)(signal);
    }
};

class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls << url; }
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

class EnabledOrder : public QObject
{
public:
    QStringList order;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *button = qobject_cast<QAbstractButton *>(watched);
        if (event->type() == QEvent::EnabledChange && button)
            order << button->text();
        return false;
    }
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
    void layoutTree();
    void imagesMissing();
    void saveListFilledAtBuild();
    void patchNotes_data();
    void patchNotes();
    void patchNotesMarkupRendered();
    void initialRadioButton_data();
    void initialRadioButton();

    void connectionsAreExactlyTheWiring();
    void playAndRepairWaitForPlayOk();
    void statusShowsLastSender();
    void progressFollowsDownloads();
    void radioClicksStoreMode_data();
    void radioClicksStoreMode();
    void linkButtonsOpenBrowser();
    void saveButtons_data();
    void saveButtons();
    void importedFromCurrentSaveSignal();
    void modifiedReloadsList();
    void closeQuits();
    void playWithoutGame_data();
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

    QVERIFY(w.window->isWindow());
    QVERIFY(!w.window->isVisible());
    QCOMPARE(w.window->parent(), nullptr);
    QCOMPARE(w.window->windowTitle(), QString());
    QVERIFY(!w.window->windowIcon().pixmap(16, 16).isNull());

    QCOMPARE(w.play->text(), QStringLiteral("Play"));
    QVERIFY(!w.play->isEnabled());
    QCOMPARE(w.close->text(), QStringLiteral("Close"));
    QVERIFY(w.close->isEnabled());
    QCOMPARE(w.repair->text(), QStringLiteral("Repair"));
    QVERIFY(!w.repair->isEnabled());
    QCOMPARE(w.importSave->text(), QStringLiteral("Import save file"));
    QCOMPARE(w.importExternalSave->text(), QStringLiteral("Import external save file"));
    QCOMPARE(w.backupSave->text(), QStringLiteral("Backup save"));
    QCOMPARE(w.removeSave->text(), QStringLiteral("Remove save"));

    const QList<QPair<QPushButton *, QString>> links{
        {w.website, "Website"}, {w.wiki, "Wiki"}, {w.discord, "Discord"}};
    for (const auto &link : links) {
        QCOMPARE(link.first->text(), link.second);
        QVERIFY(link.first->isFlat());
        QVERIFY(!link.first->icon().pixmap(16, 16).isNull());
        // Blanks and a last ";" do not change the sheet.
        QString sheet = link.first->styleSheet();
        sheet.remove(QLatin1Char(' '));
        sheet.replace(QLatin1String(";}"), QLatin1String("}"));
        QCOMPARE(sheet, QStringLiteral("QPushButton{border:none;background:transparent}"));
    }

    QCOMPARE(l.status->text(), QStringLiteral("Checking new version."));
    QCOMPARE(l.status->parentWidget(), w.window);
    QCOMPARE(l.progress->parentWidget(), w.window);
    QCOMPARE(l.progress->value(), -1);
    QCOMPARE(l.progress->maximum(), 100);

    QCOMPARE(w.tabs->count(), 2);
    QCOMPARE(w.tabs->tabText(0), QStringLiteral("Patch notes"));
    QCOMPARE(w.tabs->tabText(1), QStringLiteral("Advanced options"));
    QCOMPARE(w.tabs->currentIndex(), 0);
    QCOMPARE(w.tabs->widget(0), static_cast<QWidget *>(w.patchNotes));

    QWidget *options = w.tabs->widget(1);
    QVERIFY(qobject_cast<QVBoxLayout *>(options->layout()));
    QStringList headingTexts;
    for (QLabel *label : headings(options)) {
        headingTexts << label->text();
        QCOMPARE(label->alignment(), Qt::Alignment(Qt::AlignCenter));
        QCOMPARE(label->styleSheet(), QStringLiteral("font-weight:bold"));
    }
    QCOMPARE(headingTexts, (QStringList{"Graphic options", "Save manager", "Other options"}));

    const QList<QPair<QRadioButton *, QString>> radios{
        {w.fullscreen, "Fullscreen"}, {w.normalRatio, "Normal ratio"}, {w.scale2, "Scale x2"}, {w.scale3, "Scale x3"}};
    for (const auto &radio : radios) {
        QCOMPARE(radio.first->text(), radio.second);
        QCOMPARE(radio.first->parentWidget(), options);
        QVERIFY(radio.first->autoExclusive());
        QCOMPARE(radio.first->group(), nullptr);
    }
    QCOMPARE(w.saveList->parentWidget(), options);
    QCOMPARE(w.repair->parentWidget(), options);
    QVERIFY(!w.saveList->isEditable());

    // One parent and no group: checking another radio button unchecks the first.
    w.scale2->setChecked(true);
    QCOMPARE(checkedRadio(w), w.scale2);
}

void WindowTest::layoutTree()
{
    Scene scene;
    Launcher &l = scene.build();

    QCOMPARE(describeLayout(l.w.window->layout()),
             QStringLiteral("H[V[V[H[Website,Wiki,Discord]],splash,status,progress,H[Play,Close]],tabs]"));
    QCOMPARE(describeLayout(l.w.tabs->widget(1)->layout()),
             QStringLiteral("V[Graphic options,@centerH[Fullscreen,Normal ratio,Scale x2,Scale x3],Save manager,saves,"
                            "H[Backup save,Remove save,Import save file,Import external save file],Other options,"
                            "Repair]"));

    // The splash label carries the image.
    auto *left = l.w.window->layout()->itemAt(0)->layout();
    auto *splash = qobject_cast<QLabel *>(left->itemAt(1)->widget());
    QVERIFY(splash);
    QCOMPARE(splash->pixmap(Qt::ReturnByValue).size(), QSize(48, 32));
}

void WindowTest::imagesMissing()
{
    Scene scene;
    for (const char *name : kImages)
        QFile::remove(scene.install.absolute(QString::fromLatin1(name)));
    Launcher &l = scene.build();

    // The toolkit keeps an icon object for a missing file, but it draws nothing.
    QVERIFY(l.w.window->windowIcon().pixmap(16, 16).isNull());
    QVERIFY(l.w.website->icon().pixmap(16, 16).isNull());
    QVERIFY(l.w.wiki->icon().pixmap(16, 16).isNull());
    QVERIFY(l.w.discord->icon().pixmap(16, 16).isNull());
    QCOMPARE(l.w.website->text(), QStringLiteral("Website"));
    auto *splash = qobject_cast<QLabel *>(l.w.window->layout()->itemAt(0)->layout()->itemAt(1)->widget());
    QVERIFY(splash);
    QVERIFY(splash->pixmap(Qt::ReturnByValue).isNull());
}

void WindowTest::saveListFilledAtBuild()
{
    Scene scene;
    scene.install.write("Saves/Zorvan_Party-1", "game");
    scene.install.write("Saves/input.yml", "keys");
    scene.install.write("Saves/Backup/monday", "old");
    Launcher &l = scene.build();

    QStringList entries;
    for (int i = 0; i < l.w.saveList->count(); ++i)
        entries << l.w.saveList->itemText(i);
    entries.sort();
    QCOMPARE(entries, (QStringList{"Saves/Backup/monday", "Saves/Zorvan_Party-1"}));
    QCOMPARE(l.w.saveList->currentIndex(), 0);
}

void WindowTest::patchNotes_data()
{
    QTest::addColumn<QByteArray>("served");  // null: the server answers 404
    QTest::addColumn<QByteArray>("earlier"); // null: no local copy before the start
    QTest::addColumn<bool>("localIsDirectory");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<int>("minimumWidth");

    QTest::newRow("markup rendered") << QByteArray("<h2>Version 1.4</h2><p>Nouveautés : <b>épée</b></p>") << QByteArray()
                                     << false << QStringLiteral("Version 1.4\nNouveautés : épée") << true << 500;
    QTest::newRow("line breaks run on") << QByteArray("Première ligne\nDeuxième ligne\r\nTroisième") << QByteArray()
                                        << false << QStringLiteral("Première ligne Deuxième ligne Troisième") << true
                                        << 500;
    QTest::newRow("byte-order mark honoured") << QByteArray("\xEF\xBB\xBF" "Été à Noël") << QByteArray() << false
                                              << QStringLiteral("Été à Noël") << true << 500;
    QTest::newRow("latin-1 not decoded") << QByteArray("\xE9t\xE9 chaud") << QByteArray() << false
                                         << QStringLiteral("\uFFFDt\uFFFD chaud") << true << 500;
    QTest::newRow("download replaces earlier copy") << QByteArray("<p>Nouvelle</p>") << QByteArray("<p>Ancienne</p>")
                                                    << false << QStringLiteral("Nouvelle") << true << 500;
    QTest::newRow("404 keeps earlier copy") << QByteArray() << QByteArray("<p>Ancienne</p>") << false
                                            << QStringLiteral("Ancienne") << true << 500;
    QTest::newRow("404 and no copy") << QByteArray() << QByteArray() << false << QStringLiteral("Patch notes.") << false
                                     << 0;
    QTest::newRow("copy cannot be opened") << QByteArray("<p>Nouvelle</p>") << QByteArray() << true
                                           << QStringLiteral("Patch notes.") << true << 500;
}

void WindowTest::patchNotes()
{
    QFETCH(QByteArray, served);
    QFETCH(QByteArray, earlier);
    QFETCH(bool, localIsDirectory);
    QFETCH(QString, shown);
    QFETCH(bool, readOnly);
    QFETCH(int, minimumWidth);

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
    QCOMPARE(l.w.patchNotes->isReadOnly(), readOnly);
    QCOMPARE(l.w.patchNotes->minimumWidth(), minimumWidth);
    // The download's own messages reached nobody.
    QCOMPARE(l.status->text(), QStringLiteral("Checking new version."));
    QVERIFY(!l.w.play->isEnabled());
    if (!served.isNull() && !localIsDirectory)
        QCOMPARE(scene.install.read(kNotes), served);
    else if (!earlier.isNull())
        QCOMPARE(scene.install.read(kNotes), earlier);
}

void WindowTest::patchNotesMarkupRendered()
{
    Scene scene;
    scene.served.write(kNotes, "<h1>Version 1.4</h1>\n<p>Une <b>épée</b> neuve</p>");
    Launcher &l = scene.build();

    QTextDocument *document = l.w.patchNotes->document();
    QCOMPARE(document->firstBlock().text(), QStringLiteral("Version 1.4"));
    QCOMPARE(document->firstBlock().blockFormat().headingLevel(), 1);
    const QTextCursor bold = document->find(QStringLiteral("épée"));
    QVERIFY(!bold.isNull());
    QCOMPARE(bold.charFormat().fontWeight(), int(QFont::Bold));
    const QTextCursor plain = document->find(QStringLiteral("neuve"));
    QCOMPARE(plain.charFormat().fontWeight(), int(QFont::Normal));
    QVERIFY(!document->toPlainText().contains(QLatin1String("<b>")));
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
    QTest::newRow("Fullscreen in capitals") << QVariant("Fullscreen") << "Normal ratio";
    QTest::newRow("empty") << QVariant("") << "Normal ratio";
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
    const QString before = storedGraphics();
    Launcher &l = scene.build();

    QRadioButton *radio = checkedRadio(l.w);
    QVERIFY2(radio, "exactly one radio button is checked");
    QCOMPARE(radio->text(), checked);
    QCOMPARE(storedGraphics(), before);
}

void WindowTest::connectionsAreExactlyTheWiring()
{
    Scene scene;
    Launcher &l = scene.build();
    const LauncherWindow &w = l.w;

    struct Probe
    {
        QString name;
        const QObject *object;
        const char *signal;
        int added; // connections the wiring adds
    };
    const QList<QPushButton *> clickedOnce{w.play,       w.close,      w.repair,           w.website,
                                           w.wiki,       w.discord,    w.importSave,       w.importExternalSave,
                                           w.backupSave, w.removeSave};
    const QList<QRadioButton *> radios{w.fullscreen, w.normalRatio, w.scale2, w.scale3};

    QList<Probe> probes{
        {"updater playOk", &l.updater, SIGNAL(playOk(bool)), 2},
        {"updater downloadP", &l.updater, SIGNAL(downloadP(qint64, qint64)), 1},
        {"updater infos", &l.updater, SIGNAL(infos(QString)), 1},
        {"saves infos", &l.saves, SIGNAL(infos(QString)), 1},
        {"saves modified", &l.saves, SIGNAL(modified()), 1},
        {"list currentSave", w.saveList, SIGNAL(currentSave(QString)), 1},
        {"list activated", w.saveList, SIGNAL(activated(int)), 0},
        {"list currentIndexChanged", w.saveList, SIGNAL(currentIndexChanged(int)), 0},
        {"list currentTextChanged", w.saveList, SIGNAL(currentTextChanged(QString)), 0},
        {"tabs currentChanged", w.tabs, SIGNAL(currentChanged(int)), 0},
        {"progress valueChanged", l.progress, SIGNAL(valueChanged(int)), 0},
        {"status linkActivated", l.status, SIGNAL(linkActivated(QString)), 0},
        {"notes textChanged", w.patchNotes, SIGNAL(textChanged()), 0},
        {"app aboutToQuit", qApp, SIGNAL(aboutToQuit()), 0},
    };
    QList<QAbstractButton *> buttons;
    for (QPushButton *button : clickedOnce)
        buttons << button;
    for (QRadioButton *radio : radios)
        buttons << radio;
    for (QAbstractButton *button : buttons) {
        probes << Probe{button->text() + " clicked", button, SIGNAL(clicked(bool)), 1};
        probes << Probe{button->text() + " pressed", button, SIGNAL(pressed()), 0};
        probes << Probe{button->text() + " released", button, SIGNAL(released()), 0};
        probes << Probe{button->text() + " toggled", button, SIGNAL(toggled(bool)), 0};
    }

    // Nothing of ours is connected while the window is built.
    QStringList before;
    for (const Probe &probe : probes)
        before << probe.name + " " + QString::number(ReceiverCount::of(probe.object, probe.signal));
    l.wire();

    QStringList added;
    QStringList expected;
    int total = 0;
    for (int i = 0; i < probes.size(); ++i) {
        const int was = before.at(i).section(QLatin1Char(' '), -1).toInt();
        added << probes.at(i).name + " +" + QString::number(ReceiverCount::of(probes.at(i).object, probes.at(i).signal) - was);
        expected << probes.at(i).name + " +" + QString::number(probes.at(i).added);
        total += probes.at(i).added;
    }
    QCOMPARE(added, expected);
    QCOMPARE(total, 21);
    const QStringList ownUnconnected{"updater playOk 0", "updater downloadP 0", "updater infos 0",
                                     "saves infos 0",    "saves modified 0",    "list currentSave 0"};
    for (const QString &own : ownUnconnected)
        QVERIFY2(before.contains(own), qPrintable(own));
}

void WindowTest::playAndRepairWaitForPlayOk()
{
    Scene scene;
    // A failed notes download emits playOk(true) before anything is wired.
    updateServer().setBehaviour(kNotesPath, Behaviour::NotFound);
    Launcher &l = scene.buildWired();
    QVERIFY(!l.w.play->isEnabled());
    QVERIFY(!l.w.repair->isEnabled());

    EnabledOrder order;
    l.w.play->installEventFilter(&order);
    l.w.repair->installEventFilter(&order);
    emit l.updater.playOk(true);
    const QStringList enabledOrder = order.order;
    const bool playEnabled = l.w.play->isEnabled();
    const bool repairEnabled = l.w.repair->isEnabled();
    emit l.updater.playOk(false);

    QVERIFY(playEnabled);
    QVERIFY(repairEnabled);
    QCOMPARE(enabledOrder, (QStringList{"Play", "Repair"}));
    QVERIFY(!l.w.play->isEnabled());
    QVERIFY(!l.w.repair->isEnabled());
}

void WindowTest::statusShowsLastSender()
{
    Scene scene;
    Launcher &l = scene.buildWired();
    QStringList shown;
    emit l.updater.infos(QStringLiteral("Checking Game/data.pak..."));
    shown << l.status->text();
    emit l.saves.infos(QStringLiteral("Save successfully exported."));
    shown << l.status->text();
    emit l.updater.infos(QStringLiteral("Done"));
    shown << l.status->text();
    emit l.saves.infos(QString());
    shown << l.status->text();

    QCOMPARE(shown, (QStringList{"Checking Game/data.pak...", "Save successfully exported.", "Done", ""}));
}

void WindowTest::progressFollowsDownloads()
{
    Scene scene;
    Launcher &l = scene.buildWired();
    emit l.updater.downloadP(250, 1000);
    QCOMPARE(l.progress->maximum(), 1000);
    QCOMPARE(l.progress->value(), 250);
    emit l.updater.downloadP(3000, 6000);
    QCOMPARE(l.progress->maximum(), 6000);
    QCOMPARE(l.progress->value(), 3000);
}

void WindowTest::radioClicksStoreMode_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("stored");
    QTest::newRow("Fullscreen") << "fullscreen" << "fullscreen";
    QTest::newRow("Normal ratio") << "normal" << "normal";
    QTest::newRow("Scale x2") << "x2" << "x2";
    QTest::newRow("Scale x3") << "x3" << "x3";
}

void WindowTest::radioClicksStoreMode()
{
    QFETCH(QString, button);
    QFETCH(QString, stored);

    Scene scene;
    scene.settings.setValue(QStringLiteral("graphics"), QStringLiteral("weird"));
    Launcher &l = scene.buildWired();
    QRadioButton *radio = button == "fullscreen" ? l.w.fullscreen
        : button == "normal"                     ? l.w.normalRatio
        : button == "x2"                         ? l.w.scale2
                                                 : l.w.scale3;
    radio->click();
    const QString first = storedGraphics();
    const bool checked = radio->isChecked();
    // Clicking the radio button that is already checked stores the mode again.
    scene.settings.setValue(QStringLiteral("graphics"), QStringLiteral("weird"));
    radio->click();

    QCOMPARE(first, stored);
    QVERIFY(checked);
    QCOMPARE(storedGraphics(), stored);
    QCOMPARE(checkedRadio(l.w), radio);
}

void WindowTest::linkButtonsOpenBrowser()
{
    Scene scene;
    Launcher &l = scene.buildWired();
    l.w.website->click();
    l.w.wiki->click();
    l.w.discord->click();

    QCOMPARE(m_browser.urls.size(), 3);
    const QUrl site = m_browser.urls.at(0);
    const QUrl wiki = m_browser.urls.at(1);
    const QUrl discord = m_browser.urls.at(2);
    QCOMPARE(site.scheme(), QStringLiteral("http"));
    QCOMPARE(site.host(), QUrl(QString::fromLatin1(server::kShippedBaseUrl)).host());
    QVERIFY(site.path().isEmpty() || site.path() == QLatin1String("/"));
    QCOMPARE(wiki.scheme(), QStringLiteral("https"));
    QCOMPARE(wiki.path(), QStringLiteral("/fr"));
    QCOMPARE(discord.scheme(), QStringLiteral("https"));
    QVERIFY(discord.host() != wiki.host());
    QVERIFY(!discord.host().isEmpty());
    QCOMPARE(updateServer().requests(), QStringList{kNotesPath});
}

void WindowTest::saveButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("answer"); // the file dialog's choice; "<cancel>" closes it
    QTest::addColumn<QString>("selected"); // the list entry selected before the click
    QTest::addColumn<QStringList>("dialogs");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QByteArray>("gameSave");
    QTest::addColumn<QStringList>("backups");
    QTest::addColumn<bool>("reloaded");

    const QStringList both{"Saves/Backup/monday", "Saves/Backup/tuesday"};
    QTest::newRow("backup") << "Backup save" << "Saves/Backup/friday" << "" << QStringList{"save:Save as"}
                            << "Save successfully exported." << QByteArray("game")
                            << QStringList{"Saves/Backup/friday", "Saves/Backup/monday", "Saves/Backup/tuesday"} << true;
    QTest::newRow("backup cancelled") << "Backup save" << "<cancel>" << "" << QStringList{"save:Save as"}
                                      << "Unable to export save file. (Error 001)" << QByteArray("game") << both
                                      << false;
    QTest::newRow("remove") << "Remove save" << "Saves/Backup/monday" << "" << QStringList{"open:Select save file"}
                            << "Save succesfully removed." << QByteArray("game")
                            << QStringList{"Saves/Backup/tuesday"} << true;
    QTest::newRow("remove outside backups") << "Remove save" << "Saves/Zorvan_Party-1" << ""
                                            << QStringList{"open:Select save file"}
                                            << "Unable to remove save file. (Error 003)" << QByteArray("game") << both
                                            << false;
    QTest::newRow("import external") << "Import external save file" << "elsewhere/found.sav" << ""
                                     << QStringList{"open:Select save file"} << "Save successfully imported."
                                     << QByteArray("found") << both << true;
    QTest::newRow("import external cancelled") << "Import external save file" << "<cancel>" << ""
                                               << QStringList{"open:Select save file"}
                                               << "Unable to import save file. (Error 001)" << QByteArray("game")
                                               << both << false;
    QTest::newRow("import selected") << "Import save file" << "" << "Saves/Backup/tuesday" << QStringList{}
                                     << "Save successfully imported." << QByteArray("tuesday's") << both << true;
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
    if (!selected.isEmpty())
        l.w.saveList->setCurrentIndex(l.w.saveList->findText(selected));
    // Appears in the list only if it is reloaded.
    scene.install.write("Saves/late", "late");
    m_dialogs.answer = answer == QLatin1String("<cancel>") ? QString() : scene.install.absolute(answer);
    if (answer.startsWith(QLatin1String("Saves/")))
        m_dialogs.answer = answer;

    QPushButton *target = nullptr;
    for (QPushButton *candidate : {l.w.backupSave, l.w.removeSave, l.w.importSave, l.w.importExternalSave}) {
        if (candidate->text() == button)
            target = candidate;
    }
    QVERIFY(target);
    target->click();

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

void WindowTest::importedFromCurrentSaveSignal()
{
    Scene scene;
    scene.install.write("Saves/Zorvan_Party-1", "game");
    scene.install.write("Saves/Backup/monday", "monday's");
    Launcher &l = scene.buildWired();
    emit l.w.saveList->currentSave(QStringLiteral("Saves/Backup/monday"));
    QCOMPARE(scene.install.read("Saves/Zorvan_Party-1"), QByteArray("monday's"));
    QCOMPARE(l.status->text(), QStringLiteral("Save successfully imported."));

    // An empty list hands on an empty path, which cannot be imported.
    l.w.saveList->clear();
    l.w.importSave->click();
    QCOMPARE(l.status->text(), QStringLiteral("Unable to import save file. (Error 001)"));
}

void WindowTest::modifiedReloadsList()
{
    Scene scene;
    scene.install.write("Saves/Zorvan_Party-1", "game");
    Launcher &l = scene.buildWired();
    QCOMPARE(l.w.saveList->count(), 1);
    scene.install.write("Saves/Backup/new", "new");
    emit l.saves.modified();
    QVERIFY(l.w.saveList->findText(QStringLiteral("Saves/Backup/new")) >= 0);
}

void WindowTest::closeQuits()
{
    Scene scene;
    Launcher &l = scene.buildWired();
    QEventLoop loop;
    // The click ends the loop with the application's quit code 0; without
    // it the guard ends it with 7.
    QTimer::singleShot(0, l.w.close, &QPushButton::click);
    QTimer::singleShot(5000, &loop, [&loop] { loop.exit(7); });
    const int code = loop.exec();
    clearQuitRequest();
    QCOMPARE(code, 0);
}

void WindowTest::playWithoutGame_data()
{
    QTest::addColumn<bool>("emptyGame");
    QTest::newRow("missing Game.exe") << false;
    QTest::newRow("empty Game.exe") << true;
}

void WindowTest::playWithoutGame()
{
    QFETCH(bool, emptyGame);
    Scene scene;
    if (emptyGame)
        scene.install.write("Game.exe", QByteArray());
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
