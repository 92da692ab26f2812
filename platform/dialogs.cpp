#include "platform/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace platform {
namespace {

class ToolkitDialogs : public Dialogs
{
public:
    QString saveFileName(const QString &caption, const QString &directory, const QString &filter) override
    {
        return QFileDialog::getSaveFileName(nullptr, caption, directory, filter);
    }

    QString openFileName(const QString &caption, const QString &directory, const QString &filter) override
    {
        return QFileDialog::getOpenFileName(nullptr, caption, directory, filter);
    }

    void information(const QString &text) override
    {
        // No parent, title, icon or buttons of our own: the toolkit supplies OK.
        QMessageBox box;
        box.setText(text);
        box.exec();
    }
};

Dialogs *g_replacement = nullptr;

} // namespace

Dialogs &dialogs()
{
    static ToolkitDialogs toolkit;
    return g_replacement ? *g_replacement : toolkit;
}

void setDialogs(Dialogs *replacement)
{
    g_replacement = replacement;
}

} // namespace platform
