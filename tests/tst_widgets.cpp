// The status label and the progress bar, driven through their slots.

#include "widgets/progressbar.h"
#include "widgets/textperso.h"

#include <QLabel>
#include <QTest>

#include <climits>

using Pair = QPair<qint64, qint64>;
Q_DECLARE_METATYPE(QList<Pair>)

class WidgetsTest : public QObject
{
    Q_OBJECT

private slots:
    void progressFollowsPairs_data();
    void progressFollowsPairs();
    void labelTexts_data();
    void labelTexts();
    void labelRendersRichTextOnOneLine();
};

void WidgetsTest::progressFollowsPairs_data()
{
    QTest::addColumn<QList<Pair>>("pairs");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("reset before any download") << QList<Pair>{} << 0 << 100 << -1 << QString();
    QTest::newRow("busy") << QList<Pair>{{0, 0}} << 0 << 0 << 0 << QString();
    QTest::newRow("half") << QList<Pair>{{500, 1000}} << 0 << 1000 << 500 << "50%";
    // The maximum is raised before the value is set.
    QTest::newRow("next larger file") << QList<Pair>{{500, 1000}, {1500, 3000}} << 0 << 3000 << 1500 << "50%";
    // The earlier value falls outside -1..-1, so the bar is reset and 300 ignored.
    QTest::newRow("unknown size") << QList<Pair>{{500, 1000}, {300, -1}} << -1 << -1 << -2 << QString();
    QTest::newRow("minimum stays after unknown size") << QList<Pair>{{500, 1000}, {300, -1}, {50, 100}} << -1 << 100
                                                      << 50 << "50%";
    QTest::newRow("value above total not clamped") << QList<Pair>{{20, 100}, {150, 100}} << 0 << 100 << 20 << "20%";
    QTest::newRow("largest exact size") << QList<Pair>{{INT_MAX, INT_MAX}} << 0 << INT_MAX << INT_MAX << "100%";
    // Narrowed to the low 32 bits, not saturated.
    QTest::newRow("2^31 becomes negative") << QList<Pair>{{1, qint64(1) << 31}} << INT_MIN << INT_MIN << INT_MIN
                                           << QString();
}

void WidgetsTest::progressFollowsPairs()
{
    QFETCH(QList<Pair>, pairs);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, value);
    QFETCH(QString, text);

    progressBar bar;
    for (const Pair &pair : pairs)
        bar.setProgress(pair.first, pair.second);

    QCOMPARE(bar.minimum(), minimum);
    QCOMPARE(bar.maximum(), maximum);
    QCOMPARE(bar.value(), value);
    QCOMPARE(bar.text(), text);
}

void WidgetsTest::labelTexts_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("text");

    QTest::newRow("displayText keeps blanks") << "displayText" << "Downloading  version.txt..."
                                              << "Downloading  version.txt...";
    QTest::newRow("displayText empty") << "displayText" << "" << "";
    QTest::newRow("ToDate") << "ToDate" << QString() << "Vous possédez la dernière version disponible.";
    QTest::newRow("webError") << "webError" << QString()
                              << "Téléchargement impossible. Vous pouvez jouer avec la version locale.";
}

// Called by name, as the meta-object system reaches them.
void WidgetsTest::labelTexts()
{
    QFETCH(QString, slot);
    QFETCH(QString, argument);
    QFETCH(QString, text);

    textPerso label;
    label.setText(QStringLiteral("an earlier message"));
    if (slot == QLatin1String("displayText"))
        QVERIFY(QMetaObject::invokeMethod(&label, "displayText", Q_ARG(QString, argument)));
    else
        QVERIFY(QMetaObject::invokeMethod(&label, slot.toLatin1().constData()));
    QCOMPARE(label.text(), text);
}

void WidgetsTest::labelRendersRichTextOnOneLine()
{
    // Rendered markup asks for the width of "Ready" alone; shown tags would be wider.
    textPerso label;
    label.displayText(QStringLiteral("<span>Ready</span>"));
    QLabel literal;
    literal.setTextFormat(Qt::PlainText);
    literal.setText(label.text());
    QCOMPARE(label.sizeHint().width(), QLabel(QStringLiteral("Ready")).sizeHint().width());
    QVERIFY(literal.sizeHint().width() > label.sizeHint().width());

    // A long message is not wrapped: the label asks for its full width.
    textPerso shortLabel, longLabel;
    shortLabel.displayText(QStringLiteral("Done"));
    longLabel.displayText(QStringLiteral("Unable to start Game.exe, please check your antivirus and repair files. (Error 008)"));
    QCOMPARE(longLabel.sizeHint().height(), shortLabel.sizeHint().height());
    QVERIFY(longLabel.sizeHint().width() > 4 * shortLabel.sizeHint().width());
}

QTEST_MAIN(WidgetsTest)
#include "tst_widgets.moc"
