#pragma once

#include <QString>

namespace platform {

// The launcher's modal dialogs. The launcher uses the toolkit's dialogs;
// tests install an implementation of their own that answers without a
// person (a chosen path, a cancelled dialog, an acknowledged message).
class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // A null string means the dialog was closed without a choice.
    virtual QString saveFileName(const QString &caption, const QString &directory, const QString &filter) = 0;
    virtual QString openFileName(const QString &caption, const QString &directory, const QString &filter) = 0;
    // Shows `text` in a modal message box and returns once it is closed.
    virtual void information(const QString &text) = 0;
};

// The dialogs in use: the toolkit's unless a test installed others.
Dialogs &dialogs();

// Installs `replacement` (not owned); nullptr restores the toolkit's dialogs.
void setDialogs(Dialogs *replacement);

} // namespace platform
