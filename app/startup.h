#pragma once

class QApplication;
class QCoreApplication;
class QIcon;
class QSettings;
class QTranslator;

namespace startup {

// The application style sheet, one line.
extern const char *const kStyleSheet;

// Writes the two start values: "graphics" only when missing,
// "launcher_version" whenever it is not exactly the launcher's version.
void writeSettingsDefaults(QSettings &settings);

// Loads "zorvanlauncher_" and the system language code into `translator`
// and installs it on the application, found or not.
void installTranslation(QCoreApplication &app, QTranslator &translator);

// What comes before the settings store is opened and the application
// object exists: the library path, the organisation, domain and application
// names the store is named after, the player's log (before the first
// message) and the scaling of high-DPI displays.
void prepareProcess();

// The application-wide icon ":/icon.ico", compiled into the library.
QIcon applicationIcon();

// The application's look and language: translation, locale codec, style
// sheet and window icon.
void prepareApplication(QApplication &app, QTranslator &translator);

} // namespace startup

// The launcher's whole run, from identity to the end of the event loop.
int launcherMain(int argc, char **argv);

// The run once the application object stands: engine objects, window,
// wiring, the start-up check, then the event loop unless a quit was asked
// for during the check. Returns the exit code.
int runLauncher(QCoreApplication &app, QSettings &settings);
