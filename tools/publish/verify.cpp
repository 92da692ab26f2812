#include "verify.h"

#include "listing.h"

#include "updater/signature.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTextStream>
#include <QTimer>
#include <QUrl>

#include <cstring>
#include <functional>
#include <future>
#include <initializer_list>
#include <memory>

namespace publish {

namespace {

// Transfers at a time: the studio's check may open a few connections where
// a player's launcher opens one after another.
constexpr int kParallel = 4;
// What a reply may hold before it is read, and what is read at a time; as
// for the launcher's downloads, 1 MiB fetched a large file faster than
// 256 KiB.
constexpr qint64 kBlock = 1024 * 1024;
// Blocks from this size on have their digests computed on two cores.
constexpr qint64 kParallelHashing = 64 * 1024;
// A server that sends nothing for this long fails the file.
constexpr int kStallMs = 30000;

enum class Verdict {
    Same,        // as it should be
    Missing,     // not served (404, 410)
    Failed,      // any other error: the server could not be asked
    CutShort,    // fewer bytes than announced, or only the beginning of the publication's file
    Stale,       // a whole file, but another one than the publication's or the listed one
    WrongDigest, // the publication's file, but the manifest lists other digests for it
    WrongSize,   // without the publication: another length than the manifest's
    LeftOver,    // served though the publication has no such file
    Unusable,    // served, but no launcher can use it
};

QString label(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Same:
        break;
    case Verdict::Missing:
        return QStringLiteral("missing");
    case Verdict::Failed:
        return QStringLiteral("failed");
    case Verdict::CutShort:
        return QStringLiteral("cut short");
    case Verdict::Stale:
        return QStringLiteral("stale");
    case Verdict::WrongDigest:
        return QStringLiteral("wrong digest");
    case Verdict::WrongSize:
        return QStringLiteral("wrong size");
    case Verdict::LeftOver:
        return QStringLiteral("left over");
    case Verdict::Unusable:
        return QStringLiteral("unusable");
    }
    return QString();
}

// One served file, what it should be and what it was found to be.
struct Check
{
    explicit Check(const QString &shownPath, const QString &localPath = QString(), const ListedFile *listedFile = nullptr)
        : shown(shownPath)
        , local(localPath)
        , listed(listedFile)
    {
    }

    QString shown;                      // below the base URL
    QString local;                      // the publication's copy; empty for none
    const ListedFile *listed = nullptr; // the digests it must have; none for the version file and its kin
    bool optional = false;              // may be served or not
    bool unwanted = false;              // must not be served
    bool keepBody = false;              // the small files that decide an update are kept
    Verdict verdict = Verdict::Same;
    QString detail;
    QByteArray body;
    qint64 received = 0;
    bool served = false;
};

QByteArray readLocal(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray hex(const QCryptographicHash &hash)
{
    return hash.result().toHex();
}

// The body's length the server announced, -1 for none or a transformed
// body (the toolkit unpacks compressed bodies). After a redirect the
// toolkit may join the redirect's own length to the final one's: the last
// value is the body's, as the launcher reads it.
qint64 announcedLength(QNetworkReply *reply)
{
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (!(encoding.isEmpty() || encoding == "identity"))
        return -1;
    bool ok = false;
    const qint64 length = reply->rawHeader("Content-Length").split(',').last().trimmed().toLongLong(&ok);
    return ok && length >= 0 ? length : -1;
}

// One request on its way: the body is hashed, and compared with the
// publication's file, block by block as it arrives.
class Transfer
{
public:
    Transfer(Check &check, qint64 &received)
        : m_check(check)
        , m_received(received)
        , m_block(int(kBlock), Qt::Uninitialized)
        , m_localBlock(int(kBlock), Qt::Uninitialized)
    {
        m_local.setFileName(check.local);
        if (!check.local.isEmpty() && m_local.open(QIODevice::ReadOnly))
            m_localSize = m_local.size();
    }

    // Back to the start: a redirect's own body is not the file.
    void restart()
    {
        m_md5.reset();
        m_sha1.reset();
        m_sha256.reset();
        m_check.body.clear();
        m_check.received = 0;
        m_sameSoFar = true;
        if (m_local.isOpen())
            m_local.seek(0);
    }

    void take(QNetworkReply *reply)
    {
        for (qint64 n; (n = reply->read(m_block.data(), kBlock)) > 0;) {
            // A large block's SHA-1 (and SHA-256) is computed on another
            // core meanwhile: hashing, not the transfer, bounds a large file.
            const char *data = m_block.constData();
            const auto otherDigests = [this, data, n]() {
                m_sha1.addData(data, int(n));
                if (m_check.listed && !m_check.listed->sha256.isEmpty())
                    m_sha256.addData(data, int(n));
            };
            std::future<void> other;
            if (n >= kParallelHashing)
                other = std::async(std::launch::async, otherDigests);
            else
                otherDigests();
            m_md5.addData(data, int(n));
            if (m_check.keepBody)
                m_check.body.append(data, int(n));
            if (m_sameSoFar && m_local.isOpen())
                m_sameSoFar = m_local.read(m_localBlock.data(), n) == n && std::memcmp(data, m_localBlock.constData(), size_t(n)) == 0;
            if (other.valid())
                other.wait();
            m_check.received += n;
            m_received += n;
        }
    }

    void conclude(QNetworkReply *reply)
    {
        take(reply);
        Check &c = m_check;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const qint64 announced = announcedLength(reply);
        c.served = status != 404 && status != 410 && reply->error() != QNetworkReply::ContentNotFoundError;
        if (!c.served) {
            c.body.clear();
            c.verdict = c.optional || c.unwanted ? Verdict::Same : Verdict::Missing;
            return;
        }
        if (reply->error() != QNetworkReply::NoError && !(c.received > 0 && announced > c.received)) {
            c.verdict = Verdict::Failed;
            c.detail = reply->error() == QNetworkReply::OperationCanceledError
                ? QStringLiteral("nothing received for %1 s").arg(kStallMs / 1000)
                : reply->errorString();
            return;
        }
        if (announced > c.received) {
            c.verdict = Verdict::CutShort;
            c.detail = QStringLiteral("the server sent %1 of the %2 bytes it announced").arg(c.received).arg(announced);
            return;
        }
        if (c.unwanted) {
            c.verdict = Verdict::LeftOver;
            c.detail = QStringLiteral("served, but the publication has none");
            return;
        }
        const ListedFile *l = c.listed;
        const bool asListed = !l
            || (hex(m_md5) == l->md5 && hex(m_sha1) == l->sha1 && (l->sha256.isEmpty() || hex(m_sha256) == l->sha256)
                && (l->size < 0 || c.received == l->size));
        const QString listedText =
            QStringLiteral("%1 bytes served, MD5 %2, not the listed %3").arg(c.received).arg(QString::fromLatin1(hex(m_md5)));
        if (m_localSize < 0 && l && l->size >= 0 && c.received != l->size) {
            c.verdict = Verdict::WrongSize;
            c.detail = QStringLiteral("%1 bytes served, the manifest lists %2").arg(c.received).arg(l->size);
            return;
        }
        if (m_localSize < 0) {
            c.verdict = asListed ? Verdict::Same : Verdict::Stale;
            c.detail = l ? listedText.arg(QString::fromLatin1(l->md5)) : QString();
            return;
        }
        if (m_sameSoFar && c.received == m_localSize) {
            c.verdict = asListed ? Verdict::Same : Verdict::WrongDigest;
            c.detail = QStringLiteral("the publication's file, but its manifest lists other digests: publish again");
        } else if (m_sameSoFar) {
            c.verdict = Verdict::CutShort;
            c.detail = QStringLiteral("%1 bytes served, the beginning of the publication's %2").arg(c.received).arg(m_localSize);
        } else if (l && asListed) {
            c.verdict = Verdict::WrongDigest;
            c.detail = QStringLiteral("as listed, but the publication's file has changed since: publish again");
        } else {
            c.verdict = Verdict::Stale;
            c.detail = QStringLiteral("%1 bytes served, %2 in the publication").arg(c.received).arg(m_localSize);
        }
    }

private:
    Check &m_check;
    qint64 &m_received; // by all transfers
    QCryptographicHash m_md5{QCryptographicHash::Md5};
    QCryptographicHash m_sha1{QCryptographicHash::Sha1};
    QCryptographicHash m_sha256{QCryptographicHash::Sha256};
    QFile m_local;
    qint64 m_localSize = -1;
    bool m_sameSoFar = true;
    QByteArray m_block;
    QByteArray m_localBlock;
};

class Verifier
{
public:
    Verifier(const QString &baseUrl, const QString &publication)
        : m_base(baseUrl)
        , m_publication(publication)
    {
    }

    int run();

private:
    QString localFile(const QString &relative) const
    {
        const QString path = m_publication + QLatin1Char('/') + relative;
        return !m_publication.isEmpty() && QFileInfo(path).isFile() ? path : QString();
    }
    void fetch(const QList<Check *> &checks);
    void progress(bool last = false);

    const QString m_base;
    const QString m_publication;
    QNetworkAccessManager m_manager;
    QElapsedTimer m_clock;
    int m_files = 0;
    int m_done = 0;
    qint64 m_bytes = 0;
};

// Runs the checks, kParallel at a time, until all are over.
void Verifier::fetch(const QList<Check *> &checks)
{
    QEventLoop loop;
    int next = 0;
    int running = 0;
    std::function<void()> startMore = [&]() {
        for (; running < kParallel && next < checks.size(); ++running) {
            Check *check = checks.at(next++);
            QNetworkRequest request(QUrl(m_base + check->shown, QUrl::TolerantMode));
            request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
            request.setTransferTimeout(kStallMs);
            QNetworkReply *reply = m_manager.get(request);
            reply->setReadBufferSize(kBlock);
            auto transfer = std::make_shared<Transfer>(*check, m_bytes);
            QObject::connect(reply, &QNetworkReply::readyRead, [transfer, reply]() { transfer->take(reply); });
            QObject::connect(reply, &QNetworkReply::redirected, [transfer]() { transfer->restart(); });
            QObject::connect(reply, &QNetworkReply::finished, [&, transfer, reply]() {
                transfer->conclude(reply);
                reply->deleteLater();
                ++m_done;
                --running;
                startMore();
                if (running == 0)
                    loop.quit();
            });
        }
    };
    startMore();
    if (running > 0)
        loop.exec();
}

void Verifier::progress(bool last)
{
    QTextStream err(stderr);
    const QString line = QStringLiteral("fetched %1 of %2 files, %3 MiB, %4 s")
                             .arg(m_done)
                             .arg(m_files)
                             .arg(double(m_bytes) / (1 << 20), 0, 'f', 1)
                             .arg(double(m_clock.elapsed()) / 1000, 0, 'f', 1);
    err << line << (last ? QStringLiteral(": ") : QStringLiteral("\r"));
}

int Verifier::run()
{
    m_clock.start();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [this]() { progress(); });
    ticker.start(250);

    // In the order launchers ask: the statement (those with the studio's
    // key), the version file, then what they read once the version differs.
    const auto control = [this](const char *name) {
        Check check(QString::fromLatin1(name), localFile(QString::fromLatin1(name)));
        check.keepBody = true;
        return check;
    };
    Check statement = control(signature::kStatementFile);
    Check version = control(kVersionFile);
    Check manifest = control(kManifestFile);
    Check sig = control(signature::kSignatureFile);
    // Without the publication a signature may be there or not; with it, the
    // publication says which.
    for (Check *detached : {&statement, &sig}) {
        detached->optional = m_publication.isEmpty();
        detached->unwanted = !m_publication.isEmpty() && detached->local.isEmpty();
    }
    m_files = 4;
    fetch({&statement});
    fetch({&version});
    fetch({&manifest, &sig});
    signature::Statement vouched;
    const bool hasStatement = statement.served && statement.verdict == Verdict::Same && signature::parseStatement(statement.body, vouched);

    // The publication's own manifest says what must be served; without it,
    // the served one does.
    const Listing listing = readListing(m_publication.isEmpty() ? manifest.body : readLocal(manifest.local));
    std::vector<Check> entries;
    entries.reserve(size_t(listing.files.size()) + 1);
    const QString notes = QString::fromUtf8(kNotesFile);
    bool notesListed = false;
    for (const ListedFile &file : listing.files) {
        entries.emplace_back(file.served, localFile(file.local), &file);
        notesListed = notesListed || file.served == notes;
    }
    // The launcher shows the patch notes at every start, listed or not.
    const Check *notesCheck = nullptr;
    if (!notesListed && (!localFile(notes).isEmpty() || (hasStatement && vouched.find(notes)))) {
        entries.insert(entries.begin(), Check(notes, localFile(notes)));
        entries.front().keepBody = true;
        notesCheck = &entries.front();
    }
    QList<Check *> pending;
    for (Check &check : entries)
        pending << &check;
    m_files += pending.size() + 1;
    fetch(pending);

    // A version that changed meanwhile makes everything above uncertain.
    Check again(version.shown);
    again.keepBody = true;
    fetch({&again});
    ticker.stop();

    QStringList differences;
    const auto note = [&differences](Verdict verdict, const QString &shown, const QString &detail) {
        differences << label(verdict) + QStringLiteral(": ") + shown + (detail.isEmpty() ? QString() : QStringLiteral(" (") + detail + ')');
    };
    if (version.verdict == Verdict::Stale)
        version.detail = QStringLiteral("served \"%1\", the publication has \"%2\"")
                             .arg(QString::fromUtf8(version.body.trimmed()), QString::fromUtf8(readLocal(version.local).trimmed()));
    for (const Check *check : {&version, &manifest, &sig, &statement}) {
        if (check->verdict != Verdict::Same)
            note(check->verdict, check->shown, check->detail);
    }
    if (manifest.verdict == Verdict::Same && !listing.problems.isEmpty())
        note(Verdict::Unusable, manifest.shown, listing.problems.join(QStringLiteral("; ")));
    // What a launcher with the studio's key holds the served files to; the
    // signatures themselves only where this build carries the key.
    if (sig.verdict == Verdict::Same && sig.served) {
        signature::Publication published;
        if (!signature::parse(sig.body, published))
            note(Verdict::Unusable, sig.shown, QStringLiteral("not a signature file"));
        else if (signature::enabled()
                 && !signature::verify(signature::publicKeysHex(),
                                       signature::signedMessage(published.sequence, version.body, manifest.body), published.signature))
            note(Verdict::Unusable, sig.shown, QStringLiteral("not signed by a key of this build for the served files"));
    }
    if (statement.verdict == Verdict::Same && statement.served) {
        QStringList why;
        if (!hasStatement)
            why << QStringLiteral("not a statement");
        else if (vouched.expires < QDateTime::currentDateTimeUtc())
            why << QStringLiteral("expired on ") + vouched.expires.toString(Qt::ISODate);
        if (hasStatement && signature::enabled()
            && !signature::verify(signature::publicKeysHex(), signature::statementBody(vouched), vouched.signature))
            why << QStringLiteral("not signed by a key of this build");
        for (const Check *check : std::initializer_list<const Check *>{&version, &manifest, notesCheck}) {
            const signature::CoveredFile *covered = hasStatement && check ? vouched.find(check->shown) : nullptr;
            if (hasStatement && check && check->served && check != notesCheck && !covered)
                why << QStringLiteral("does not cover ") + check->shown;
            else if (covered && check->served
                     && (covered->size != check->body.size()
                         || QCryptographicHash::hash(check->body, QCryptographicHash::Sha256).toHex() != covered->sha256))
                why << QStringLiteral("covers another ") + check->shown;
        }
        if (!why.isEmpty())
            note(Verdict::Unusable, statement.shown, why.join(QStringLiteral("; ")));
    }
    for (const Check &check : entries) {
        if (check.verdict != Verdict::Same)
            note(check.verdict, check.shown, check.detail);
    }
    if (again.served != version.served || again.body != version.body)
        differences << QStringLiteral("changed: %1 (while it was checked: check again)").arg(version.shown);

    QTextStream out(stdout);
    for (const QString &line : qAsConst(differences))
        out << line << '\n';
    out.flush();
    progress(true);
    QTextStream(stderr) << (differences.isEmpty()
                                ? QStringLiteral("clean")
                                : QString::fromLatin1(differences.size() == 1 ? "1 difference" : "%1 differences").arg(differences.size()))
                        << Qt::endl;
    return differences.isEmpty() ? 0 : 1;
}

} // namespace

int verifyServer(const QString &baseUrl, const QString &publication)
{
    const QUrl url(baseUrl);
    if (!url.isValid() || !(url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) || url.host().isEmpty()) {
        QTextStream(stderr) << "zorvan-publish: not an http(s) URL: " << baseUrl << Qt::endl;
        return 1;
    }
    const QDir dir(publication);
    if (!publication.isEmpty()
        && !(QFileInfo(dir.filePath(QString::fromLatin1(kVersionFile))).isFile()
             && QFileInfo(dir.filePath(QString::fromLatin1(kManifestFile))).isFile())) {
        QTextStream(stderr) << "zorvan-publish: " << publication << " is no publication: it needs a file_listing.xml and a version.txt"
                            << Qt::endl;
        return 1;
    }
    return Verifier(baseUrl.endsWith(QLatin1Char('/')) ? baseUrl : baseUrl + QLatin1Char('/'), publication).run();
}

} // namespace publish
