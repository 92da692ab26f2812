#pragma once

class QAbstractButton;
class QWidget;

// The launcher's own memory of a request to end the process.
//
// QCoreApplication::quit() only ends the event loops that are running; a
// request made while the start-up check runs (before the main event loop
// exists) would otherwise be forgotten, and closing the last window quits
// only from inside the main event loop. Every quit the launcher asks for goes
// through requestQuit(); the Close button and the window are watched, so that
// their requests are recorded whichever event loop delivers them.
namespace lifecycle {

// Records the request and asks the application to quit.
void requestQuit();

// Records a request made by someone else, for example a download whose wait
// was ended before its reply finished.
void noteQuitRequested();

bool quitRequested();

// Treats the closing of `window`, once the window has accepted it, as a quit
// request, also before the main event loop runs.
void watchWindow(QWidget *window);

// Records a click on `button`, whose click also asks the application to quit.
void watchQuitButton(QAbstractButton *button);

// Forgets an earlier request (tests run several launchers in one process).
void reset();

} // namespace lifecycle
