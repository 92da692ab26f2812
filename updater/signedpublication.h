#pragma once

#include "updater/signature.h"

#include <QString>

#include <optional>

// What a launcher built with the studio's key has accepted of the current
// publication: the studio's statement, once its signature, its expiry and
// its sequence number have been checked. Everything the launcher then
// fetches, shows or keeps is held to it.
class SignedPublication
{
public:
    enum class Verdict {
        Accepted,
        Unsigned,   // not a statement, or not signed by a key of the build
        Expired,    // signed, but past the time the studio gave it
        Older,      // below a publication this installation or build took
        Unreadable, // the installation's record of what it took is damaged
    };

    // Checks the bytes of a statement file. Accepted: the statement is held
    // until forget(), and the installation's record of the highest
    // publication it took is raised to it. `why`: a word for the debug log.
    Verdict accept(const QByteArray &text, QString *why);
    void forget() { m_statement.reset(); }
    bool held() const { return m_statement.has_value(); }
    quint64 sequence() const { return m_statement ? m_statement->sequence : 0; }
    // The held statement's entry for `name` (a path below the base URL).
    const signature::CoveredFile *covered(const QString &name) const;

    // The status text of a refusal, to be translated in the engine's context.
    static const char *refusalText(Verdict verdict);
    static const char *const kBodyRefused;
    static const char *const kNotCovered;

private:
    std::optional<signature::Statement> m_statement;
};
