#include "app/startup.h"

#include "app/launcherwindow.h"
#include "app/wiring.h"
#include "platform/identity.h"
#include "platform/lifecycle.h"
#include "platform/log.h"
#include "platform/logfile.h"
#include "saves/savemanager.h"
#include "updater/gameupdater.h"
#include "widgets/progressbar.h"
#include "widgets/textperso.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QPushButton>
#include <QSettings>
#include <QTextCodec>
#include <QTranslator>
#include <QWidget>

#include <memory>

// The icon is a resource of this library. A static library's resources
// reach the executable only when something refers to them, so they are
// registered by name (outside any namespace, as the registration function
// is global).
static void registerResources()
{
    Q_INIT_RESOURCE(launcher);
}

namespace startup {

QIcon applicationIcon()
{
    registerResources();
    return QIcon(QStringLiteral(":/icon.ico"));
}

const char *const kStyleSheet =
    "QWidget { background-color: white; } QCheckBox { border-radius: 0px } QLabel { border: 0px } QProgressBar { border: "
    "2px solid grey; border-radius: 5px; text-align: center} QProgressBar::chunk {background-color: #05B8CC;width: "
    "20px;} QTextEdit {border: 1px solid gray; border-radius: 2px; background-color: white} QPushButton {border: 2px "
    "solid #8f8f91;border-radius: 6px;background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1,stop: 0 #f6f7fa, "
    "stop: 1 #dadbde);min-width: 80px;}QPushButton:pressed {background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: "
    "1,stop: 0 #dadbde, stop: 1 #f6f7fa);}";

static void setIdentity()
{
    QCoreApplication::setOrganizationName(QString::fromLatin1(identity::kOrganisation));
    QCoreApplication::setOrganizationDomain(QString::fromLatin1(identity::kOrganisationDomain));
    QCoreApplication::setApplicationName(QString::fromLatin1(identity::kApplication));
}

void writeSettingsDefaults(QSettings &settings)
{
    const QString graphics = QStringLiteral("graphics");
    const QString launcherVersion = QStringLiteral("launcher_version");
    const QString version = QString::fromLatin1(identity::kLauncherVersion);
    if (!settings.contains(graphics))
        settings.setValue(graphics, QStringLiteral("normal"));
    if (!settings.contains(launcherVersion) || settings.value(launcherVersion, QString()).toString() != version)
        settings.setValue(launcherVersion, version);
}

void installTranslation(QCoreApplication &app, QTranslator &translator)
{
    const QString language = QLocale::system().name().section(QLatin1Char('_'), 0, 0);
    translator.load(QStringLiteral("zorvanlauncher_") + language, QString(), QString(), QString());
    app.installTranslator(&translator);
}

void prepareProcess()
{
    QCoreApplication::addLibraryPath(QStringLiteral("."));
    setIdentity();
    platform::startLog(platform::logDirectory());
    // At 150 % a display scales everything, not only the text; the factor
    // is kept as it is (1.5, not rounded to 2), so the window is as large
    // as the system's own windows.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

void prepareApplication(QApplication &app, QTranslator &translator)
{
    installTranslation(app, translator);
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    app.setStyleSheet(QString::fromLatin1(kStyleSheet));
    app.setWindowIcon(applicationIcon());
}

} // namespace startup

int launcherMain(int argc, char **argv)
{
    startup::prepareProcess();
    QSettings settings;
    startup::writeSettingsDefaults(settings);

    QApplication app(argc, argv);
    QTranslator translator;
    startup::prepareApplication(app, translator);
    return runLauncher(app, settings);
}

int runLauncher(QCoreApplication &app, QSettings &settings)
{
    // Kept for the whole run and released when it ends, the window last: the
    // status label and the progress bar, which belong to it through its
    // layouts, are locals that leave it before it goes.
    const auto updater = std::make_unique<GameUpdater>(nullptr);
    const auto saves = std::make_unique<SaveManager>(nullptr);
    debugLine(QStringLiteral("Démarrage du launcher"));

    std::unique_ptr<QWidget> windowOwner;
    textPerso status;
    progressBar progress;
    const LauncherWindow window = buildLauncherWindow(*updater, settings, status, progress);
    windowOwner.reset(window.window);
    wireLauncher(app, *updater, *saves, window, status, progress);
    lifecycle::watchWindow(window.window);
    lifecycle::watchQuitButton(window.close);

    debugLine(QStringLiteral("Affichage de la fenêtre"));
    window.window->show();
    updater->checkUpdate();

    // A quit asked for during the start-up check ends the launcher here; the
    // toolkit would forget it once the event loop starts.
    if (lifecycle::quitRequested())
        return 0;
    return app.exec();
}
