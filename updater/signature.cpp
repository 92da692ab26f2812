// Ed25519 through libsodium. A build without a studio key may be made
// without the library (ZORVAN_WITH_SODIUM unset); nothing then verifies or
// signs, and the engine never asks, since enabled() is false.

#include "updater/signature.h"

#include <QCryptographicHash>
#include <QList>

#ifdef ZORVAN_WITH_SODIUM
#include <sodium.h>
#endif

namespace signature {

const char *const kStatementFile = "publication.sig";
const char *const kSignatureFile = "file_listing.xml.sig";
const char *const kSequenceKey = "update_sequence";

namespace {

constexpr int kPublicKeyBytes = 32;
constexpr int kSecretKeyBytes = 64;
constexpr int kSignatureBytes = 64;
// Sequence numbers stay far below 2^63 so that they survive a QVariant.
constexpr int kMaxSequenceDigits = 18;

bool isHex(const QByteArray &text, bool lowercaseOnly)
{
    for (const char c : text) {
        const bool digit = c >= '0' && c <= '9';
        const bool lower = c >= 'a' && c <= 'f';
        const bool upper = !lowercaseOnly && c >= 'A' && c <= 'F';
        if (!digit && !lower && !upper)
            return false;
    }
    return true;
}

// The raw bytes of a hexadecimal text of exactly `bytes` bytes, or empty.
QByteArray fromHex(const QByteArray &text, int bytes, bool lowercaseOnly = false)
{
    if (text.size() != 2 * bytes || !isHex(text, lowercaseOnly))
        return QByteArray();
    return QByteArray::fromHex(text);
}

bool ready()
{
#ifdef ZORVAN_WITH_SODIUM
    static const bool initialised = sodium_init() >= 0;
    return initialised;
#else
    return false;
#endif
}

[[maybe_unused]] const unsigned char *bytes(const QByteArray &array)
{
    return reinterpret_cast<const unsigned char *>(array.constData());
}

} // namespace

bool enabled()
{
    return publicKeysHex()[0] != '\0';
}

namespace {

const char kStatementHeading[] = "zorvan-publication 2\n";
const char kExpiryFormat[] = "yyyy-MM-ddTHH:mm:ssZ";

// A decimal number without a leading zero, of at most `digits` digits.
bool decimal(const QByteArray &text, int digits, quint64 *value)
{
    if (text.isEmpty() || text.size() > digits || (text.size() > 1 && text.startsWith('0')))
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    *value = text.toULongLong();
    return true;
}

} // namespace

bool parseSequence(const QByteArray &text, quint64 *sequence)
{
    return decimal(text, kMaxSequenceDigits, sequence);
}

const CoveredFile *Statement::find(const QString &name) const
{
    for (const CoveredFile &file : files) {
        if (file.name == name)
            return &file;
    }
    return nullptr;
}

QByteArray statementBody(const Statement &statement)
{
    QByteArray text = kStatementHeading;
    text += "sequence " + QByteArray::number(statement.sequence) + "\n";
    text += "expires " + statement.expires.toUTC().toString(QLatin1String(kExpiryFormat)).toLatin1() + "\n";
    for (const CoveredFile &file : statement.files)
        text += "file " + QByteArray::number(file.size) + ' ' + file.sha256 + ' ' + file.name.toUtf8() + "\n";
    return text;
}

QByteArray formatStatement(const Statement &statement)
{
    return statementBody(statement) + "signature " + statement.signature.toHex() + "\n";
}

bool parseStatement(const QByteArray &text, Statement &statement)
{
    if (text.size() > kMaxStatementSize || !text.startsWith(kStatementHeading) || !text.endsWith('\n'))
        return false;
    const QList<QByteArray> lines = text.mid(qstrlen(kStatementHeading)).chopped(1).split('\n');
    if (lines.size() < 3 || !lines.at(0).startsWith("sequence ") || !lines.at(1).startsWith("expires ")
        || !lines.last().startsWith("signature "))
        return false;
    Statement parsed;
    if (!parseSequence(lines.at(0).mid(qstrlen("sequence ")), &parsed.sequence))
        return false;
    const QByteArray expiry = lines.at(1).mid(qstrlen("expires "));
    parsed.expires = QDateTime::fromString(QString::fromLatin1(expiry), QLatin1String(kExpiryFormat));
    parsed.expires.setTimeSpec(Qt::UTC);
    if (!parsed.expires.isValid() || parsed.expires.toString(QLatin1String(kExpiryFormat)).toLatin1() != expiry)
        return false;
    for (int i = 2; i < lines.size() - 1; ++i) {
        const QList<QByteArray> fields = lines.at(i).split(' ');
        CoveredFile file;
        quint64 size = 0;
        if (fields.size() < 4 || fields.at(0) != "file" || !decimal(fields.at(1), kMaxSequenceDigits, &size)
            || fromHex(fields.at(2), 32, true).isEmpty())
            return false;
        file.size = qint64(size);
        file.sha256 = fields.at(2);
        file.name = QString::fromUtf8(lines.at(i).mid(fields.at(0).size() + fields.at(1).size() + fields.at(2).size() + 3));
        if (file.name.isEmpty() || file.name.toUtf8() != lines.at(i).mid(lines.at(i).size() - file.name.toUtf8().size())
            || parsed.find(file.name))
            return false;
        parsed.files << file;
    }
    parsed.signature = fromHex(lines.last().mid(qstrlen("signature ")), kSignatureBytes, true);
    if (parsed.signature.isEmpty() || formatStatement(parsed) != text)
        return false;
    statement = parsed;
    return true;
}

#ifdef ZORVAN_WITH_SODIUM
struct Sha256::State
{
    crypto_hash_sha256_state state;
};
#else
struct Sha256::State
{
    QCryptographicHash hash{QCryptographicHash::Sha256};
};
#endif

Sha256::Sha256()
    : d(new State)
{
#ifdef ZORVAN_WITH_SODIUM
    crypto_hash_sha256_init(&d->state);
#endif
}

Sha256::~Sha256() = default;

void Sha256::add(const char *data, qint64 size)
{
#ifdef ZORVAN_WITH_SODIUM
    crypto_hash_sha256_update(&d->state, reinterpret_cast<const unsigned char *>(data), quint64(size));
#else
    d->hash.addData(data, int(size));
#endif
}

QByteArray Sha256::hex()
{
#ifdef ZORVAN_WITH_SODIUM
    QByteArray digest(crypto_hash_sha256_BYTES, '\0');
    crypto_hash_sha256_final(&d->state, reinterpret_cast<unsigned char *>(digest.data()));
    return digest.toHex();
#else
    return d->hash.result().toHex();
#endif
}

bool parse(const QByteArray &text, Publication &publication)
{
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() != 3 || !lines.at(2).isEmpty())
        return false;
    if (!lines.at(0).startsWith("sequence ") || !parseSequence(lines.at(0).mid(qstrlen("sequence ")), &publication.sequence)
        || !lines.at(1).startsWith("signature "))
        return false;
    const QByteArray raw = fromHex(lines.at(1).mid(qstrlen("signature ")), kSignatureBytes, true);
    if (raw.isEmpty())
        return false;
    publication.signature = raw;
    return true;
}

QByteArray format(const Publication &publication)
{
    return "sequence " + QByteArray::number(publication.sequence) + "\nsignature " + publication.signature.toHex() + "\n";
}

QByteArray signedMessage(quint64 sequence, const QByteArray &version, const QByteArray &manifest)
{
    return "Zorvan Lumeth publication 1\nsequence " + QByteArray::number(sequence) + "\nversion.txt " + QByteArray::number(version.size())
        + "\n" + version + "file_listing.xml " + QByteArray::number(manifest.size()) + "\n" + manifest;
}

bool verify(const QByteArray &publicKeysHex, const QByteArray &message, const QByteArray &signature)
{
    if (signature.size() != kSignatureBytes || !ready())
        return false;
    for (const QByteArray &keyHex : publicKeysHex.split(',')) {
        const QByteArray key = fromHex(keyHex, kPublicKeyBytes);
#ifdef ZORVAN_WITH_SODIUM
        if (!key.isEmpty() && crypto_sign_verify_detached(bytes(signature), bytes(message), quint64(message.size()), bytes(key)) == 0)
            return true;
#else
        Q_UNUSED(key)
        Q_UNUSED(message)
#endif
    }
    return false;
}

bool generateKeyPair(QByteArray &secretKeyHex, QByteArray &publicKeyHex)
{
    if (!ready())
        return false;
#ifdef ZORVAN_WITH_SODIUM
    QByteArray publicKey(kPublicKeyBytes, '\0');
    QByteArray secretKey(kSecretKeyBytes, '\0');
    crypto_sign_keypair(reinterpret_cast<unsigned char *>(publicKey.data()), reinterpret_cast<unsigned char *>(secretKey.data()));
    secretKeyHex = secretKey.toHex();
    publicKeyHex = publicKey.toHex();
    sodium_memzero(secretKey.data(), size_t(secretKey.size()));
    return true;
#else
    Q_UNUSED(secretKeyHex)
    Q_UNUSED(publicKeyHex)
    return false;
#endif
}

QByteArray publicHalf(const QByteArray &secretKeyHex)
{
    const QByteArray secretKey = fromHex(secretKeyHex, kSecretKeyBytes);
    if (secretKey.isEmpty() || !ready())
        return QByteArray();
#ifdef ZORVAN_WITH_SODIUM
    // The stored public half must be the one its seed gives.
    QByteArray publicKey(kPublicKeyBytes, '\0');
    QByteArray derived(kSecretKeyBytes, '\0');
    crypto_sign_seed_keypair(reinterpret_cast<unsigned char *>(publicKey.data()), reinterpret_cast<unsigned char *>(derived.data()),
                             bytes(secretKey));
    const bool matches = sodium_memcmp(derived.constData(), secretKey.constData(), size_t(kSecretKeyBytes)) == 0;
    sodium_memzero(derived.data(), size_t(derived.size()));
    return matches ? publicKey.toHex() : QByteArray();
#else
    return QByteArray();
#endif
}

QByteArray sign(const QByteArray &secretKeyHex, const QByteArray &message)
{
    if (publicHalf(secretKeyHex).isEmpty())
        return QByteArray();
#ifdef ZORVAN_WITH_SODIUM
    QByteArray secretKey = QByteArray::fromHex(secretKeyHex);
    QByteArray result(kSignatureBytes, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char *>(result.data()), nullptr, bytes(message), quint64(message.size()),
                         bytes(secretKey));
    sodium_memzero(secretKey.data(), size_t(secretKey.size()));
    return result;
#else
    Q_UNUSED(message)
    return QByteArray();
#endif
}

} // namespace signature
