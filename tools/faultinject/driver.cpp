// zorvan-faultdriver: the launcher's start-up, and then one player action,
// in a process of its own that ends when the action is over. The fault sweep
// runs it under the fault injector, once per file-system call.
//
//   zorvan-faultdriver sync             the start-up check, as the launcher runs it
//   zorvan-faultdriver repair           the start-up check, then "Repair"
//   zorvan-faultdriver backup NAME      "Backup save", NAME typed into the dialog
//   zorvan-faultdriver import ENTRY     "Import save file" with ENTRY selected
//   zorvan-faultdriver importext PATH   "Import external save file", PATH chosen
//   zorvan-faultdriver remove PATH      "Remove save", PATH chosen
//   zorvan-faultdriver play             the graphics mode "x2", then "Play"
//
// The launcher's own start-up (identity, settings, application, translation,
// window, the 21 connections) runs unchanged; the dialogs answer at once and
// the message box is acknowledged. Every status text is printed on a line of
// its own, the message box's text as "message|TEXT". Without a quit request
// the driver ends where the launcher would enter its event loop.

#include "app/launcherwindow.h"
#include "app/startup.h"
#include "app/wiring.h"
#include "platform/dialogs.h"
#include "platform/lifecycle.h"
#include "saves/savemanager.h"
#include "updater/gameupdater.h"
#include "widgets/customcombobox.h"
#include "widgets/progressbar.h"
#include "widgets/textperso.h"

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTranslator>
#include <QWidget>

#include <cstdio>

namespace {

void print(const QString &line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// Answers every dialog with the path given on the command line.
class AnsweringDialogs : public platform::Dialogs
{
public:
    explicit AnsweringDialogs(const QString &answer)
        : m_answer(answer)
    {
    }
    QString saveFileName(const QString &, const QString &, const QString &) override { return m_answer; }
    QString openFileName(const QString &, const QString &, const QString &) override { return m_answer; }
    void information(const QString &text) override { print("message|" + text); }

private:
    QString m_answer;
};

} // namespace

int main(int argc, char **argv)
{
    const QString action = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const QString argument = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const QStringList actions{"sync", "repair", "backup", "import", "importext", "remove", "play"};
    if (!actions.contains(action)) {
        std::fprintf(stderr, "usage: zorvan-faultdriver sync|repair|backup NAME|import ENTRY|importext PATH|remove PATH|play\n");
        return 2;
    }
    AnsweringDialogs dialogs(argument);
    platform::setDialogs(&dialogs);

    // As launcherMain and runLauncher do it.
    startup::prepareProcess();
    QSettings settings;
    startup::writeSettingsDefaults(settings);
    QApplication app(argc, argv);
    QTranslator translator;
    startup::prepareApplication(app, translator);

    auto *updater = new GameUpdater(nullptr);
    auto *saves = new SaveManager(nullptr);
    textPerso status;
    progressBar progress;
    const LauncherWindow window = buildLauncherWindow(*updater, settings, status, progress);
    wireLauncher(app, *updater, *saves, window, status, progress);
    lifecycle::watchWindow(window.window);
    QObject::connect(updater, &GameUpdater::infos, print);
    QObject::connect(saves, &SaveManager::infos, print);
    window.window->show();

    if (action == "sync" || action == "repair")
        updater->checkUpdate();
    if (action == "repair" && !lifecycle::quitRequested())
        window.repair->click();
    if (action == "backup")
        window.backupSave->click();
    if (action == "import") {
        window.saveList->setCurrentIndex(window.saveList->findText(argument));
        window.importSave->click();
    }
    if (action == "importext")
        window.importExternalSave->click();
    if (action == "remove")
        window.removeSave->click();
    if (action == "play") {
        window.scale2->click();
        window.play->setEnabled(true); // as the first status of a run does
        window.play->click();
    }
    return 0;
}
