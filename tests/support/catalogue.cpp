#include "catalogue.h"

#include <QSet>

namespace {

struct Entry
{
    const char *context;
    const char *text;
    const char *disambiguation;
};

const Entry kEntries[] = {
    // The window.
    {"QObject", "Play", ""},
    {"QObject", "Close", ""},
    {"QObject", "Repair", ""},
    {"QObject", "Checking new version.", ""},
    {"QObject", "Patch notes.", ""},
    {"QObject", "Website", ""},
    {"QObject", "Wiki", ""},
    {"QObject", "Discord", ""},
    {"QObject", "Import save file", ""},
    {"QObject", "Import external save file", ""},
    {"QObject", "Graphic options", ""},
    {"QObject", "Fullscreen", ""},
    {"QObject", "Normal ratio", ""},
    {"QObject", "Scale x2", ""},
    {"QObject", "Scale x3", ""},
    {"QObject", "Save manager", ""},
    {"QObject", "Backup save", ""},
    {"QObject", "Remove save", ""},
    {"QObject", "Other options", ""},
    {"QObject", "Patch notes", ""},
    {"QObject", "Advanced options", ""},
    // The engine's successes, the game start and the self-update.
    {"QObject", "You have the latest version.", ""},
    {"QObject", "Update finished. You have the latest version.", ""},
    {"QObject", "Unable to start Game.exe, please check your antivirus and repair files. (Error 008)", ""},
    {"QObject", "A new launcher update is available. The program will restart.", ""},
    // The engine's progress and errors.
    {"GameUpdater", "Downloading  ", "When we download a file"},
    {"GameUpdater", "Downloading", "When we download a file"},
    {"GameUpdater", "Checking ", "When we check a file"},
    {"GameUpdater", "Done", ""},
    {"GameUpdater", "Download error (004). Local version available.", ""},
    {"GameUpdater", "Download interrupted (004). Local version available.", ""},
    {"GameUpdater", "Error when opening file (005). Local version available.", ""},
    {"GameUpdater", "Error when writing file (005). Local version available.", ""},
    {"GameUpdater", "Download error (006). Local version available.", ""},
    {"GameUpdater", "Download interrupted (006). Local version available.", ""},
    {"GameUpdater", "Error when opening file (007). Local version available.", ""},
    {"GameUpdater", "Error when writing file (007). Local version available.", ""},
    {"GameUpdater", "Error in the update manifesto (009).", ""},
    {"GameUpdater", "Error in the update manifesto. (010)", ""},
    {"GameUpdater", "Error in the update manifesto. (011)", ""},
    // The save operations.
    {"QObject", "Save as", ""},
    {"SaveManager", "Save files (*)", ""},
    {"SaveManager", "Select save file", ""},
    {"QObject", "Unable to export save file. (Error 001)", ""},
    {"QObject", "Unable to export save file. (Error 002)", ""},
    {"QObject", "Save successfully exported.", ""},
    {"QObject", "Unable to import save file. (Error 001)", ""},
    {"QObject", "Unable to import save file. (Error 002)", ""},
    {"QObject", "Unable to import save file. (Error 2)", ""},
    {"QObject", "Save successfully imported.", ""},
    {"QObject", "Unable to remove save file. (Error 003)", ""},
    {"QObject", "Save succesfully removed.", ""},
};

QString key(const char *context, const char *text, const char *disambiguation)
{
    return QString::fromUtf8(context) + '|' + QString::fromUtf8(text) + '|' + QString::fromUtf8(disambiguation ? disambiguation : "");
}

} // namespace

QString LauncherCatalogue::translate(const char *context, const char *sourceText, const char *disambiguation, int) const
{
    static const QSet<QString> keys = [] {
        QSet<QString> all;
        for (const Entry &entry : kEntries)
            all << key(entry.context, entry.text, entry.disambiguation);
        return all;
    }();
    // The toolkit looks up texts of its own in contexts of its own.
    static const QSet<QByteArray> launcherContexts{"QObject", "GameUpdater", "SaveManager", "CustomComboBox", "textPerso", "progressBar"};
    const QString looked = key(context, sourceText, disambiguation);
    if (launcherContexts.contains(context) && !keys.contains(looked))
        m_misplaced << looked;
    return QString(); // the text as written
}
