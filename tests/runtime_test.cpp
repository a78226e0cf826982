// The language services at their edges: where a wrong rounding, a wrapped integer or a misread
// number would change what the game shows.
#include "runtime.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace forms;
using namespace Qt::StringLiterals;

namespace {

int errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const RuntimeError& e) {
        return e.number();
    }
    return 0;
}

} // namespace

class RuntimeTest : public QObject {
    Q_OBJECT

  private slots:
    void integersOverflowInsteadOfWrapping() {
        QCOMPARE((Integer(32766) + 1).value(), 32767);
        QCOMPARE((Integer(-32767) - 1).value(), -32768);
        QCOMPARE((Integer(-182) * 180).value(), -32760);
        QCOMPARE(errorOf([] { (void)(Integer(32767) + 1); }), int(Overflow));
        QCOMPARE(errorOf([] { (void)(Integer(-32768) - 1); }), int(Overflow));
        QCOMPARE(errorOf([] { (void)(Integer(200) * 200); }), int(Overflow));
        // The 32- to 16-bit conversion checks its range too.
        QCOMPARE(errorOf([] { (void)Integer(32768); }), int(Overflow));
        QCOMPARE(errorOf([] { (void)Integer(-32769); }), int(Overflow));
    }

    void floatToIntegerRoundsHalvesToEven_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("0.5") << 0.5 << 0;
        QTest::newRow("1.5") << 1.5 << 2;
        QTest::newRow("2.5") << 2.5 << 2;
        QTest::newRow("12.5") << 12.5 << 12;
        QTest::newRow("37.5") << 37.5 << 38;
        QTest::newRow("-0.5") << -0.5 << 0;
        QTest::newRow("-1.5") << -1.5 << -2;
        QTest::newRow("-2.5") << -2.5 << -2;
        QTest::newRow("just below a half") << 0.49999999999999994 << 0;
        QTest::newRow("99.5") << 99.5 << 100;
        QTest::newRow("0.995f * 100") << double(0.995f) * 100 << 100;
        QTest::newRow("largest") << 2147483647.4 << 2147483647;
    }
    void floatToIntegerRoundsHalvesToEven() {
        QFETCH(double, value);
        QFETCH(int, expected);
        QCOMPARE(FpI4(value), expected);
    }

    void floatFaultsRaiseOverflow() {
        QCOMPARE(errorOf([] { FpI4(2147483647.5); }), int(Overflow));
        QCOMPARE(errorOf([] { FpI4(std::nan("")); }), int(Overflow));
        QCOMPARE(errorOf([] { R4(1e39); }), int(Overflow));
        QCOMPARE(errorOf([] { CheckFloat(std::numeric_limits<double>::infinity()); }),
                 int(Overflow));
        QCOMPARE(R4(-520.0), -520.0f);
    }

    void codePage1251RoundTripsEveryCode() {
        for (int code = 0; code < 256; ++code) {
            const QString c = Chr(code);
            QCOMPARE(c.size(), 1);
            QCOMPARE(Asc(c).value(), code);
        }
        QCOMPARE(Asc(u"А"_s).value(), 0xC0);
        QCOMPARE(Chr(0xC0 + 29), QStringLiteral("Э"));
        QCOMPARE(Chr(0xA8), QStringLiteral("Ё"));
        QCOMPARE(Chr(0xB9), QStringLiteral("№"));
        QCOMPARE(Chr(0x88), QStringLiteral("€"));
        QCOMPARE(Chr(0xFF), QStringLiteral("я"));
        QCOMPARE(Asc(u"Ѓ"_s).value(), 0x81);
        QCOMPARE(Asc(u"漢"_s).value(), int('?')); // not in the code page
        QCOMPARE(errorOf([] { Asc(QString()); }), int(InvalidCall));
        QCOMPARE(errorOf([] { Chr(256); }), int(InvalidCall));
        QCOMPARE(errorOf([] { Chr(-1); }), int(InvalidCall));
    }

    void valReadsTheNumberAtTheStart_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("whole") << "7" << 7.0;
        QTest::newRow("blanks first") << " \t\r\n 12" << 12.0;
        QTest::newRow("then letters") << "12abc" << 12.0;
        QTest::newRow("letters only") << "abc" << 0.0;
        QTest::newRow("Cyrillic") << "седем" << 0.0;
        QTest::newRow("sign") << "-3.25" << -3.25;
        QTest::newRow("plus") << "+4" << 4.0;
        QTest::newRow("lone sign") << "-" << 0.0;
        QTest::newRow("point first") << ".5" << 0.5;
        QTest::newRow("trailing point") << "5." << 5.0;
        QTest::newRow("lone point") << "." << 0.0;
        QTest::newRow("exponent") << "1.5E3" << 1500.0;
        QTest::newRow("D exponent") << "2d2" << 200.0;
        QTest::newRow("negative exponent") << "25e-1" << 2.5;
        QTest::newRow("bare exponent letter") << "3e" << 3.0;
        QTest::newRow("second point") << "1.2.3" << 1.2;
        QTest::newRow("inner blank ends it") << "1 2" << 1.0;
        QTest::newRow("hex") << "&H1F" << 31.0;
        QTest::newRow("hex lower") << "&hff" << 255.0;
        QTest::newRow("octal") << "&O17" << 15.0;
        QTest::newRow("hex without digits") << "&H" << 0.0;
        QTest::newRow("underflow") << "1e-999" << 0.0;
        QTest::newRow("tiny after zeros") << "0.0000000001e-300" << 0.0;
        QTest::newRow("largest") << "1.7976931348623157e308" << 1.7976931348623157e308;
        QTest::newRow("full-width digit") << "７" << 0.0;
    }
    void valReadsTheNumberAtTheStart() {
        QFETCH(QString, text);
        QFETCH(double, expected);
        QCOMPARE(Val(text), expected);
    }

    void valRaisesOverflowForNumbersADoubleCannotHold() {
        QCOMPARE(errorOf([] { Val(u"1e999"_s); }), int(Overflow));
        QCOMPARE(errorOf([] { Val(u"-1e309"_s); }), int(Overflow));
        QCOMPARE(errorOf([] { Val(QString(400, u'9')); }), int(Overflow));
        QCOMPARE(errorOf([] { Val(u"0.0001e400"_s); }), int(Overflow));
        QCOMPARE(errorOf([] { Val(u"&H"_s + QString(300, u'F')); }), int(Overflow));
    }

    void cstrWritesTheShortestText_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one") << 1.0 << "1";
        QTest::newRow("eight") << 8.0 << "8";
        QTest::newRow("negative zero") << -0.0 << "0";
        QTest::newRow("negative") << -12.0 << "-12";
        QTest::newRow("fraction") << 2.5 << "2.5";
        QTest::newRow("tenth") << 0.1 << "0.1";
        QTest::newRow("hundred thousand") << 100000.0 << "100000";
        QTest::newRow("below 1e15") << 999999999999999.0 << "999999999999999";
        QTest::newRow("1e15") << 1e15 << "1E+15";
        QTest::newRow("small") << 0.00001 << "1E-05";
        QTest::newRow("sum") << 0.1 + 0.2 << "0.30000000000000004";
    }
    void cstrWritesTheShortestText() {
        QFETCH(double, value);
        QFETCH(QString, expected);
        QCOMPARE(CStr(value), expected);
        QCOMPARE(Val(CStr(value)), value == 0 ? 0.0 : value); // the text reads back the same
    }

    void rndStaysBelowOneAndCanBeForced() {
        Randomize();
        float lowest = 1, highest = 0;
        for (int i = 0; i < 200000; ++i) {
            const float r = Rnd(100);
            lowest = std::min(lowest, r);
            highest = std::max(highest, r);
        }
        QVERIFY(lowest >= 0 && lowest < 0.001f);
        QVERIFY(highest < 1 && highest > 0.999f);

        SetRandomSource([] { return 0.375f; });
        QCOMPARE(Rnd(20), 0.375f);
        QCOMPARE(Rnd(0), 0.375f); // zero repeats the last number
        SetRandomSource({});
        QVERIFY(Rnd(1) < 1);
    }

    void variantStepCountConcatenates() {
        Variant steps;
        QVERIFY(steps.IsEmpty());
        QCOMPARE(u"n="_s & steps, u"n="_s);
        steps = steps + 1;
        QCOMPARE(u"n="_s & steps, u"n=1"_s);
        steps = Integer(0);
        QVERIFY(!steps.IsEmpty());
        QCOMPARE(u"След брой стъпки: "_s & steps, u"След брой стъпки: 0"_s);
        steps = Integer(37);
        QCOMPARE((steps * 10).AsInteger().value(), 370);
        QCOMPARE(errorOf([&] { (void)(Variant(Integer(32767)) + 1); }), int(Overflow));
    }
};

QTEST_APPLESS_MAIN(RuntimeTest)
#include "runtime_test.moc"
