// The French translation: found by the launcher's own look-up under a
// French system locale, and shown by the window and the status line.
//
// The system locale is read from the environment once per process, so this
// test sets LANG=fr_FR.UTF-8 itself before the application object exists.

#include "support/testenv.h"
#include "app/launcherwindow.h"
#include "app/startup.h"
#include "saves/savemanager.h"
#include "updater/gameupdater.h"
#include "widgets/customcombobox.h"
#include "widgets/progressbar.h"
#include "widgets/textperso.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTranslator>
#include <QXmlStreamReader>

#include <memory>

#ifdef Q_OS_LINUX
#include <sys/inotify.h>
#include <unistd.h>
#endif

using Behaviour = LoopbackHttpServer::Behaviour;

namespace {

const QString kCompiled = QStringLiteral(ZORVAN_BUILD_DIR "/zorvanlauncher_fr.qm");
const QString kSource = QStringLiteral(ZORVAN_SOURCE_DIR "/translations/zorvanlauncher_fr.ts");

// Unsets every variable that outranks LANG for the locale.
void clearLocaleVariables()
{
    for (const QString &entry : QProcessEnvironment::systemEnvironment().keys()) {
        if (entry.startsWith(QLatin1String("LC_")) || entry == QLatin1String("LANGUAGE"))
            qunsetenv(entry.toLatin1().constData());
    }
}

void placeTranslation(const TempInstallation &install, const QString &name)
{
    QDir().mkpath(QFileInfo(install.absolute(name)).absolutePath());
    QVERIFY(QFile::copy(kCompiled, install.absolute(name)));
}

struct Message
{
    QString context;
    QString source;
    QString comment;
    QString translation;
    QString type;
};

QList<Message> readSource()
{
    QList<Message> messages;
    QFile file(kSource);
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    QXmlStreamReader xml(&file);
    QString context;
    Message current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            current = Message{context, {}, {}, {}, {}};
        } else if (xml.name() == QLatin1String("source")) {
            current.source = xml.readElementText();
        } else if (xml.name() == QLatin1String("comment")) {
            current.comment = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            current.type = xml.attributes().value(QLatin1String("type")).toString();
            current.translation = xml.readElementText();
            messages << current;
        }
    }
    return messages;
}

QStringList errorCodes(const QString &text)
{
    QStringList codes;
    QRegularExpressionMatchIterator it = QRegularExpression(QStringLiteral("\\d+")).globalMatch(text);
    while (it.hasNext())
        codes << it.next().captured(0);
    return codes;
}

} // namespace

class TranslationTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sourceIsComplete();
    void lookUpInWorkingDirectory_data();
    void lookUpInWorkingDirectory();
    void windowInFrench();
    void statusTextsInFrench();
    void saveTextsInFrench();
    void launcherOpensFrenchTranslation_data();
    void launcherOpensFrenchTranslation();
};

void TranslationTest::initTestCase()
{
    updateServer();
    QCOMPARE(QLocale::system().name(), QStringLiteral("fr_FR"));
    QVERIFY2(QFile::exists(kCompiled), qPrintable(kCompiled));
}

// Every message is finished, keeps the numbers of its error code, and is
// what the compiled file gives.
void TranslationTest::sourceIsComplete()
{
    const QList<Message> messages = readSource();
    QVERIFY(messages.size() >= 40);
    QTranslator compiled;
    QVERIFY(compiled.load(kCompiled));
    QStringList problems;
    for (const Message &m : messages) {
        const QString label = m.context + "/" + m.source;
        if (m.type == QLatin1String("obsolete") || m.type == QLatin1String("vanished"))
            continue;
        if (!m.type.isEmpty() || m.translation.isEmpty())
            problems << label + ": unfinished";
        if (errorCodes(m.source) != errorCodes(m.translation))
            problems << label + ": error code";
        if (m.source.endsWith(QLatin1Char(' ')) != m.translation.endsWith(QLatin1Char(' ')))
            problems << label + ": trailing blank";
        const QByteArray comment = m.comment.toUtf8();
        const QString fromFile = compiled.translate(m.context.toUtf8().constData(), m.source.toUtf8().constData(),
                                                    comment.isEmpty() ? nullptr : comment.constData());
        if (fromFile != m.translation)
            problems << label + ": compiled file out of date";
    }
    QCOMPARE(problems, QStringList());

    // The disambiguated texts are there with their comments.
    const auto has = [&messages](const char *context, const char *source, const char *comment) {
        for (const Message &m : messages) {
            if (m.context == QLatin1String(context) && m.source == QLatin1String(source)
                && m.comment == QLatin1String(comment))
                return true;
        }
        return false;
    };
    QVERIFY(has("GameUpdater", "Downloading  ", "When we download a file"));
    QVERIFY(has("GameUpdater", "Downloading", "When we download a file"));
    QVERIFY(has("GameUpdater", "Checking ", "When we check a file"));
}

void TranslationTest::lookUpInWorkingDirectory_data()
{
    QTest::addColumn<QString>("file"); // empty: no translation file at all
    QTest::addColumn<QString>("play");

    QTest::newRow("zorvanlauncher_fr.qm") << "zorvanlauncher_fr.qm" << "Jouer";
    QTest::newRow("without suffix") << "zorvanlauncher_fr" << "Jouer";
    QTest::newRow("without language") << "zorvanlauncher.qm" << "Jouer";
    QTest::newRow("another language") << "zorvanlauncher_de.qm" << "Play";
    QTest::newRow("not in the working directory") << "translations/zorvanlauncher_fr.qm" << "Play";
    QTest::newRow("none") << "" << "Play";
}

void TranslationTest::lookUpInWorkingDirectory()
{
    QFETCH(QString, file);
    QFETCH(QString, play);

    TempInstallation install;
    if (!file.isEmpty())
        placeTranslation(install, file);
    QTranslator translator;
    startup::installTranslation(*qApp, translator);

    QCOMPARE(QObject::tr("Play"), play);
}

void TranslationTest::windowInFrench()
{
    IsolatedSettings isolated;
    TempInstallation install;
    ServedTree served;
    updateServer().setBehaviour(QStringLiteral("/game/Notes des mises à jour.txt"), Behaviour::NotFound);
    placeTranslation(install, QStringLiteral("zorvanlauncher_fr.qm"));
    QTranslator translator;
    startup::installTranslation(*qApp, translator);

    QSettings settings;
    GameUpdater updater;
    auto *status = new textPerso;
    auto *progress = new progressBar;
    const LauncherWindow w = buildLauncherWindow(updater, settings, *status, *progress);
    std::unique_ptr<QWidget> window(w.window);

    QStringList shown{w.play->text(),
                      w.close->text(),
                      w.repair->text(),
                      status->text(),
                      w.patchNotes->toPlainText(),
                      w.website->text(),
                      w.wiki->text(),
                      w.discord->text(),
                      w.importSave->text(),
                      w.importExternalSave->text(),
                      w.tabs->tabText(0),
                      w.tabs->tabText(1),
                      w.fullscreen->text(),
                      w.normalRatio->text(),
                      w.scale2->text(),
                      w.scale3->text(),
                      w.backupSave->text(),
                      w.removeSave->text()};
    QLayout *options = w.tabs->widget(1)->layout();
    for (int i = 0; i < options->count(); ++i) {
        if (auto *heading = qobject_cast<QLabel *>(options->itemAt(i)->widget()))
            shown << heading->text();
    }

    QCOMPARE(shown, (QStringList{"Jouer",
                                 "Fermer",
                                 "Réparer",
                                 "Recherche d'une nouvelle version.",
                                 "Notes de mise à jour.",
                                 "Site web",
                                 "Wiki",
                                 "Discord",
                                 "Importer la sauvegarde",
                                 "Importer une sauvegarde externe",
                                 "Notes de mise à jour",
                                 "Options avancées",
                                 "Plein écran",
                                 "Taille normale",
                                 "Échelle x2",
                                 "Échelle x3",
                                 "Copier la sauvegarde",
                                 "Supprimer une copie",
                                 "Options graphiques",
                                 "Gestionnaire de sauvegardes",
                                 "Autres options"}));
}

void TranslationTest::statusTextsInFrench()
{
    IsolatedSettings isolated;
    TempInstallation install;
    ServedTree served;
    served.write("data/a.pak", "pak");
    updateServer().setBehaviour(QStringLiteral("/game/data/b.pak"), Behaviour::NotFound);
    placeTranslation(install, QStringLiteral("zorvanlauncher_fr.qm"));
    QTranslator translator;
    startup::installTranslation(*qApp, translator);

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    // An unreachable version file: download status, 004, then 009.
    updater.checkUpdate();
    updater.downloadFile(served.url("data/a.pak"), QStringLiteral("a.pak"), 4, 1);
    updater.downloadFile(served.url("data/b.pak"), QStringLiteral("b.pak"), 4, 2);
    updater.gameStart();

    QCOMPARE(texts(infos), (QStringList{
                               "Téléchargement de version.txt...",
                               "Erreur de téléchargement (004). Version locale disponible.",
                               "Erreur dans le manifeste de mise à jour (009).",
                               "Téléchargement (25.00%) a.pak...",
                               "Téléchargement (50.00%) b.pak...",
                               "Erreur de téléchargement (006). Version locale disponible.",
                               "Impossible de lancer Game.exe, veuillez vérifier votre antivirus et réparer les fichiers. "
                               "(Erreur 008)",
                           }));
    QCOMPARE(install.read("data/a.pak"), QByteArray("pak"));
}

void TranslationTest::saveTextsInFrench()
{
    TempInstallation install;
    placeTranslation(install, QStringLiteral("zorvanlauncher_fr.qm"));
    install.write("Saves/Zorvan_Party-1", "game");
    install.write("Saves/Backup/monday", "monday's");
    QTranslator translator;
    startup::installTranslation(*qApp, translator);

    SaveManager saves;
    QSignalSpy infos(&saves, &SaveManager::infos);
    saves.importSave(QString());
    saves.importSave(QStringLiteral("Saves/Backup/monday"));

    QCOMPARE(texts(infos), (QStringList{"Impossible d'importer la sauvegarde. (Erreur 001)",
                                        "Sauvegarde importée avec succès."}));
    QCOMPARE(SaveManager::tr("Select save file"), QStringLiteral("Sélectionner une sauvegarde"));
    QCOMPARE(QObject::tr("A new launcher update is available. The program will restart."),
             QStringLiteral("Une nouvelle version du launcher est disponible. Le programme va redémarrer."));
}

// The real launcher, started with a French or a German system language,
// opens zorvanlauncher_fr.qm from its working directory only in French.
void TranslationTest::launcherOpensFrenchTranslation_data()
{
    QTest::addColumn<QString>("lang");
    QTest::addColumn<bool>("opened");
    QTest::newRow("fr_FR") << "fr_FR.UTF-8" << true;
    QTest::newRow("de_DE") << "de_DE.UTF-8" << false;
}

void TranslationTest::launcherOpensFrenchTranslation()
{
#ifndef Q_OS_LINUX
    QSKIP("watches file opens with inotify");
#else
    QFETCH(QString, lang);
    QFETCH(bool, opened);

    TempInstallation install;
    ServedTree served; // empty: every request is answered 404
    QTemporaryDir config;
    placeTranslation(install, QStringLiteral("zorvanlauncher_fr.qm"));
    updateServer().clearRequests();

    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(watch >= 0);
    QVERIFY(inotify_add_watch(watch, QFile::encodeName(install.path()).constData(), IN_OPEN) >= 0);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &key : env.keys()) {
        if (key.startsWith(QLatin1String("LC_")) || key == QLatin1String("LANGUAGE"))
            env.remove(key);
    }
    env.insert(QStringLiteral("LANG"), lang);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    env.insert(QStringLiteral("XDG_CACHE_HOME"), config.path() + QStringLiteral("/cache"));
    env.insert(QStringLiteral("ZORVAN_UPDATE_URL"), updateServer().url());

    QProcess launcher;
    launcher.setProcessEnvironment(env);
    launcher.setWorkingDirectory(install.path());
    launcher.setProcessChannelMode(QProcess::SeparateChannels);
    QByteArray log;
    connect(&launcher, &QProcess::readyReadStandardError, [&] { log += launcher.readAllStandardError(); });
    launcher.start(QStringLiteral(ZORVAN_LAUNCHER_BINARY), QStringList());
    QVERIFY(launcher.waitForStarted());
    // The window is shown once the translator and the window are in place;
    // the in-process server answers the downloads meanwhile.
    QTRY_VERIFY_WITH_TIMEOUT(QString::fromUtf8(log).contains(QStringLiteral("Affichage de la fenêtre")), 20000);
    const bool stillRunning = launcher.state() == QProcess::Running;
    launcher.kill();
    launcher.waitForFinished();

    QStringList openedNames;
    char buffer[4096] __attribute__((aligned(__alignof__(struct inotify_event))));
    for (;;) {
        const ssize_t got = read(watch, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (char *p = buffer; p < buffer + got;) {
            const auto *event = reinterpret_cast<const inotify_event *>(p);
            if (event->len > 0)
                openedNames << QFile::decodeName(event->name);
            p += sizeof(inotify_event) + event->len;
        }
    }
    close(watch);

    QVERIFY(stillRunning);
    QVERIFY2(QString::fromUtf8(log).contains(QStringLiteral("Démarrage du launcher")), log.constData());
    QCOMPARE(openedNames.contains(QStringLiteral("zorvanlauncher_fr.qm")), opened);
    // The launcher got as far as the patch notes download, from our server.
    QVERIFY(updateServer().requests().contains(QStringLiteral("/game/Notes des mises à jour.txt")));
#endif
}

int main(int argc, char **argv)
{
    clearLocaleVariables();
    qputenv("LANG", "fr_FR.UTF-8");
    QApplication app(argc, argv);
    TranslationTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_translation.moc"
