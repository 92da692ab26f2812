#pragma once

#include <QLabel>
#include <QString>

// The status label: shows the last status text of the engine or the save
// manager until the next one arrives.
class textPerso : public QLabel
{
    Q_OBJECT

public:
    textPerso();

public slots:
    void displayText(QString text);
    void ToDate();
    void webError();
};
