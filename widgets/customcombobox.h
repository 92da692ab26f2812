#pragma once

#include <QComboBox>
#include <QString>

// The save list: the entries below the game's save directory, refilled on
// request; hands the selected entry on when "Import save file" is pressed.
class CustomComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit CustomComboBox(QWidget *parent = nullptr);

signals:
    void currentSave(QString);

public slots:
    void reload();
    void getCurrentSave();
};

namespace savelist {

// Whether a path yielded by the walk of "Saves" is one of the entries that
// are never offered: the walk's own "." and "..", the backup directory
// itself, and the game's two non-save files. Exact, case-sensitive.
bool isExcluded(const QString &path);

} // namespace savelist
