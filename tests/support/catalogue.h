#pragma once

#include <QStringList>
#include <QTranslator>

// The launcher's own French catalogue, as a witness of every text the
// launcher looks up. It installs itself on the application, sees every
// lookup that no later translator answers and records each one, in a
// context of the launcher's, that the catalogue does not translate: a text
// looked up in another context or with another disambiguation than the
// translators were given, or one they were never given or whose French
// form has another code.
class LauncherCatalogue : public QTranslator
{
public:
    LauncherCatalogue();
    QString translate(const char *context, const char *sourceText, const char *disambiguation = nullptr, int n = -1) const override;
    bool isEmpty() const override { return false; }

    // "context|text|disambiguation" of each misplaced lookup, in order.
    QStringList misplaced() const { return m_misplaced; }

private:
    QTranslator m_french;
    mutable QStringList m_misplaced;
};
