#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <memory>

// Signed publications: what a studio's signature covers, the detached
// signature file beside the manifest, and the Ed25519 operations on them.
// Only this module's source file talks to the cryptographic library.
namespace signature {

// The studio's signed statement about a publication, served beside the
// manifest; what a launcher with a key reads.
extern const char *const kStatementFile;
// The earlier form of signature (sequence and signature only), which the
// publisher still writes for launchers built before the statement.
extern const char *const kSignatureFile;
// Settings key of the highest sequence number this installation accepted.
extern const char *const kSequenceKey;

// The studio's public keys compiled into this build, 64 hexadecimal digits
// each, separated by commas (more than one while a key is being replaced);
// empty in a build without a key, which never asks for a signature.
// Defined in the generated source of the build (see updater/updatekey.cmake).
const char *publicKeysHex();
// The lowest sequence number this build accepts, set when it is built, so
// that a fresh installation does not take a publication older than the
// build itself. Generated with publicKeysHex().
quint64 minimumSequence();
bool enabled();
// A sequence number as the studio writes it and the installation records
// it: decimal, without a leading zero, of at most 18 digits.
bool parseSequence(const QByteArray &text, quint64 *sequence);

// One file the statement vouches for: its exact size and SHA-256.
struct CoveredFile
{
    QString name; // path below the base URL, as stored
    qint64 size = 0;
    QByteArray sha256; // 64 lowercase hexadecimal digits
};

// What the studio signs about one publication: its sequence number (higher
// for every publication signed with a key), the moment after which it no
// longer counts as current, and the files that say what the publication is
// (the version file, the manifest and the patch notes; the manifest in turn
// lists every game file's size and digests). Its text:
//   "zorvan-publication 2\n"
//   "sequence N\n"
//   "expires YYYY-MM-DDTHH:MM:SSZ\n"           (UTC)
//   "file SIZE SHA256 NAME\n"                   (one per covered file)
//   "signature HEX\n"                           (128 lowercase digits)
// The signature is made over every byte before "signature ".
struct Statement
{
    quint64 sequence = 0;
    QDateTime expires;
    QList<CoveredFile> files;
    QByteArray signature; // 64 raw bytes

    const CoveredFile *find(const QString &name) const;
};

// The text the signature covers, and the whole file.
QByteArray statementBody(const Statement &statement);
QByteArray formatStatement(const Statement &statement);
// False when `text` is not exactly a statement as above.
bool parseStatement(const QByteArray &text, Statement &statement);

// The largest statement file a launcher takes.
constexpr qint64 kMaxStatementSize = 16 * 1024;

// SHA-256, fed in pieces: the digest that binds each file to a signed
// statement where MD5 and SHA-1 no longer resist collisions.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;
    void add(const char *data, qint64 size);
    // Lowercase hexadecimal; the object is then spent.
    QByteArray hex();

private:
    struct State;
    std::unique_ptr<State> d;
};

// One signature file: the publication's sequence number and the signature
// over signedMessage(). Its text is two lines, "sequence N" and
// "signature HEX" (128 lowercase hexadecimal digits), each ended by "\n".
struct Publication
{
    quint64 sequence = 0;
    QByteArray signature; // 64 raw bytes
};

// False when `text` is not exactly a signature file as above.
bool parse(const QByteArray &text, Publication &publication);
QByteArray format(const Publication &publication);

// The bytes that are signed: a fixed heading, the sequence number and both
// files, each preceded by its length so that no byte can move from one
// part to the other.
QByteArray signedMessage(quint64 sequence, const QByteArray &version, const QByteArray &manifest);

// Whether `signature` is the signature of `message` by one of the keys
// whose public halves `publicKeysHex` lists, as publicKeysHex() does.
// A malformed key never verifies anything.
bool verify(const QByteArray &publicKeysHex, const QByteArray &message, const QByteArray &signature);

// The studio's side. A secret key is kept as 128 hexadecimal digits (the
// 32-byte seed followed by the public key); its public half as 64.
bool generateKeyPair(QByteArray &secretKeyHex, QByteArray &publicKeyHex);
// The public half of a secret key, or an empty array when `secretKeyHex`
// is not a well-formed secret key (wrong length, not hexadecimal, or a
// public half that does not belong to its seed).
QByteArray publicHalf(const QByteArray &secretKeyHex);
// The 64-byte signature of `message`, or an empty array for a bad key.
QByteArray sign(const QByteArray &secretKeyHex, const QByteArray &message);

} // namespace signature
