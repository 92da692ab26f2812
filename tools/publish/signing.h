#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

namespace publish {

// Writes a new secret signing key to `secretPath` (readable by its owner
// only; an existing file is never overwritten) and its public half, 64
// hexadecimal digits and a line end, to `secretPath` + ".pub". Returns an
// error message, or an empty text with the public half in `publicHex`.
QString generateKey(const QString &secretPath, QByteArray &publicHex);

// A studio's signing state: its secret key and the sequence numbers it has
// used, kept beside the key in `secretPath` + ".sequence" (the last number
// signed, in decimal), so that every publication signed with one key gets
// a higher number than the one before, whichever directory it goes to.
class Signer
{
public:
    // An error message for a key that is missing, unreadable or malformed,
    // or that lies inside `buildDir`, where the server would serve it.
    QString load(const QString &secretPath, const QString &buildDir);
    // The next publication's number: above the last one signed with this
    // key and above the ones already published in `buildDir`, if any.
    quint64 nextSequence() const { return m_next; }
    // Records nextSequence() as used; false when the record cannot be written.
    bool recordSequence() const;
    // The earlier signature file's text for the version and manifest bytes.
    QByteArray signatureFile(const QByteArray &version, const QByteArray &manifest) const;
    // The statement's text: the files (name below the base URL, bytes as
    // served) and the time until which the publication counts as current.
    QByteArray statementFile(const QDateTime &expires, const QList<QPair<QString, QByteArray>> &files) const;

private:
    QByteArray m_secretHex;
    QString m_sequencePath;
    quint64 m_next = 1;
};

} // namespace publish
