#include "widgets/customcombobox.h"

#include "platform/log.h"

#include <QDirIterator>
#include <QIcon>
#include <QVariant>

namespace savelist {

bool isExcluded(const QString &path)
{
    static const char *const kExcluded[] = {
        "Saves/.", "Saves/..", "Saves/Backup/..", "Saves/Backup/.", "Saves/Backup", "Saves/input.yml", "Saves/intro.txt",
    };
    for (const char *excluded : kExcluded) {
        if (path == QLatin1String(excluded))
            return true;
    }
    return false;
}

} // namespace savelist

CustomComboBox::CustomComboBox(QWidget *parent)
    : QComboBox(parent)
{
}

void CustomComboBox::reload()
{
    clear();
    QDirIterator walk(QStringLiteral("Saves"), QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QString path = walk.next();
        if (savelist::isExcluded(path))
            continue;
        debugLine(QStringLiteral("Liste d'un fichier de sauvegarde :"), path);
        insertItem(count(), QIcon(), path, QVariant());
    }
}

void CustomComboBox::getCurrentSave()
{
    debugLine(QStringLiteral("Fichier de sauvegarde : "), currentText());
    emit currentSave(currentText());
}
