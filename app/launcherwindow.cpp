#include "app/launcherwindow.h"

#include "updater/gameupdater.h"
#include "updater/serverurls.h"
#include "widgets/customcombobox.h"
#include "widgets/progressbar.h"
#include "widgets/textperso.h"

#include <QBoxLayout>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTabWidget>
#include <QTextEdit>
#include <QTextStream>

namespace {

const char *const kPatchNotesFile = "Notes des mises à jour.txt";

QPushButton *linkButton(const char *text, const char *iconFile)
{
    auto *button = new QPushButton(QObject::tr(text));
    button->setFlat(true);
    button->setIcon(QIcon(QString::fromLatin1(iconFile)));
    button->setStyleSheet(QStringLiteral("QPushButton{border:none;background:transparent;}"));
    return button;
}

QLabel *heading(const char *text)
{
    auto *label = new QLabel(QObject::tr(text));
    label->setAlignment(Qt::AlignCenter);
    label->setStyleSheet(QStringLiteral("font-weight:bold"));
    return label;
}

// The notes are shown as HTML: markup in the file is rendered.
void showPatchNotes(QTextEdit *box)
{
    QFile notes(QString::fromUtf8(kPatchNotesFile));
    if (!notes.exists())
        return;
    if (notes.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream stream(&notes);
        box->setHtml(stream.readAll());
    }
    box->setReadOnly(true);
    box->setMinimumWidth(500);
}

} // namespace

LauncherWindow buildLauncherWindow(GameUpdater &updater, QSettings &settings, textPerso &status, progressBar &progress)
{
    LauncherWindow w;
    w.window = new QWidget;
    w.window->setWindowIcon(QIcon(QStringLiteral("launcher_icon.png")));

    w.play = new QPushButton(QObject::tr("Play"));
    w.play->setEnabled(false);
    w.close = new QPushButton(QObject::tr("Close"));
    w.repair = new QPushButton(QObject::tr("Repair"));
    w.repair->setEnabled(false);

    auto *splash = new QLabel;
    splash->setPixmap(QPixmap(QStringLiteral("splash.png")));

    status.setText(QObject::tr("Checking new version."));

    // Nothing is connected yet: this download's signals reach nobody.
    updater.downloadFile(server::baseUrl() + QString::fromUtf8(kPatchNotesFile));

    w.patchNotes = new QTextEdit(QObject::tr("Patch notes."));
    showPatchNotes(w.patchNotes);

    w.website = linkButton(QT_TRANSLATE_NOOP("QObject", "Website"), "icon_site_hover.png");
    w.wiki = linkButton(QT_TRANSLATE_NOOP("QObject", "Wiki"), "icon_wiki_hover.png");
    w.discord = linkButton(QT_TRANSLATE_NOOP("QObject", "Discord"), "icon_discord_hover.png");

    w.importSave = new QPushButton(QObject::tr("Import save file"));
    w.importExternalSave = new QPushButton(QObject::tr("Import external save file"));

    w.tabs = new QTabWidget;
    auto *options = new QWidget;
    auto *optionsLayout = new QVBoxLayout;
    options->setLayout(optionsLayout);

    QLabel *graphicsHeading = heading(QT_TRANSLATE_NOOP("QObject", "Graphic options"));
    w.fullscreen = new QRadioButton(QObject::tr("Fullscreen"));
    w.normalRatio = new QRadioButton(QObject::tr("Normal ratio"));
    w.scale2 = new QRadioButton(QObject::tr("Scale x2"));
    w.scale3 = new QRadioButton(QObject::tr("Scale x3"));

    const QString mode = settings.value(QStringLiteral("graphics"), QString()).toString();
    if (mode == QLatin1String("fullscreen"))
        w.fullscreen->setChecked(true);
    else if (mode == QLatin1String("x2"))
        w.scale2->setChecked(true);
    else if (mode == QLatin1String("x3"))
        w.scale3->setChecked(true);
    else
        w.normalRatio->setChecked(true);

    QLabel *saveHeading = heading(QT_TRANSLATE_NOOP("QObject", "Save manager"));
    w.saveList = new CustomComboBox;
    w.saveList->reload();
    w.backupSave = new QPushButton(QObject::tr("Backup save"));
    w.removeSave = new QPushButton(QObject::tr("Remove save"));
    QLabel *otherHeading = heading(QT_TRANSLATE_NOOP("QObject", "Other options"));

    // Left column: links, splash, status, progress, Play and Close.
    auto *linksRow = new QHBoxLayout;
    linksRow->addWidget(w.website);
    linksRow->addWidget(w.wiki);
    linksRow->addWidget(w.discord);
    auto *linksBox = new QVBoxLayout;
    linksBox->addLayout(linksRow);

    auto *buttonsRow = new QHBoxLayout;
    buttonsRow->addWidget(w.play);
    buttonsRow->addWidget(w.close);

    auto *leftColumn = new QVBoxLayout;
    leftColumn->addLayout(linksBox);
    leftColumn->addWidget(splash);
    leftColumn->addWidget(&status);
    leftColumn->addWidget(&progress);
    leftColumn->addLayout(buttonsRow);

    // Options page.
    auto *graphicsRow = new QHBoxLayout;
    graphicsRow->addWidget(w.fullscreen);
    graphicsRow->addWidget(w.normalRatio);
    graphicsRow->addWidget(w.scale2);
    graphicsRow->addWidget(w.scale3);
    graphicsRow->setAlignment(Qt::AlignCenter);

    auto *saveButtonsRow = new QHBoxLayout;
    saveButtonsRow->addWidget(w.backupSave);
    saveButtonsRow->addWidget(w.removeSave);
    saveButtonsRow->addWidget(w.importSave);
    saveButtonsRow->addWidget(w.importExternalSave);

    optionsLayout->addWidget(graphicsHeading);
    optionsLayout->addLayout(graphicsRow);
    optionsLayout->addWidget(saveHeading);
    optionsLayout->addWidget(w.saveList);
    optionsLayout->addLayout(saveButtonsRow);
    optionsLayout->addWidget(otherHeading);
    optionsLayout->addWidget(w.repair);

    w.tabs->addTab(w.patchNotes, QObject::tr("Patch notes"));
    w.tabs->addTab(options, QObject::tr("Advanced options"));

    auto *mainRow = new QHBoxLayout;
    mainRow->addLayout(leftColumn);
    mainRow->addWidget(w.tabs);
    w.window->setLayout(mainRow);
    return w;
}
