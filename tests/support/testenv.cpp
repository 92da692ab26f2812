#include "testenv.h"

#include "updater/serverurls.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTest>

LoopbackHttpServer &updateServer()
{
    static LoopbackHttpServer *server = [] {
        auto *s = new LoopbackHttpServer(QCoreApplication::instance());
        if (!s->listen())
            qFatal("cannot listen on 127.0.0.1");
        qputenv(server::kBaseUrlVariable, s->url().toUtf8());
        if (server::baseUrl() != s->url())
            qFatal("the base URL was read before the test server started");
        return s;
    }();
    return *server;
}

IsolatedSettings::IsolatedSettings()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    QCoreApplication::setOrganizationName(QStringLiteral("Team Quillon"));
    QCoreApplication::setApplicationName(QStringLiteral("Zorvan Lumeth"));
}

IsolatedSettings::~IsolatedSettings()
{
    // Leaves the store pointed at a place that no longer exists rather than
    // at the machine's own.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path() + QStringLiteral("/gone"));
}

QString IsolatedSettings::file() const
{
    return m_dir.path() + QStringLiteral("/Team Quillon/Zorvan Lumeth.conf");
}

TempInstallation::TempInstallation()
    : m_previous(QDir::currentPath())
{
    QDir::setCurrent(m_dir.path());
}

TempInstallation::~TempInstallation()
{
    QDir::setCurrent(m_previous);
}

QString TempInstallation::absolute(const QString &relative) const
{
    return QDir(m_dir.path()).filePath(relative);
}

static void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(content);
}

void TempInstallation::write(const QString &relative, const QByteArray &content) const
{
    writeFile(absolute(relative), content);
}

QByteArray TempInstallation::read(const QString &relative) const
{
    QFile file(absolute(relative));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool TempInstallation::exists(const QString &relative) const
{
    return QFileInfo::exists(absolute(relative));
}

QStringList TempInstallation::files() const
{
    QStringList result;
    QDirIterator it(m_dir.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        result << QDir(m_dir.path()).relativeFilePath(it.next());
    result.sort();
    return result;
}

ServedTree::ServedTree()
{
    updateServer().setRoot(m_dir.path());
}

ServedTree::~ServedTree()
{
    updateServer().setRoot(QString());
    updateServer().clearRoutes();
}

void ServedTree::write(const QString &relative, const QByteArray &content) const
{
    writeFile(QDir(m_dir.path()).filePath(relative), content);
}

QString ServedTree::url(const QString &relative) const
{
    return updateServer().url() + relative;
}

namespace {

QStringList *g_lines = nullptr;
QtMessageHandler g_previous = nullptr;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg && g_lines)
        g_lines->append(message);
    else if (g_previous)
        g_previous(type, context, message);
}

} // namespace

DebugCapture::DebugCapture()
{
    g_lines = new QStringList;
    g_previous = qInstallMessageHandler(collect);
}

DebugCapture::~DebugCapture()
{
    qInstallMessageHandler(g_previous);
    delete g_lines;
    g_lines = nullptr;
}

QStringList DebugCapture::lines() const
{
    return g_lines ? *g_lines : QStringList();
}

QString md5Hex(const QByteArray &content)
{
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
}

QString sha1Hex(const QByteArray &content)
{
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex());
}

QByteArray manifestFor(const QList<QPair<QString, QByteArray>> &files)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Files>\n";
    for (const auto &file : files) {
        const QString name = file.first.section(QLatin1Char('/'), -1);
        xml += "  <File Name=\"" + name.toUtf8() + "\" Path=\"/home/zorvanhost/www/game/" + file.first.toUtf8()
            + "\" MD5=\"" + md5Hex(file.second).toLatin1() + "\" SHA1=\"" + sha1Hex(file.second).toLatin1() + "\"/>\n";
    }
    return xml + "</Files>\n";
}

#include "platform/lifecycle.h"

#include <QTimer>

void clearQuitRequest()
{
    // Only the application's own loop resets the toolkit's quit flag, on
    // entry and on return.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    lifecycle::reset();
}

#include <QSignalSpy>

QStringList texts(const QSignalSpy &spy)
{
    QStringList result;
    for (const QList<QVariant> &args : spy)
        result << args.at(0).toString();
    return result;
}
