#include "signing.h"

#include "updater/signature.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace publish {

namespace {

QByteArray readAll(const QString &path, bool *ok = nullptr)
{
    QFile file(path);
    const bool opened = file.open(QIODevice::ReadOnly);
    if (ok)
        *ok = opened;
    return opened ? file.readAll() : QByteArray();
}

bool inside(const QString &path, const QString &dir)
{
    const QString file = QFileInfo(path).canonicalFilePath();
    const QString top = QFileInfo(dir).canonicalFilePath();
    return !file.isEmpty() && !top.isEmpty() && file.startsWith(top + QLatin1Char('/'));
}

} // namespace

QString generateKey(const QString &secretPath, QByteArray &publicHex)
{
    QByteArray secretHex;
    if (!signature::generateKeyPair(secretHex, publicHex))
        return QStringLiteral("cannot generate a key: this build has no Ed25519 library");
    QFile secret(secretPath);
    if (secret.exists())
        return secretPath + QStringLiteral(": already exists; a signing key is never overwritten");
        // Private from the moment it exists: no other user can open it between
        // its creation and the tightening of its permissions.
#ifdef Q_OS_UNIX
    const mode_t previousMask = ::umask(077);
#endif
    const bool opened = secret.open(QIODevice::WriteOnly | QIODevice::NewOnly);
#ifdef Q_OS_UNIX
    ::umask(previousMask);
#endif
    if (!opened || !secret.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || secret.write(secretHex + '\n') != secretHex.size() + 1 || !secret.flush())
        return QStringLiteral("cannot write ") + secretPath;
    secret.close();
    QSaveFile pub(secretPath + QStringLiteral(".pub"));
    if (!pub.open(QIODevice::WriteOnly) || pub.write(publicHex + '\n') != publicHex.size() + 1 || !pub.commit())
        return QStringLiteral("cannot write ") + pub.fileName();
    return QString();
}

QString Signer::load(const QString &secretPath, const QString &buildDir)
{
    bool readable = false;
    m_secretHex = readAll(secretPath, &readable).trimmed();
    if (!readable)
        return QStringLiteral("cannot read the signing key ") + secretPath;
    if (inside(secretPath, buildDir))
        return secretPath + QStringLiteral(": the signing key lies inside the published directory, where the server would serve it");
    if (signature::publicHalf(m_secretHex).isEmpty())
        return secretPath + QStringLiteral(": not a signing key; expected the 128 hexadecimal digits that --generate-key writes");

    m_sequencePath = secretPath + QStringLiteral(".sequence");
    bool known = false;
    const QByteArray last = readAll(m_sequencePath, &known).trimmed();
    bool number = true;
    const quint64 used = known ? last.toULongLong(&number) : 0;
    if (!number)
        return m_sequencePath + QStringLiteral(": holds no sequence number: \"%1\"").arg(QString::fromUtf8(last));
    signature::Publication published;
    const bool hasPublished = signature::parse(readAll(QDir(buildDir).filePath(QString::fromLatin1(signature::kSignatureFile))), published);
    signature::Statement stated;
    const bool hasStated =
        signature::parseStatement(readAll(QDir(buildDir).filePath(QString::fromLatin1(signature::kStatementFile))), stated);
    m_next = qMax(qMax(used, hasPublished ? published.sequence : 0), hasStated ? stated.sequence : 0) + 1;
    return QString();
}

bool Signer::recordSequence() const
{
    QSaveFile file(m_sequencePath);
    const QByteArray text = QByteArray::number(m_next) + '\n';
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

QByteArray Signer::signatureFile(const QByteArray &version, const QByteArray &manifest) const
{
    signature::Publication publication;
    publication.sequence = m_next;
    publication.signature = signature::sign(m_secretHex, signature::signedMessage(m_next, version, manifest));
    return publication.signature.isEmpty() ? QByteArray() : signature::format(publication);
}

QByteArray Signer::statementFile(const QDateTime &expires, const QList<QPair<QString, QByteArray>> &files) const
{
    signature::Statement statement;
    statement.sequence = m_next;
    statement.expires = expires;
    for (const auto &file : files) {
        signature::Sha256 sha256;
        sha256.add(file.second.constData(), file.second.size());
        statement.files.append({file.first, file.second.size(), sha256.hex()});
    }
    statement.signature = signature::sign(m_secretHex, signature::statementBody(statement));
    return statement.signature.isEmpty() ? QByteArray() : signature::formatStatement(statement);
}

} // namespace publish
