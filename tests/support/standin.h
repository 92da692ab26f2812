#pragma once

#include <QStringList>

// A stand-in for the game's executable: a shell script that records its parent
// process, working directory and arguments into a record file, which appears in
// one rename, so a record that exists is complete.
namespace standin {

struct Options
{
    bool executable = true;
};

// Writes the script to `scriptPath`; it records into `recordPath`.
void writeGame(const QString &scriptPath, const QString &recordPath, const Options &options = {});

struct Record
{
    bool present = false;
    QStringList arguments;
    QString workingDirectory;
    qint64 parentAtStart = 0;
};

Record read(const QString &recordPath);

} // namespace standin
