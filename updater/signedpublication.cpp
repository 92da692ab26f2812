#include "updater/signedpublication.h"

#include "platform/identity.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSettings>

namespace {

// The installation's record of the highest publication it took; unset on a
// fresh installation. False when the record is there but is no number.
bool recordedSequence(QSettings &settings, quint64 *sequence)
{
    const QString key = QString::fromLatin1(signature::kSequenceKey);
    *sequence = 0;
    if (!settings.contains(key))
        return true;
    return signature::parseSequence(settings.value(key).toString().toLatin1(), sequence);
}

} // namespace

const char *const SignedPublication::kBodyRefused =
    QT_TRANSLATE_NOOP("GameUpdater", "Downloaded file does not match the update manifest (014). Local version available.");
const char *const SignedPublication::kNotCovered =
    QT_TRANSLATE_NOOP("GameUpdater", "Update not signed by the studio (012). Local version available.");

const char *SignedPublication::refusalText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Accepted:
        break;
    case Verdict::Unsigned:
        return kNotCovered;
    case Verdict::Expired:
        return QT_TRANSLATE_NOOP("GameUpdater", "Update signature expired (015). Local version available.");
    case Verdict::Older:
        return QT_TRANSLATE_NOOP("GameUpdater", "Update older than the installed one (013). Local version available.");
    case Verdict::Unreadable:
        return QT_TRANSLATE_NOOP("GameUpdater", "Record of installed updates unreadable (016). Local version available.");
    }
    return "";
}

SignedPublication::Verdict SignedPublication::accept(const QByteArray &text, QString *why)
{
    m_statement.reset();
    signature::Statement statement;
    if (!signature::parseStatement(text, statement)) {
        *why = QStringLiteral("illisible");
        return Verdict::Unsigned;
    }
    if (!signature::verify(signature::publicKeysHex(), signature::statementBody(statement), statement.signature)) {
        *why = QStringLiteral("fausse");
        return Verdict::Unsigned;
    }
    if (QDateTime::currentDateTimeUtc() > statement.expires) {
        *why = QStringLiteral("expirée le ") + statement.expires.toString(Qt::ISODate);
        return Verdict::Expired;
    }
    // Kept in the settings store, which the uninstaller leaves; the build
    // itself knows the publication it was made with.
    QSettings settings(QString::fromLatin1(identity::kOrganisation), QString::fromLatin1(identity::kApplication));
    quint64 recorded = 0;
    if (!recordedSequence(settings, &recorded)) {
        *why = QStringLiteral("numéro enregistré illisible");
        return Verdict::Unreadable;
    }
    const quint64 lowest = qMax(recorded, signature::minimumSequence());
    if (statement.sequence < lowest) {
        *why = QStringLiteral("publication %1, plus ancienne que %2").arg(statement.sequence).arg(lowest);
        return Verdict::Older;
    }
    if (statement.sequence > recorded) {
        settings.setValue(QString::fromLatin1(signature::kSequenceKey), QString::number(statement.sequence));
        settings.sync();
    }
    *why = QString::number(statement.sequence);
    m_statement = statement;
    return Verdict::Accepted;
}

const signature::CoveredFile *SignedPublication::covered(const QString &name) const
{
    return m_statement ? m_statement->find(name) : nullptr;
}
