#include "platform/lifecycle.h"

#include <QAbstractButton>
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
        if (event->type() != QEvent::Close)
            return false;
        // The window decides in its own handler whether it closes, after the
        // filters have seen the event: hand the event to it here and look at
        // its answer. A refused close is no request to end the launcher.
        static_cast<QObject *>(watched)->event(event);
        if (event->isAccepted())
            lifecycle::noteQuitRequested();
        return true; // delivered
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

void watchQuitButton(QAbstractButton *button)
{
    // The click also reaches QCoreApplication::quit(), which a wait that was
    // ending anyway in the same turn (a reply that had just finished) cannot
    // tell from its own end; the record here does not depend on any wait.
    QObject::connect(button, &QAbstractButton::clicked, button, [] { noteQuitRequested(); });
}

void reset()
{
    g_quitRequested = false;
}

} // namespace lifecycle
