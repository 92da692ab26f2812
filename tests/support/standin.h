#pragma once

#include <QString>
#include <QStringList>

// A stand-in for the game's executable: a shell script that records how it
// was started (its arguments, working directory and parent process) into a
// record file, after an optional delay. The record appears in one rename,
// so a record that exists is complete.
namespace standin {

struct Options
{
    int delaySeconds = 0;
    bool executable = true;
};

// Writes the script to `scriptPath`; it records into `recordPath`.
void writeGame(const QString& scriptPath, const QString& recordPath, const Options& options = {});

struct Record
{
    bool present = false;
    QStringList arguments;
    QString workingDirectory;
    // The parent when the script started, and after its delay.
    qint64 parentAtStart = 0;
    qint64 parentAtEnd = 0;
};

Record read(const QString& recordPath);

}  // namespace standin
