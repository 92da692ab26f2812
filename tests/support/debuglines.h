#pragma once

#include <QString>
#include <QtGlobal>
#include <QStringList>

// Records the launcher's own debug lines (the default category's, the
// toolkit's categories left out) while it lives; they are not printed.
class DebugLines
{
public:
    DebugLines();
    ~DebugLines();
    DebugLines(const DebugLines &) = delete;
    DebugLines &operator=(const DebugLines &) = delete;

    QStringList lines() const { return m_lines; }
    // The lines from the first one that starts with `label` on.
    QStringList from(const QString &label) const;

private:
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &message);
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
};

// Makes a directory refuse new files while it lives, its files staying
// writable: an immutable directory for root, who ignores permission bits,
// else one without write permission. False from active() when neither works.
class ReadOnlyDirectory
{
public:
    explicit ReadOnlyDirectory(const QString &path);
    ~ReadOnlyDirectory();
    ReadOnlyDirectory(const ReadOnlyDirectory &) = delete;
    ReadOnlyDirectory &operator=(const ReadOnlyDirectory &) = delete;
    bool active() const { return m_how != How::None; }

private:
    enum class How { None, Immutable, Mode };
    QString m_path;
    How m_how = How::None;
};
