// Signed updates against the loopback server, built twice: with a throwaway
// key (the signed cases) and without a key (the launcher as it always was,
// against a server that also serves signatures). The publications are made
// by the studio's publisher itself.

#include "support/catalogue.h"
#include "support/testenv.h"
#include "updater/gameupdater.h"
#include "updater/signature.h"

#include <QDateTime>
#include <QSettings>
#include <QTest>

using Behaviour = LoopbackHttpServer::Behaviour;

namespace {

// Which library this executable links, whatever that library says of itself.
constexpr bool kBuiltWithKey = ZORVAN_TEST_BUILT_WITH_KEY;

const QString kStatement = QStringLiteral("Downloading  publication.sig...");
const QString kNotesDownload = "Downloading  " + kNotes + "...";
const QString kMap = QStringLiteral("Downloading (50.00%) map.dat...");
const QString kGame = QStringLiteral("Downloading (100.00%) Game.exe...");
const QString k006 = QStringLiteral("Download error (006). Local version available.");
const QString k012 = QStringLiteral("Update not signed by the studio (012). Local version available.");
const QString k013 = QStringLiteral("Update older than the installed one (013). Local version available.");
const QString k014 = QStringLiteral("Downloaded file does not match the update manifest (014). Local version available.");
const QString k015 = QStringLiteral("Update signature expired (015). Local version available.");
const QString k016 = QStringLiteral("Record of installed updates unreadable (016). Local version available.");

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
    void publish(const ServedTree &build, const QString &version, const QString &otherKey = QString(),
                 const QStringList &options = {}) const
    {
#ifdef ZORVAN_PUBLISHER_SIGNS
        const QPair<int, QString> run =
            ::publish(QStringList{build.path(), "--set-version", version, "--sign", otherKey.isEmpty() ? key() : otherKey} + options);
#else
        // A publisher built without Ed25519 cannot sign (only the build
        // without a key is tested then): a statement of the published form
        // stands in, never asked for anyway.
        Q_UNUSED(otherKey)
        Q_UNUSED(options)
        const QPair<int, QString> run = ::publish({build.path(), "--set-version", version});
        build.write("publication.sig", "zorvan-publication 2\nsequence 1\n");
#endif
        QVERIFY2(run.first == 0, qPrintable(run.second));
    }
    // Signs, as the studio would, a statement for the version file and
    // manifest as they are served (and the notes, when served).
    void sign(const ServedTree &build) const
    {
        signature::Statement statement;
        statement.sequence = 9;
        statement.expires = QDateTime::currentDateTimeUtc().addDays(1);
        for (const QString &name : {QStringLiteral("version.txt"), QStringLiteral("file_listing.xml"), kNotes}) {
            const QByteArray content = readFile(build.path() + '/' + name);
            signature::Sha256 sha256;
            sha256.add(content.constData(), content.size());
            statement.files.append({name, content.size(), sha256.hex()});
        }
        statement.signature = signature::sign(readFile(key()).trimmed(), signature::statementBody(statement));
        build.write("publication.sig", signature::formatStatement(statement));
    }

private:
    QTemporaryDir m_dir;
};

// The request each status text stands for.
QStringList requestsOf(const QStringList &statuses)
{
    const QMap<QString, QString> files{{"map.dat", "Data/map.dat"}, {"Game.exe", "Game.exe"}, {"Launcher_new.exe", "Launcher_new.exe"}};
    QStringList requests;
    for (const QString &status : statuses) {
        if (status.startsWith("Downloading  "))
            requests << "/game/" + status.mid(13).chopped(3);
        else if (status.startsWith("Downloading ("))
            requests << "/game/" + files.value(status.section(' ', 2).chopped(3));
    }
    return requests;
}

} // namespace

class SigningTest : public QObject
{
    Q_OBJECT

    LauncherCatalogue m_catalogue;

private slots:
    void initTestCase() { updateServer(); }
    // Every text the runs showed has its French form, where the translators
    // look for it.
    void cleanupTestCase() { QCOMPARE(m_catalogue.misplaced(), QStringList()); }

    // `tamper`: what a man in the middle (or a damaged installation)
    // changes in a publication of 2.0 (the notes, Game.exe, Data/map.dat,
    // and "Launcher_new.exe" when `withLauncher`) that the studio signed as
    // its second publication. The engine first fetches the notes, as the
    // launcher's start-up does, then runs its check. `notesKept`: the notes
    // it stores; `written`: the game files. The version is recorded only
    // when the run says it has finished; no byte the studio did not sign is
    // ever stored. A launcher built without a key asks for no signature and
    // takes what it is served, with the texts it always showed.
    void publication_data()
    {
        QTest::addColumn<QString>("tamper");
        QTest::addColumn<bool>("withLauncher");
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<bool>("notesKept");
        QTest::addColumn<QStringList>("written");
        QTest::addColumn<QString>("sequence");
        const auto row = [](const char *tag, const char *tamper, bool withLauncher, const QStringList &statuses, bool notesKept,
                            const QStringList &written, const char *sequence) {
            QTest::newRow(tag) << tamper << withLauncher << statuses << notesKept << written << sequence;
        };
        const QStringList notes{kStatement, kNotesDownload};
        const QStringList checked{kStatement, kVersion, kManifest};
        const QStringList accepted = notes + checked + QStringList{kMap, kGame, kFinished};
        const QStringList both{"Game.exe", "Data/map.dat"};
        if (!kBuiltWithKey) {
            const QStringList plain{kNotesDownload, kVersion, kManifest, kMap, kGame, kFinished};
            row("signed publication, no key", "", false, plain, true, both, "");
            row("tampered body, no key", "body", false, plain, true, both, "");
            return;
        }
        const auto refusedBy = [](const QString &text) { return QStringList{kStatement, text, kStatement, text}; };
        row("signed, accepted", "", false, accepted, true, both, "2");
        row("notes tampered", "notes", false, QStringList{kStatement, kNotesDownload, k014} + checked + QStringList{kMap, kGame, kFinished},
            false, both, "2");
        row("manifest tampered", "manifest", false, notes + checked + QStringList{k014}, true, {}, "2");
        row("version tampered", "version", false, notes + QStringList{kStatement, kVersion, k014}, true, {}, "2");
        row("statement truncated", "malformed", false, refusedBy(k012), false, {}, "");
        // Cut off as it arrives, far below its 64 MiB.
        row("statement of 64 MiB", "oversized", false, refusedBy(k012), false, {}, "");
        row("statement missing", "missing", false, refusedBy(k012), false, {}, "");
        row("signed by a key it does not carry", "other key", false, refusedBy(k012), false, {}, "");
        row("expired", "expired", false, refusedBy(k015), false, {}, "");
        // A launcher shipped with the next key before the studio switches;
        // the studio carries the sequence over to the next key.
        row("signed by the next key", "next key", false, accepted, true, both, "3");
        // The installation took publication 3; the second is served again.
        row("older publication replayed", "replay", false, refusedBy(k013), false, {}, "3");
        // The build itself was made after publication 2: a fresh
        // installation takes no earlier one.
        row("older than the build", "first only", false, refusedBy(k013), false, {}, "");
        row("record of the installation damaged", "record", false, refusedBy(k016), false, {}, "x7");
        row("game file body tampered", "body", false, notes + checked + QStringList{kMap, kGame, k014}, true, {"Data/map.dat"}, "2");
        // MD5 and SHA-1 as listed, SHA-256 not: a collision is refused.
        row("SHA-256 alone differs", "collision", false, notes + checked + QStringList{kMap, kGame, k014}, true, {"Data/map.dat"}, "9");
        // The refusal stays the last word of the run.
        row("stalled mid-file", "stall", false, notes + checked + QStringList{kMap, k006, kGame, k006}, true, {"Game.exe"}, "2");
        const QStringList third{"Downloading (33.33%) map.dat...", "Downloading (66.67%) Game.exe...",
                                "Downloading (100.00%) Launcher_new.exe..."};
        row("new launcher body tampered", "launcher", true, notes + checked + third + QStringList{k014}, true, both, "2");
    }

    void publication()
    {
        QFETCH(QString, tamper);
        QFETCH(bool, withLauncher);
        QFETCH(QStringList, statuses);
        QFETCH(bool, notesKept);
        QFETCH(QStringList, written);
        QFETCH(QString, sequence);
        IsolatedSettings settings;
        TempInstallation install;
        ServedTree served;
        Studio studio;
        const QByteArray launcher = "#!/bin/sh\n: > started-by-new\n";
        served.write(kNotes, "<b>notes 2</b>");
        served.write("Game.exe", "game 2");
        served.write("Data/map.dat", "map 2");
        if (withLauncher)
            served.write("Launcher_new.exe", launcher);
        studio.publish(served, "1.9");
        if (tamper != "first only")
            studio.publish(served, "2.0", QString(),
                           tamper == "expired" ? QStringList{"--expires", "2020-01-01T00:00:00Z"} : QStringList());
        const QMap<QString, QByteArray> publication = snapshot(served.path());
        if (tamper == "replay") {
            studio.publish(served, "2.1");
            install.write("localversion.txt", "1.0\n");
            QCOMPARE(runUpdate().statuses.last(), kFinished);
            for (const QString &file : install.files())
                QFile::remove(file);
            for (const char *file : {"version.txt", "file_listing.xml", "publication.sig"})
                served.write(file, publication.value(file));
        }
        install.write("localversion.txt", "1.0\n");
        install.write(kNotes, "notes 1");
        install.write("Game.exe", "game 1");
        install.write("Zorvan Lumeth.exe", "#!/bin/sh\n: > started-by-old\n");
        const QByteArray evil = "#!/bin/sh\n: > owned\n";
        const QString sig = served.path() + "/publication.sig";
        if (tamper == "notes") {
            served.write(kNotes, "<a href='http://evil/'>get the new launcher here</a>");
        } else if (tamper == "manifest") {
            served.write("Game.exe", evil);
            served.write("file_listing.xml",
                         readFile(served.path() + "/file_listing.xml")
                             .replace(md5Hex("game 2").toLatin1(), md5Hex(evil).toLatin1())
                             .replace(sha1Hex("game 2").toLatin1(), sha1Hex(evil).toLatin1()));
        } else if (tamper == "version") {
            served.write("version.txt", "2.1\n");
        } else if (tamper == "malformed") {
            served.write("publication.sig", readFile(sig).left(40));
        } else if (tamper == "oversized") {
            served.write("publication.sig", readFile(sig) + QByteArray(64 << 20, '#'));
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
        } else if (tamper == "record") {
            QSettings().setValue(QString::fromLatin1(signature::kSequenceKey), "x7");
        } else if (tamper == "body") {
            served.write("Game.exe", evil);
        } else if (tamper == "collision") {
            QByteArray manifest = readFile(served.path() + "/file_listing.xml");
            const int at = manifest.indexOf("SHA256=\"", manifest.indexOf("Game.exe")) + 8;
            served.write("file_listing.xml", manifest.replace(at, 64, QByteArray(64, 'c')));
            studio.sign(served);
        } else if (tamper == "stall") {
            updateServer().setBehaviour("/game/Data/map.dat", Behaviour::Stall);
        } else if (tamper == "launcher") {
            served.write("Launcher_new.exe", evil);
        }
        const QMap<QString, QByteArray> before = snapshot(install.path());
        const QMap<QString, QByteArray> offered = snapshot(served.path());
        ScriptedDialogs dialogs;

        const UpdateRun run = runUpdate(false, [&](GameUpdater &updater) {
            updater.setStallLimit(kBuiltWithKey ? 1000 : 0);
            updater.downloadFile(served.url(kNotes));
        });
        updateServer().releaseStalled();

        verifyRun(run, statuses);
        QCOMPARE(run.requests, requestsOf(statuses));
        QMap<QString, QByteArray> expected = before;
        const bool accepted = statuses.contains(kManifest) && !(tamper == "manifest");
        if (accepted)
            expected.insert("file_listing.xml", offered.value("file_listing.xml"));
        if (notesKept)
            expected.insert(kNotes, offered.value(kNotes));
        for (const QString &file : written)
            expected.insert(file, offered.value(file));
        if (statuses.contains(kFinished))
            expected.insert("localversion.txt", offered.value("version.txt"));
        else if (statuses.contains(kVersion) && tamper != "version")
            expected.insert("version.txt", offered.value("version.txt"));
        QCOMPARE(snapshot(install.path()), expected);
        QVERIFY(!run.quit && dialogs.calls.isEmpty());
        QCOMPARE(storedSequence(), sequence);
    }
};

QTEST_MAIN(SigningTest)
#include "tst_signing.moc"
