// Signed updates against the loopback server, built twice: with a throwaway
// key (the signed cases) and without a key (the launcher as it always was,
// against a server that also serves signatures). The publications are made
// by the studio's publisher itself.

#include "support/testenv.h"
#include "updater/gameupdater.h"
#include "updater/signature.h"

#include <QSettings>
#include <QTest>
#include <QTranslator>

using Behaviour = LoopbackHttpServer::Behaviour;

namespace {

// Which library this executable links, whatever that library says of itself.
constexpr bool kBuiltWithKey = ZORVAN_TEST_BUILT_WITH_KEY;

const QString kSignature = QStringLiteral("Downloading  file_listing.xml.sig...");
const QString kMap = QStringLiteral("Downloading (50.00%) map.dat...");
const QString kGame = QStringLiteral("Downloading (100.00%) Game.exe...");
const QString k012 = QStringLiteral("Update not signed by the studio (012). Local version available.");
const QString k013 = QStringLiteral("Update older than the installed one (013). Local version available.");
const QString k014 = QStringLiteral("Downloaded file does not match the update manifest (014). Local version available.");

QString storedSequence()
{
    return QSettings().value(QString::fromLatin1(signature::kSequenceKey)).toString();
}

// A studio: the build's throwaway key copied into a directory of its own,
// where the publisher also keeps the key's sequence numbers.
class Studio
{
public:
    Studio() { QFile::copy(QStringLiteral(ZORVAN_TEST_SIGNING_KEY), key()); }
    QString key() const { return m_dir.filePath(QStringLiteral("update.key")); }
    // Publishes `build` as `version`, signed with `otherKey` if given.
    void publish(const ServedTree &build, const QString &version, const QString &otherKey = QString()) const
    {
#ifdef ZORVAN_PUBLISHER_SIGNS
        const QPair<int, QString> run =
            ::publish({build.path(), "--set-version", version, "--sign", otherKey.isEmpty() ? key() : otherKey});
#else
        // A publisher built without Ed25519 cannot sign (only the build
        // without a key is tested then): a signature file of the published
        // form stands in, never asked for anyway.
        Q_UNUSED(otherKey)
        const QPair<int, QString> run = ::publish({build.path(), "--set-version", version});
        build.write("file_listing.xml.sig", "sequence 1\nsignature " + QByteArray(128, '0') + "\n");
#endif
        QVERIFY2(run.first == 0, qPrintable(run.second));
    }

private:
    QTemporaryDir m_dir;
};

} // namespace

class SigningTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { updateServer(); }

    // `tamper`: what a man in the middle changes in a publication of 2.0
    // (Game.exe and Data/map.dat, and "Launcher_new.exe" when `withLauncher`)
    // that the studio signed as its second publication. `written`: the game
    // files the run stores. The version is recorded only when the run says
    // it has finished. A launcher built without a key asks for no signature
    // and takes what it is served, with the texts it always showed.
    void publication_data()
    {
        QTest::addColumn<QString>("tamper");
        QTest::addColumn<bool>("withLauncher");
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<QStringList>("written");
        QTest::addColumn<QString>("sequence");
        const auto row = [](const char *tag, const char *tamper, bool withLauncher, const QStringList &statuses, const QStringList &written,
                            const char *sequence) { QTest::newRow(tag) << tamper << withLauncher << statuses << written << sequence; };
        const QStringList checked{kVersion, kManifest, kSignature};
        const QStringList accepted = checked + QStringList{kMap, kGame, kFinished};
        const QStringList refused = checked + QStringList{k012};
        const QStringList both{"Game.exe", "Data/map.dat"};
        if (!kBuiltWithKey) {
            row("signed publication, no key", "", false, {kVersion, kManifest, kMap, kGame, kFinished}, both, "");
            row("tampered body, no key", "body", false, {kVersion, kManifest, kMap, kGame, kFinished}, both, "");
            return;
        }
        row("signed, accepted", "", false, accepted, both, "2");
        row("manifest tampered", "manifest", false, refused, {}, "");
        row("version tampered", "version", false, refused, {}, "");
        row("signature tampered", "signature", false, refused, {}, "");
        row("signature malformed", "malformed", false, refused, {}, "");
        row("signature missing", "missing", false, refused, {}, "");
        row("signed by a key it does not carry", "other key", false, refused, {}, "");
        // A launcher shipped with the next key before the studio switches;
        // the studio carries the sequence over to the next key.
        row("signed by the next key", "next key", false, accepted, both, "3");
        // The installation took publication 3; the second is served again.
        row("older publication replayed", "replay", false, checked + QStringList{k013}, {}, "3");
        row("game file body tampered", "body", false, checked + QStringList{kMap, kGame, k014}, {"Data/map.dat"}, "2");
        const QStringList third{"Downloading (33.33%) map.dat...", "Downloading (66.67%) Game.exe...",
                                "Downloading (100.00%) Launcher_new.exe..."};
        row("new launcher body tampered", "launcher", true, checked + third + QStringList{k014}, both, "2");
    }

    void publication()
    {
        QFETCH(QString, tamper);
        QFETCH(bool, withLauncher);
        QFETCH(QStringList, statuses);
        QFETCH(QStringList, written);
        QFETCH(QString, sequence);
        IsolatedSettings settings;
        TempInstallation install;
        ServedTree served;
        Studio studio;
        const QByteArray launcher = "#!/bin/sh\n: > started-by-new\n";
        served.write("Game.exe", "game 2");
        served.write("Data/map.dat", "map 2");
        if (withLauncher)
            served.write("Launcher_new.exe", launcher);
        studio.publish(served, "1.9");
        studio.publish(served, "2.0");
        const QMap<QString, QByteArray> publication = snapshot(served.path());
        if (tamper == "replay") {
            studio.publish(served, "2.1");
            install.write("localversion.txt", "1.0\n");
            QCOMPARE(runUpdate().statuses.last(), kFinished);
            for (const QString &file : install.files())
                QFile::remove(file);
            for (const char *file : {"version.txt", "file_listing.xml", "file_listing.xml.sig"})
                served.write(file, publication.value(file));
        }
        install.write("localversion.txt", "1.0\n");
        install.write("Game.exe", "game 1");
        install.write("Zorvan Lumeth.exe", "#!/bin/sh\n: > started-by-old\n");
        const QByteArray evil = "#!/bin/sh\n: > owned\n";
        const QString sig = served.path() + "/file_listing.xml.sig";
        if (tamper == "manifest") {
            served.write("Game.exe", evil);
            served.write("file_listing.xml",
                         readFile(served.path() + "/file_listing.xml")
                             .replace(md5Hex("game 2").toLatin1(), md5Hex(evil).toLatin1())
                             .replace(sha1Hex("game 2").toLatin1(), sha1Hex(evil).toLatin1()));
        } else if (tamper == "version") {
            served.write("version.txt", "2.1\n");
        } else if (tamper == "signature") {
            QByteArray text = readFile(sig);
            text[text.size() - 2] = text.at(text.size() - 2) == '0' ? '1' : '0';
            served.write("file_listing.xml.sig", text);
        } else if (tamper == "malformed") {
            served.write("file_listing.xml.sig", readFile(sig).left(11));
        } else if (tamper == "missing") {
            QFile::remove(sig);
        } else if (tamper == "other key") {
            QTemporaryDir other;
            QCOMPARE(publish({"--generate-key", other.filePath("k")}).first, 0);
            studio.publish(served, "2.0", other.filePath("k"));
        } else if (tamper == "next key") {
            QTemporaryDir next;
            QVERIFY(QFile::copy(ZORVAN_TEST_NEXT_KEY, next.filePath("next.key")));
            QFile::copy(studio.key() + ".sequence", next.filePath("next.key.sequence"));
            QFile::remove(sig);
            studio.publish(served, "2.0", next.filePath("next.key"));
        } else if (tamper == "body") {
            served.write("Game.exe", evil);
        } else if (tamper == "launcher") {
            served.write("Launcher_new.exe", evil);
        }
        const QMap<QString, QByteArray> before = snapshot(install.path());
        const QMap<QString, QByteArray> offered = snapshot(served.path());
        ScriptedDialogs dialogs;

        const UpdateRun run = runUpdate();

        QCOMPARE(run.statuses, statuses);
        QCOMPARE(run.playOk, QVector<bool>(statuses.size() - statuses.filter("Downloading").size(), true));
        const int entries = statuses.filter("%)").size();
        const QStringList checks =
            QStringList{"/game/version.txt", "/game/file_listing.xml", "/game/file_listing.xml.sig"}.mid(0, kBuiltWithKey ? 3 : 2);
        const QStringList files{"/game/Data/map.dat", "/game/Game.exe", "/game/Launcher_new.exe"};
        QCOMPARE(run.requests, checks + files.mid(0, entries));
        QMap<QString, QByteArray> expected = before;
        expected.insert("file_listing.xml", offered.value("file_listing.xml"));
        for (const QString &file : written)
            expected.insert(file, offered.value(file));
        if (statuses.contains(kFinished))
            expected.insert("localversion.txt", offered.value("version.txt"));
        else
            expected.insert("version.txt", offered.value("version.txt"));
        QCOMPARE(snapshot(install.path()), expected);
        QVERIFY(!run.quit && dialogs.calls.isEmpty());
        QCOMPARE(storedSequence(), sequence);
    }

    // The refusals reach a French player in French.
    void frenchTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("french");
        QTest::newRow("012") << k012 << "Mise à jour non signée par le studio (012). Version locale disponible.";
        QTest::newRow("013") << k013 << "Mise à jour plus ancienne que celle installée (013). Version locale disponible.";
        QTest::newRow("014") << k014
                             << "Le fichier téléchargé ne correspond pas au manifeste de mise à jour (014). Version locale disponible.";
    }

    void frenchTexts()
    {
        if (!kBuiltWithKey)
            QSKIP("run once, by the build with a key");
        QFETCH(QString, text);
        QFETCH(QString, french);
        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral(ZORVAN_BUILD_DIR "/zorvanlauncher_fr.qm")));
        QCOMPARE(translator.translate("GameUpdater", text.toUtf8().constData()), french);
    }
};

QTEST_MAIN(SigningTest)
#include "tst_signing.moc"
