#pragma once

#include <QStringList>

// A stand-in for the game's executable that records its parent process,
// working directory and arguments into a record file, which appears in one
// rename, so a record that exists is complete. On Linux a shell script; on
// Windows a copy of a small native program (gamestandin_win.cpp) that finds
// the record's path, in UTF-16, in the side file "<its path>.record-path".
namespace standin {

struct Options
{
    bool executable = true; // the execute bits (Linux only)
};

// Writes the stand-in to `scriptPath`; it records into `recordPath`.
void writeGame(const QString &scriptPath, const QString &recordPath, const Options &options = {});

struct Record
{
    QStringList arguments;
    QString workingDirectory; // with "/" as separator
    qint64 parentAtStart = 0; // 0 on Windows
};

Record read(const QString &recordPath);

} // namespace standin
