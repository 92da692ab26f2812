// The French translation: complete, found by the launcher's own look-up
// under a French system locale, and shown by the window and the status line.
//
// The system locale is read from the environment once per process, so this
// test sets LANG=fr_FR.UTF-8 itself before the application object exists.

#include "support/testenv.h"
#include "app/launcherwindow.h"
#include "app/startup.h"
#include "saves/savemanager.h"
#include "updater/gameupdater.h"
#include "widgets/progressbar.h"
#include "widgets/textperso.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QProcess>
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

using Behaviour = LoopbackHttpServer::Behaviour;

namespace {

const QString kCompiled = QStringLiteral(ZORVAN_BUILD_DIR "/zorvanlauncher_fr.qm");
const QString kSource = QStringLiteral(ZORVAN_SOURCE_DIR "/translations/zorvanlauncher_fr.ts");

// Variables that outrank LANG for the locale.
bool outranksLang(const QString &variable)
{
    return variable.startsWith(QLatin1String("LC_")) || variable == QLatin1String("LANGUAGE");
}

void placeTranslation(const TempInstallation &install, const QString &name = QStringLiteral("zorvanlauncher_fr.qm"))
{
    QDir().mkpath(QFileInfo(install.absolute(name)).absolutePath());
    QVERIFY(QFile::copy(kCompiled, install.absolute(name)));
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
    void textsInFrench();
    void launcherLoadsFrenchTranslation_data();
    void launcherLoadsFrenchTranslation();
};

void TranslationTest::initTestCase()
{
    updateServer();
    QCOMPARE(QLocale::system().name(), QStringLiteral("fr_FR"));
    QVERIFY2(QFile::exists(kCompiled), qPrintable(kCompiled));
}

// Every message is finished and keeps its numbers (error codes,
// placeholders) and its trailing blank; the disambiguated ones keep their comment.
void TranslationTest::sourceIsComplete()
{
    QFile file(kSource);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    const auto digits = [](QString text) { return text.remove(QRegularExpression(QStringLiteral("\\D"))); };
    QString context, source, comment;
    QStringList problems, disambiguated;
    int messages = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("message"))
            comment.clear();
        else if (xml.name() == QLatin1String("source"))
            source = xml.readElementText();
        else if (xml.name() == QLatin1String("comment"))
            comment = xml.readElementText();
        if (xml.name() != QLatin1String("translation"))
            continue;
        const QString type = xml.attributes().value(QLatin1String("type")).toString();
        const QString translation = xml.readElementText();
        const QString label = context + "/" + source;
        if (type == QLatin1String("obsolete") || type == QLatin1String("vanished"))
            continue;
        ++messages;
        if (!type.isEmpty() || translation.isEmpty())
            problems << label + ": unfinished";
        if (digits(source) != digits(translation))
            problems << label + ": numbers";
        if (source.endsWith(QLatin1Char(' ')) != translation.endsWith(QLatin1Char(' ')))
            problems << label + ": trailing blank";
        if (!comment.isEmpty())
            disambiguated << label + "/" + comment;
    }
    QVERIFY(messages >= 40);
    QCOMPARE(problems, QStringList());
    disambiguated.sort();
    QCOMPARE(disambiguated, (QStringList{"GameUpdater/Checking /When we check a file",
                                         "GameUpdater/Downloading  /When we download a file",
                                         "GameUpdater/Downloading/When we download a file"}));
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

// The window's texts, the engine's (with their numbers and error codes) and
// the save manager's, in French.
void TranslationTest::textsInFrench()
{
    IsolatedSettings isolated;
    TempInstallation install;
    ServedTree served;
    served.write("data/a.pak", "pak");
    updateServer().setBehaviour(QStringLiteral("/game/Notes des mises à jour.txt"), Behaviour::NotFound);
    updateServer().setBehaviour(QStringLiteral("/game/data/b.pak"), Behaviour::NotFound);
    install.write("Saves/Backup/monday", "monday's");
    placeTranslation(install);
    QTranslator translator;
    startup::installTranslation(*qApp, translator);

    QSettings settings;
    GameUpdater updater;
    auto *status = new textPerso;
    auto *progress = new progressBar;
    const LauncherWindow w = buildLauncherWindow(updater, settings, *status, *progress);
    std::unique_ptr<QWidget> window(w.window);
    QStringList shown{status->text(), w.patchNotes->toPlainText(), w.tabs->tabText(0), w.tabs->tabText(1)};
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        if (!button->text().isEmpty()) // not the tab bar's scroll arrows
            shown << button->text();
    }
    for (QLabel *heading : w.tabs->widget(1)->findChildren<QLabel *>())
        shown << heading->text();
    shown.sort();
    QStringList expected{"Recherche d'une nouvelle version.", "Notes de mise à jour.", "Notes de mise à jour",
                         "Options avancées", "Jouer", "Fermer", "Réparer", "Site web", "Wiki", "Discord",
                         "Importer la sauvegarde", "Importer une sauvegarde externe", "Copier la sauvegarde",
                         "Supprimer une copie", "Plein écran", "Taille normale", "Échelle x2", "Échelle x3",
                         "Options graphiques", "Gestionnaire de sauvegardes", "Autres options"};
    expected.sort();
    QCOMPARE(shown, expected);

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

    SaveManager saves;
    QSignalSpy saveInfos(&saves, &SaveManager::infos);
    saves.importSave(QString());
    saves.importSave(QStringLiteral("Saves/Backup/monday"));
    QCOMPARE(texts(saveInfos), (QStringList{"Impossible d'importer la sauvegarde. (Erreur 001)",
                                            "Sauvegarde importée avec succès."}));
    QCOMPARE(SaveManager::tr("Select save file"), QStringLiteral("Sélectionner une sauvegarde"));
    QCOMPARE(QObject::tr("A new launcher update is available. The program will restart."),
             QStringLiteral("Une nouvelle version du launcher est disponible. Le programme va redémarrer."));
}

// The real launcher, started with a French or a German system language,
// loads zorvanlauncher_fr.qm from its working directory only in French.
void TranslationTest::launcherLoadsFrenchTranslation_data()
{
    QTest::addColumn<QString>("lang");
    QTest::addColumn<bool>("loaded");
    QTest::newRow("fr_FR") << "fr_FR.UTF-8" << true;
    QTest::newRow("de_DE") << "de_DE.UTF-8" << false;
}

void TranslationTest::launcherLoadsFrenchTranslation()
{
#ifndef Q_OS_LINUX
    QSKIP("reads the launcher's memory map from /proc");
#else
    QFETCH(QString, lang);
    QFETCH(bool, loaded);

    TempInstallation install;
    ServedTree served; // empty: every request is answered 404
    QTemporaryDir config;
    placeTranslation(install);
    updateServer().clearRequests();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &key : env.keys()) {
        if (outranksLang(key))
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
    QByteArray log;
    connect(&launcher, &QProcess::readyReadStandardError, [&] { log += launcher.readAllStandardError(); });
    launcher.start(QStringLiteral(ZORVAN_LAUNCHER_BINARY), QStringList());
    QVERIFY(launcher.waitForStarted());
    // The window is shown once the translator and the window are in place;
    // the in-process server answers the downloads meanwhile.
    QTRY_VERIFY_WITH_TIMEOUT(QString::fromUtf8(log).contains(QStringLiteral("Affichage de la fenêtre")), 20000);
    const bool stillRunning = launcher.state() == QProcess::Running;
    // A loaded translation stays mapped in the process's memory.
    QFile maps(QStringLiteral("/proc/%1/maps").arg(launcher.processId()));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    launcher.kill();
    launcher.waitForFinished();

    QVERIFY(stillRunning);
    QVERIFY2(QString::fromUtf8(log).contains(QStringLiteral("Démarrage du launcher")), log.constData());
    QCOMPARE(mapped.contains(QFile::encodeName(QFileInfo(install.absolute("zorvanlauncher_fr.qm")).canonicalFilePath())), loaded);
    // The launcher got as far as the patch notes download, from our server.
    QVERIFY(updateServer().requests().contains(QStringLiteral("/game/Notes des mises à jour.txt")));
#endif
}

int main(int argc, char **argv)
{
    for (const QString &variable : QProcessEnvironment::systemEnvironment().keys()) {
        if (outranksLang(variable))
            qunsetenv(variable.toLatin1().constData());
    }
    qputenv("LANG", "fr_FR.UTF-8");
    QApplication app(argc, argv);
    TranslationTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_translation.moc"
