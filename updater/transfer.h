#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QNetworkReply;

namespace platform {
class IncomingFile;
}
namespace signature {
class Sha256;
}

// One reply's body on its way, taken from the reply as it arrives: into a
// file of the installation that later takes the destination's name (a
// download; the body is never held in memory whole), or into memory (small
// bodies that are used, never stored). SHA-256 can be computed on the way,
// and a limit cuts off a body that grows beyond what is expected.
class BodyTransfer
{
public:
    enum class Storage { File, Memory };
    // `hint`: the destination's file name, for the temporary file's name.
    explicit BodyTransfer(Storage storage, const QString &hint = QString());
    ~BodyTransfer();
    BodyTransfer(const BodyTransfer &) = delete;
    BodyTransfer &operator=(const BodyTransfer &) = delete;

    // The most bytes the body may have; -1 for no limit.
    void setLimit(qint64 limit) { m_limit = limit; }
    // SHA-256 of what arrives (the studio's statement and signed manifest
    // use it).
    void addSha256();

    // Forgets what arrived so far (a redirect's own body is not the file).
    void restart();
    // Takes what `reply` holds; false once the body is over its limit, in
    // which case nothing more is taken.
    bool take(QNetworkReply *reply);

    Storage storage() const { return m_storage; }
    qint64 received() const { return m_received; }
    // Whether a server answered at all (an HTTP status came back).
    bool answered() const { return m_answered; }
    void setAnswered(bool answered) { m_answered = answered; }
    bool overLimit() const { return m_overLimit; }
    // Lowercase hexadecimal SHA-256 of what arrived, empty unless asked for.
    QString sha256();
    // The body, for Storage::Memory.
    const QByteArray &memory() const { return m_memory; }
    // The body, for Storage::File, once it has all arrived.
    platform::IncomingFile &file();

private:
    void storePending();

    Storage m_storage;
    QString m_hint;
    qint64 m_limit = -1;
    qint64 m_received = 0;
    bool m_overLimit = false;
    bool m_answered = false;
    QByteArray m_memory;
    // What arrived and is not yet in the file.
    QByteArray m_block;
    int m_pending = 0;
    std::unique_ptr<platform::IncomingFile> m_file;
    std::unique_ptr<signature::Sha256> m_sha256;
    QString m_sha256Hex;
};
