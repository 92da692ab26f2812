#pragma once

#include <QByteArray>
#include <QString>

// Signed publications: what a studio's signature covers, the detached
// signature file beside the manifest, and the Ed25519 operations on them.
// Only this module's source file talks to the cryptographic library.
namespace signature {

// The detached signature, served beside the manifest.
extern const char *const kSignatureFile;
// Settings key of the highest sequence number this installation accepted.
extern const char *const kSequenceKey;

// The studio's public keys compiled into this build, 64 hexadecimal digits
// each, separated by commas (more than one while a key is being replaced);
// empty in a build without a key, which never asks for a signature.
// Defined in the generated source of the build (see updater/updatekey.cmake).
const char *publicKeysHex();
bool enabled();

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
