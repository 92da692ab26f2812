#include "catalogue.h"

#include <QSet>

namespace {

QString key(const QString &context, const QString &text, const QString &disambiguation)
{
    return context + '|' + text + '|' + disambiguation;
}

// Every text of the launcher, by context and disambiguation.
QSet<QString> launcherKeys()
{
    QSet<QString> all;
    const auto add = [&](const char *context, const QString &texts, const QString &disambiguation = QString()) {
        for (const QString &text : texts.split('|'))
            all << key(QString::fromLatin1(context), text, disambiguation);
    };
    // The window.
    add("QObject",
        "Play|Close|Repair|Checking new version.|Patch notes.|Website|Wiki|Discord|Import save file|"
        "Import external save file|Graphic options|Fullscreen|Normal ratio|Scale x2|Scale x3|Save manager|Backup save|"
        "Remove save|Other options|Patch notes|Advanced options");
    // The engine's successes, the game start and the self-update.
    add("QObject",
        "You have the latest version.|Update finished. You have the latest version.|"
        "Unable to start Game.exe, please check your antivirus and repair files. (Error 008)|"
        "A new launcher update is available. The program will restart.");
    // The engine's progress and errors.
    add("GameUpdater", "Downloading  |Downloading", "When we download a file");
    add("GameUpdater", "Checking ", "When we check a file");
    add("GameUpdater",
        "Done|Download error (004). Local version available.|Download interrupted (004). Local version available.|"
        "Error when opening file (005). Local version available.|Error when writing file (005). Local version available.|"
        "Download error (006). Local version available.|Download interrupted (006). Local version available.|"
        "Error when opening file (007). Local version available.|Error when writing file (007). Local version available.|"
        "Error in the update manifesto (009).|Error in the update manifesto. (010)|Error in the update manifesto. (011)");
    // The save operations.
    add("SaveManager", "Save files (*)|Select save file");
    add("QObject",
        "Save as|Unable to export save file. (Error 001)|Unable to export save file. (Error 002)|Save successfully exported.|"
        "Unable to import save file. (Error 001)|Unable to import save file. (Error 002)|Unable to import save file. (Error 2)|"
        "Save successfully imported.|Unable to remove save file. (Error 003)|Save succesfully removed.");
    return all;
}

} // namespace

QString LauncherCatalogue::translate(const char *context, const char *sourceText, const char *disambiguation, int) const
{
    static const QSet<QString> keys = launcherKeys();
    // The toolkit looks up texts of its own in contexts of its own.
    static const QSet<QByteArray> launcherContexts{"QObject", "GameUpdater", "SaveManager", "CustomComboBox", "textPerso", "progressBar"};
    const QString looked = key(QString::fromUtf8(context), QString::fromUtf8(sourceText), QString::fromUtf8(disambiguation));
    if (launcherContexts.contains(context) && !keys.contains(looked))
        m_misplaced << looked;
    return QString(); // the text as written
}
