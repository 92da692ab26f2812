#include "app/wiring.h"

#include "app/launcherwindow.h"
#include "saves/savemanager.h"
#include "updater/gameupdater.h"
#include "widgets/customcombobox.h"
#include "widgets/progressbar.h"
#include "widgets/textperso.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QRadioButton>

void wireLauncher(QCoreApplication &app, GameUpdater &updater, SaveManager &saves, const LauncherWindow &w, textPerso &status,
                  progressBar &progress)
{
    QObject::connect(&updater, &GameUpdater::playOk, w.play, &QWidget::setEnabled);
    QObject::connect(&updater, &GameUpdater::playOk, w.repair, &QWidget::setEnabled);
    QObject::connect(&updater, &GameUpdater::infos, &status, &textPerso::displayText);
    QObject::connect(&saves, &SaveManager::infos, &status, &textPerso::displayText);
    QObject::connect(w.play, &QPushButton::clicked, &updater, &GameUpdater::gameStart);
    QObject::connect(w.repair, &QPushButton::clicked, &updater, &GameUpdater::forceUpdate);
    QObject::connect(w.close, &QPushButton::clicked, &app, &QCoreApplication::quit);
    QObject::connect(&updater, &GameUpdater::downloadP, &progress, &progressBar::setProgress);
    QObject::connect(w.discord, &QPushButton::clicked, &updater, &GameUpdater::openDiscord);
    QObject::connect(w.wiki, &QPushButton::clicked, &updater, &GameUpdater::openWiki);
    QObject::connect(w.website, &QPushButton::clicked, &updater, &GameUpdater::openSite);
    QObject::connect(w.fullscreen, &QRadioButton::clicked, &updater, &GameUpdater::graph_fullscreen);
    QObject::connect(w.normalRatio, &QRadioButton::clicked, &updater, &GameUpdater::graph_normal);
    QObject::connect(w.scale2, &QRadioButton::clicked, &updater, &GameUpdater::graph_scale2);
    QObject::connect(w.scale3, &QRadioButton::clicked, &updater, &GameUpdater::graph_scale3);
    QObject::connect(w.importExternalSave, &QPushButton::clicked, &saves, &SaveManager::importExtSave);
    QObject::connect(w.importSave, &QPushButton::clicked, w.saveList, &CustomComboBox::getCurrentSave);
    QObject::connect(w.saveList, &CustomComboBox::currentSave, &saves, &SaveManager::importSave);
    QObject::connect(w.backupSave, &QPushButton::clicked, &saves, &SaveManager::exportSave);
    QObject::connect(w.removeSave, &QPushButton::clicked, &saves, &SaveManager::removeSave);
    QObject::connect(&saves, &SaveManager::modified, w.saveList, &CustomComboBox::reload);
}
