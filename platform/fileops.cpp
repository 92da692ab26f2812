#include "platform/fileops.h"

#include "platform/fileops_p.h"
#include "platform/lifecycle.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

namespace platform {

namespace {

int g_patienceLimitMs = 0;

// Serves events for `ms`; false when a quit request ended the wait first.
bool pauseServingEvents(int ms)
{
    if (!QCoreApplication::instance()) {
        QThread::msleep(ulong(ms));
        return true;
    }
    QEventLoop loop;
    bool elapsed = false;
    QTimer::singleShot(ms, &loop, [&] {
        elapsed = true;
        loop.quit();
    });
    loop.exec();
    if (!elapsed)
        lifecycle::noteQuitRequested();
    return elapsed;
}

} // namespace

bool addFileName(const QString &existing, const QString &extraName)
{
    if (QFileInfo::exists(extraName) || !QFileInfo(existing).isFile())
        return false;
    if (fileops::hardLink(existing, extraName))
        return true;
    return QFile::copy(existing, extraName);
}

QDeadlineTimer patience(int ms)
{
    return QDeadlineTimer(g_patienceLimitMs > 0 ? qMin(ms, g_patienceLimitMs) : ms);
}

void limitPatienceForTests(int ms)
{
    g_patienceLimitMs = ms;
}

Try persist(const QDeadlineTimer &deadline, const std::function<Try()> &operation, bool servingEvents)
{
    for (int pause = 20;; pause = qMin(pause * 2, 1000)) {
        const Try outcome = operation();
        if (outcome != Try::Busy || deadline.hasExpired())
            return outcome;
        const int wait = int(qBound<qint64>(1, deadline.remainingTime(), pause));
        if (!servingEvents)
            QThread::msleep(ulong(wait));
        else if (lifecycle::quitRequested() || !pauseServingEvents(wait))
            return outcome;
    }
}

} // namespace platform
