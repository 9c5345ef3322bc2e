#include "state/loose_value.h"

#include <QTest>

#include <limits>

Q_DECLARE_METATYPE(LooseValue)

namespace {

using Strict = std::optional<double>;
constexpr double kInf = std::numeric_limits<double>::infinity();

} // namespace

class TestLooseValue : public QObject
{
    Q_OBJECT

private slots:
    void numberOfText_data();
    void numberOfText();
    void writtenForms_data();
    void writtenForms();
    void kindsStayApart();
};

// What a value reads as: the number its text starts with (blanks skipped
// anywhere, never failing) and the number it spells whole (blanks around only).
void TestLooseValue::numberOfText_data()
{
    QTest::addColumn<LooseValue>("value");
    QTest::addColumn<double>("leading");
    QTest::addColumn<Strict>("strict");
    QTest::newRow("record line with blanks") << LooseValue(" 150 ") << 150.0 << Strict(150);
    QTest::newRow("tabs around") << LooseValue("\t42\t") << 42.0 << Strict(42);
    QTest::newRow("letters after a number") << LooseValue("150abc") << 150.0 << Strict();
    QTest::newRow("blanks between digits") << LooseValue(" 1 5 0") << 150.0 << Strict();
    QTest::newRow("tabs and line feeds skipped") << LooseValue("\t1\n2") << 12.0 << Strict();
    QTest::newRow("carriage return stops") << LooseValue("1\r2") << 1.0 << Strict();
    QTest::newRow("no number") << LooseValue("abc") << 0.0 << Strict();
    QTest::newRow("empty text is no number") << LooseValue("") << 0.0 << Strict();
    QTest::newRow("blanks only") << LooseValue("   ") << 0.0 << Strict();
    QTest::newRow("empty value reads as 0") << LooseValue() << 0.0 << Strict(0);
    QTest::newRow("a number") << LooseValue(150) << 150.0 << Strict(150);
    QTest::newRow("decimal") << LooseValue("12.5") << 12.5 << Strict(12.5);
    QTest::newRow("negative") << LooseValue("-5") << -5.0 << Strict(-5);
    QTest::newRow("plus sign") << LooseValue("+7x") << 7.0 << Strict();
    QTest::newRow("sign with blank after") << LooseValue("- 5") << -5.0 << Strict();
    QTest::newRow("lone sign") << LooseValue("-") << 0.0 << Strict();
    QTest::newRow("double sign") << LooseValue("+-1") << 0.0 << Strict();
    QTest::newRow("second number ignored") << LooseValue("1-2") << 1.0 << Strict();
    QTest::newRow("point first") << LooseValue(".5") << 0.5 << Strict(0.5);
    QTest::newRow("point last") << LooseValue("5.") << 5.0 << Strict(5);
    QTest::newRow("lone point") << LooseValue(".") << 0.0 << Strict();
    QTest::newRow("second point stops") << LooseValue("1.2.3") << 1.2 << Strict();
    QTest::newRow("exponent") << LooseValue("1e2") << 100.0 << Strict(100);
    QTest::newRow("negative exponent") << LooseValue("25e-1") << 2.5 << Strict(2.5);
    QTest::newRow("exponent then garbage") << LooseValue("12.5e1x") << 125.0 << Strict();
    QTest::newRow("exponent without digits") << LooseValue("3e") << 3.0 << Strict();
    QTest::newRow("exponent sign without digits") << LooseValue("3e+") << 3.0 << Strict();
    QTest::newRow("beyond double range") << LooseValue("9e999") << kInf << Strict();
    QTest::newRow("below double range") << LooseValue("1e-999") << 0.0 << Strict(0);
    // Bounded work, and still a number, not the start of one.
    QTest::newRow("100000 digits") << LooseValue(QString(100000, u'9')) << kInf << Strict();
    QTest::newRow("unicode digit is no digit") << LooseValue("\u0661") << 0.0 << Strict();
    QTest::newRow("non-ASCII after a number") << LooseValue("15\u00b0") << 15.0 << Strict();
}

void TestLooseValue::numberOfText()
{
    QFETCH(LooseValue, value);
    QFETCH(double, leading);
    QFETCH(Strict, strict);
    QCOMPARE(value.leadingNumber(), leading);
    QCOMPARE(value.strictValue(), strict);
}

// How a value is written: print form for record lines and printed items,
// plain form for fields and captions. Texts are written unchanged.
void TestLooseValue::writtenForms_data()
{
    QTest::addColumn<LooseValue>("value");
    QTest::addColumn<QString>("print");
    QTest::addColumn<QString>("plain");
    QTest::newRow("positive number") << LooseValue(150) << " 150 "
                                     << "150";
    QTest::newRow("negative number") << LooseValue(-5) << "-5 "
                                     << "-5";
    QTest::newRow("zero") << LooseValue(0) << " 0 "
                          << "0";
    QTest::newRow("negative zero") << LooseValue(-0.0) << " 0 "
                                   << "0";
    QTest::newRow("fraction") << LooseValue(12.5) << " 12.5 "
                              << "12.5";
    QTest::newRow("tenth") << LooseValue(0.1) << " 0.1 "
                           << "0.1";
    QTest::newRow("million stays plain") << LooseValue(1e6) << " 1000000 "
                                         << "1000000";
    QTest::newRow("from 1E+15 with exponent") << LooseValue(1e15) << " 1E+15 "
                                              << "1E+15";
    QTest::newRow("tiny uses exponent") << LooseValue(1.5e-7) << " 1.5E-07 "
                                        << "1.5E-07";
    QTest::newRow("infinity") << LooseValue(kInf) << " Infinity "
                              << "Infinity";
    QTest::newRow("text unchanged") << LooseValue(" 150") << " 150"
                                    << " 150";
    QTest::newRow("text with letters") << LooseValue("abc") << "abc"
                                       << "abc";
    QTest::newRow("empty gives nothing") << LooseValue() << ""
                                         << "";
}

void TestLooseValue::writtenForms()
{
    QFETCH(LooseValue, value);
    QFETCH(QString, print);
    QFETCH(QString, plain);
    QCOMPARE(value.printForm(), print);
    QCOMPARE(value.plainForm(), plain);
}

void TestLooseValue::kindsStayApart()
{
    QVERIFY(LooseValue().isEmpty());
    QVERIFY(LooseValue(150).isNumber());
    QVERIFY(LooseValue("150").isText());
    QVERIFY(!(LooseValue("150") == LooseValue(150))); // a typed text stays a text
}

QTEST_APPLESS_MAIN(TestLooseValue)
#include "test_loose_value.moc"
