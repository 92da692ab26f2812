#pragma once

class QComboBox;
class QPushButton;
class QRadioButton;
class QSettings;
class QTabWidget;
class QTextEdit;
class QWidget;
class CustomComboBox;
class GameUpdater;
class progressBar;
class textPerso;

// The widgets of the launcher window that the wiring and the tests reach.
struct LauncherWindow
{
    QWidget *window = nullptr;
    QPushButton *play = nullptr;
    QPushButton *close = nullptr;
    QPushButton *repair = nullptr;
    QTextEdit *patchNotes = nullptr;
    QPushButton *website = nullptr;
    QPushButton *wiki = nullptr;
    QPushButton *discord = nullptr;
    QPushButton *importSave = nullptr;
    QPushButton *importExternalSave = nullptr;
    QTabWidget *tabs = nullptr;
    QRadioButton *fullscreen = nullptr;
    QRadioButton *normalRatio = nullptr;
    QRadioButton *scale2 = nullptr;
    QRadioButton *scale3 = nullptr;
    CustomComboBox *saveList = nullptr;
    QPushButton *backupSave = nullptr;
    QPushButton *removeSave = nullptr;
};

// Builds the window, hidden, around the two widgets that main owns. On the
// way it downloads the patch notes and fills the save list; the "graphics"
// setting chooses the radio button that starts checked.
LauncherWindow buildLauncherWindow(GameUpdater &updater, QSettings &settings, textPerso &status, progressBar &progress);
