#pragma once

#include <QStringList>
#include <QTranslator>

// A catalogue of every text the launcher shows, each in the translation
// context and with the disambiguation that it is looked up with. Installed
// on the application, it sees every lookup that no later translator answers
// and records each one in a context of the launcher's that it does not hold:
// a text looked up in another context or with another disambiguation than
// the translators were given, which a real catalogue would never translate.
class LauncherCatalogue : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *disambiguation = nullptr, int n = -1) const override;
    bool isEmpty() const override { return false; }

    // "context|text|disambiguation" of each misplaced lookup, in order.
    QStringList misplaced() const { return m_misplaced; }

private:
    mutable QStringList m_misplaced;
};
