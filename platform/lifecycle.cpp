#include "platform/lifecycle.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QWidget>

namespace {

bool g_quitRequested = false;

class CloseWatcher : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // A Close event that the window accepts hides it; only then is it a
        // request to end the launcher.
        if (event->type() == QEvent::Close) {
            QWidget *window = qobject_cast<QWidget *>(watched);
            if (window && event->isAccepted())
                lifecycle::requestQuit();
        }
        return false;
    }
};

} // namespace

namespace lifecycle {

void requestQuit()
{
    g_quitRequested = true;
    QCoreApplication::quit();
}

void noteQuitRequested()
{
    g_quitRequested = true;
}

bool quitRequested()
{
    return g_quitRequested;
}

void watchWindow(QWidget *window)
{
    window->installEventFilter(new CloseWatcher(window));
}

void reset()
{
    g_quitRequested = false;
}

} // namespace lifecycle
