#pragma once

#include <QObject>
#include <QString>

// The four operations on the game's save files. Each ends with exactly one
// status text; each success is followed by modified().
class SaveManager : public QObject
{
    Q_OBJECT

public:
    explicit SaveManager(QObject *parent = nullptr);

signals:
    void infos(QString);
    void modified();

public slots:
    void exportSave();
    void importSave(QString path);
    void importExtSave();
    void removeSave();
};

namespace saves {

// Makes `destination` a new file holding a copy of `source`, with its
// permission bits, as deleting the destination and copying would; but the
// copy is written beside the destination and takes its name in one rename
// once complete, so a failed copy leaves the previous file as it was. A
// source that is the destination itself counts as a failed copy and changes
// nothing.
bool replaceWithCopy(const QString &source, const QString &destination);

} // namespace saves
