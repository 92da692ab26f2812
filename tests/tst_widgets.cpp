// The status label and the progress bar, driven through their slots.

#include "widgets/progressbar.h"
#include "widgets/textperso.h"

#include <QLabel>
#include <QTest>

#include <climits>

namespace {

using Pair = QPair<qint64, qint64>;

const qint64 k2p32 = qint64(1) << 32;
const qint64 k2p31 = qint64(1) << 31;

} // namespace

Q_DECLARE_METATYPE(QList<Pair>)

class WidgetsTest : public QObject
{
    Q_OBJECT

private slots:
    void classNames();
    void progressStartsReset();
    void progressFollowsPairs_data();
    void progressFollowsPairs();
    void labelStartsEmpty();
    void labelTexts_data();
    void labelTexts();
    void labelRendersRichText();
    void labelDoesNotWrap();
};

void WidgetsTest::classNames()
{
    textPerso label;
    progressBar bar;
    QCOMPARE(QString::fromLatin1(label.metaObject()->className()), QStringLiteral("textPerso"));
    QCOMPARE(QString::fromLatin1(bar.metaObject()->className()), QStringLiteral("progressBar"));
    QVERIFY(label.inherits("QLabel"));
    QVERIFY(bar.inherits("QProgressBar"));
    // The three slots are reachable by name through the meta-object system.
    QVERIFY(label.metaObject()->indexOfSlot("displayText(QString)") >= 0);
    QVERIFY(label.metaObject()->indexOfSlot("ToDate()") >= 0);
    QVERIFY(label.metaObject()->indexOfSlot("webError()") >= 0);
    QVERIFY(bar.metaObject()->indexOfSlot("setProgress(qint64,qint64)") >= 0);
}

void WidgetsTest::progressStartsReset()
{
    progressBar bar;
    QCOMPARE(bar.parent(), nullptr);
    QCOMPARE(bar.minimum(), 0);
    QCOMPARE(bar.maximum(), 100);
    QCOMPARE(bar.value(), -1);
    QCOMPARE(bar.text(), QString());
    QCOMPARE(bar.orientation(), Qt::Horizontal);
    QVERIFY(bar.isTextVisible());
}

void WidgetsTest::progressFollowsPairs_data()
{
    QTest::addColumn<QList<Pair>>("pairs");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("busy") << QList<Pair>{{0, 0}} << 0 << 0 << 0 << QString();
    QTest::newRow("half") << QList<Pair>{{500, 1000}} << 0 << 1000 << 500 << QStringLiteral("50%");
    QTest::newRow("next larger file, maximum first") << QList<Pair>{{500, 1000}, {1500, 3000}} << 0 << 3000 << 1500
                                                     << QStringLiteral("50%");
    QTest::newRow("next smaller file") << QList<Pair>{{2500, 3000}, {10, 40}} << 0 << 40 << 10 << QStringLiteral("25%");
    QTest::newRow("whole file") << QList<Pair>{{0, 700}, {700, 700}} << 0 << 700 << 700 << QStringLiteral("100%");
    // The earlier value falls outside -1..-1, so the bar is reset (value
    // below the minimum) and 300 is ignored.
    QTest::newRow("unknown size") << QList<Pair>{{500, 1000}, {300, -1}} << -1 << -1 << -2 << QString();
    QTest::newRow("minimum stays after unknown size") << QList<Pair>{{500, 1000}, {300, -1}, {50, 100}} << -1 << 100
                                                      << 50 << QStringLiteral("50%");
    QTest::newRow("value above total ignored") << QList<Pair>{{20, 100}, {150, 100}} << 0 << 100 << 20
                                               << QStringLiteral("20%");
    QTest::newRow("largest exact size") << QList<Pair>{{INT_MAX, INT_MAX}} << 0 << INT_MAX << INT_MAX
                                        << QStringLiteral("100%");
    QTest::newRow("above 2^32 narrowed") << QList<Pair>{{k2p32 + 5, k2p32 + 10}} << 0 << 10 << 5
                                         << QStringLiteral("50%");
    QTest::newRow("2^31 becomes negative") << QList<Pair>{{1, k2p31}} << INT_MIN << INT_MIN << INT_MIN << QString();
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

void WidgetsTest::labelStartsEmpty()
{
    textPerso label;
    QCOMPARE(label.parent(), nullptr);
    QCOMPARE(label.text(), QString());
    QCOMPARE(label.textFormat(), Qt::AutoText);
    QVERIFY(!label.wordWrap());
    QCOMPARE(label.windowFlags(), QLabel().windowFlags());
}

void WidgetsTest::labelTexts_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("text");

    QTest::newRow("displayText") << "displayText" << "Downloading  version.txt..." << "Downloading  version.txt...";
    QTest::newRow("displayText keeps blanks") << "displayText" << "  two  " << "  two  ";
    QTest::newRow("displayText empty") << "displayText" << "" << "";
    QTest::newRow("ToDate") << "ToDate" << QString() << "Vous possédez la dernière version disponible.";
    QTest::newRow("webError") << "webError" << QString()
                              << "Téléchargement impossible. Vous pouvez jouer avec la version locale.";
}

void WidgetsTest::labelTexts()
{
    QFETCH(QString, slot);
    QFETCH(QString, argument);
    QFETCH(QString, text);

    textPerso label;
    label.setText(QStringLiteral("an earlier message"));
    bool invoked = false;
    if (slot == QLatin1String("displayText"))
        invoked = QMetaObject::invokeMethod(&label, "displayText", Q_ARG(QString, argument));
    else
        invoked = QMetaObject::invokeMethod(&label, slot.toLatin1().constData());

    QVERIFY(invoked);
    QCOMPARE(label.text(), text);
}

void WidgetsTest::labelRendersRichText()
{
    // A label that renders the markup asks for the width of "Ready" alone;
    // one that showed the tags would be wider.
    textPerso label;
    label.displayText(QStringLiteral("<span>Ready</span>"));
    QLabel rendered(QStringLiteral("Ready"));
    QLabel literal;
    literal.setTextFormat(Qt::PlainText);
    literal.setText(QStringLiteral("<span>Ready</span>"));

    QCOMPARE(label.text(), QStringLiteral("<span>Ready</span>"));
    QCOMPARE(label.sizeHint().width(), rendered.sizeHint().width());
    QVERIFY(literal.sizeHint().width() > label.sizeHint().width());
}

void WidgetsTest::labelDoesNotWrap()
{
    textPerso shortLabel;
    shortLabel.displayText(QStringLiteral("Done"));
    textPerso longLabel;
    longLabel.displayText(QStringLiteral("Unable to start Game.exe, please check your antivirus and repair files. (Error 008)"));
    QCOMPARE(longLabel.sizeHint().height(), shortLabel.sizeHint().height());
    QVERIFY(longLabel.sizeHint().width() > 4 * shortLabel.sizeHint().width());
}

QTEST_MAIN(WidgetsTest)
#include "tst_widgets.moc"
