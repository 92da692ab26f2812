#include "catalogue.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSet>

namespace {

// The numbers of a text (its code), which every translation keeps.
QStringList numbers(const QString &text)
{
    QStringList found;
    for (auto it = QRegularExpression(QStringLiteral("\\d+")).globalMatch(text); it.hasNext();)
        found << it.next().captured();
    return found;
}

} // namespace

LauncherCatalogue::LauncherCatalogue()
{
    if (!m_french.load(QStringLiteral(ZORVAN_BUILD_DIR "/zorvanlauncher_fr.qm")))
        qFatal("cannot load the launcher's French catalogue");
    QCoreApplication::installTranslator(this);
}

QString LauncherCatalogue::translate(const char *context, const char *sourceText, const char *disambiguation, int n) const
{
    // The toolkit looks up texts of its own in contexts of its own.
    static const QSet<QByteArray> launcherContexts{"QObject", "GameUpdater", "SaveManager", "CustomComboBox", "textPerso", "progressBar"};
    const QString french = m_french.translate(context, sourceText, disambiguation, n);
    if (launcherContexts.contains(context) && (french.isEmpty() || numbers(french) != numbers(QString::fromUtf8(sourceText))))
        m_misplaced << QStringList{context, sourceText, disambiguation}.join('|');
    return QString(); // the text as written
}
