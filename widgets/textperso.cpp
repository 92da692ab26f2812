#include "widgets/textperso.h"

textPerso::textPerso()
    : QLabel(nullptr, Qt::WindowFlags())
{
}

void textPerso::displayText(QString text)
{
    setText(text);
}

void textPerso::ToDate()
{
    setText(QStringLiteral("Vous possédez la dernière version disponible."));
}

void textPerso::webError()
{
    setText(QStringLiteral("Téléchargement impossible. Vous pouvez jouer avec la version locale."));
}
