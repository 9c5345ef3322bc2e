#include "state/loose_value.h"

#include <QTest>

#include <cmath>
#include <limits>

Q_DECLARE_METATYPE(LooseValue)

class TestLooseValue : public QObject
{
    Q_OBJECT

private slots:
    void leadingNumberOfText_data();
    void leadingNumberOfText();
    void strictValue_data();
    void strictValue();
    void printForm_data();
    void printForm();
    void plainForm_data();
    void plainForm();
    void kindsAndEmptyValue();
    void hugeAndTinyNumbersStayBounded();
};

void TestLooseValue::leadingNumberOfText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::newRow("letters after a number") << "150abc" << 150.0;
    QTest::newRow("blanks between digits") << " 1 5 0" << 150.0;
    QTest::newRow("exponent then garbage") << "12.5e1x" << 125.0;
    QTest::newRow("no number") << "abc" << 0.0;
    QTest::newRow("empty text") << "" << 0.0;
    QTest::newRow("tabs and line feeds skipped") << "\t1\n2" << 12.0;
    QTest::newRow("carriage return stops") << "1\r2" << 1.0;
    QTest::newRow("negative") << "-5" << -5.0;
    QTest::newRow("plus sign") << "+7x" << 7.0;
    QTest::newRow("sign with blank after") << "- 5" << -5.0;
    QTest::newRow("lone sign") << "-" << 0.0;
    QTest::newRow("point first") << ".5" << 0.5;
    QTest::newRow("point last") << "5." << 5.0;
    QTest::newRow("lone point") << "." << 0.0;
    QTest::newRow("second point stops") << "1.2.3" << 1.2;
    QTest::newRow("exponent without digits") << "3e" << 3.0;
    QTest::newRow("exponent sign without digits") << "3e+" << 3.0;
    QTest::newRow("negative exponent") << "25e-1" << 2.5;
    QTest::newRow("double sign") << "+-1" << 0.0;
    QTest::newRow("second number ignored") << "1-2" << 1.0;
    QTest::newRow("unicode digit is no digit") << "\u0661" << 0.0;
    QTest::newRow("record line with blanks") << " 150 " << 150.0;
}

void TestLooseValue::leadingNumberOfText()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(LooseValue(text).leadingNumber(), expected);
}

void TestLooseValue::strictValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("expected");
    QTest::newRow("blanks around") << " 150 " << true << 150.0;
    QTest::newRow("tab around") << "\t42\t" << true << 42.0;
    QTest::newRow("empty text has none") << "" << false << 0.0;
    QTest::newRow("blanks only") << "   " << false << 0.0;
    QTest::newRow("trailing letter") << "15a" << false << 0.0;
    QTest::newRow("blank inside") << "1 5" << false << 0.0;
    QTest::newRow("decimal") << "12.5" << true << 12.5;
    QTest::newRow("negative") << "-5" << true << -5.0;
    QTest::newRow("exponent") << "1e2" << true << 100.0;
    QTest::newRow("exponent without digits") << "3e" << false << 0.0;
    QTest::newRow("beyond double range") << "1e999" << false << 0.0;
    QTest::newRow("non-ASCII") << "15\u00b0" << false << 0.0;
}

void TestLooseValue::strictValue()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(double, expected);
    const std::optional<double> v = LooseValue(text).strictValue();
    QCOMPARE(v.has_value(), valid);
    if (valid)
        QCOMPARE(*v, expected);
}

void TestLooseValue::printForm_data()
{
    QTest::addColumn<LooseValue>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("positive number") << LooseValue(150) << " 150 ";
    QTest::newRow("negative number") << LooseValue(-5) << "-5 ";
    QTest::newRow("zero") << LooseValue(0) << " 0 ";
    QTest::newRow("negative zero") << LooseValue(-0.0) << " 0 ";
    QTest::newRow("fraction") << LooseValue(12.5) << " 12.5 ";
    QTest::newRow("million stays plain") << LooseValue(1e6) << " 1000000 ";
    QTest::newRow("from 1E+15 with exponent") << LooseValue(1e15) << " 1E+15 ";
    QTest::newRow("tiny uses exponent") << LooseValue(1.5e-7) << " 1.5E-07 ";
    QTest::newRow("text unchanged") << LooseValue(" 150") << " 150";
    QTest::newRow("text with letters") << LooseValue("abc") << "abc";
    QTest::newRow("empty gives nothing") << LooseValue() << "";
}

void TestLooseValue::printForm()
{
    QFETCH(LooseValue, value);
    QFETCH(QString, expected);
    QCOMPARE(value.printForm(), expected);
}

void TestLooseValue::plainForm_data()
{
    QTest::addColumn<LooseValue>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("integer") << LooseValue(230) << "230";
    QTest::newRow("from a double") << LooseValue(230.0) << "230";
    QTest::newRow("fraction") << LooseValue(0.1) << "0.1";
    QTest::newRow("negative") << LooseValue(-12) << "-12";
    QTest::newRow("text") << LooseValue(" 5 ") << " 5 ";
    QTest::newRow("empty") << LooseValue() << "";
}

void TestLooseValue::plainForm()
{
    QFETCH(LooseValue, value);
    QFETCH(QString, expected);
    QCOMPARE(value.plainForm(), expected);
}

void TestLooseValue::kindsAndEmptyValue()
{
    const LooseValue empty;
    QVERIFY(empty.isEmpty());
    QCOMPARE(empty.leadingNumber(), 0.0);
    QCOMPARE(empty.strictValue(), std::optional<double>(0.0)); // empty reads as 0
    const LooseValue number(150);
    QVERIFY(number.isNumber());
    QCOMPARE(number.strictValue(), std::optional<double>(150.0));
    const LooseValue text("150");
    QVERIFY(text.isText());
    QVERIFY(!(text == number)); // a typed text stays a text
    QCOMPARE(LooseValue(QString()).strictValue(), std::nullopt); // the empty text is no number
}

void TestLooseValue::hugeAndTinyNumbersStayBounded()
{
    QVERIFY(std::isinf(leadingNumber(u"9e999")));
    QCOMPARE(leadingNumber(u"1e-999"), 0.0);
    const QString longDigits(100000, u'9');
    QVERIFY(leadingNumber(longDigits) > 1e300); // bounded work, still a number
    QCOMPARE(strictNumber(longDigits), std::nullopt);
    QCOMPARE(plainNumber(std::numeric_limits<double>::infinity()), QStringLiteral("Infinity"));
}

QTEST_APPLESS_MAIN(TestLooseValue)
#include "test_loose_value.moc"
