// The language services at their edges: where a wrong rounding, a wrapped integer or a misread
// number would change what the game shows.
#define MIGLIAR_RUNTIME_ONLY
#include "support.h"

#include <QTest>

#include <clocale>
#include <cmath>
#include <limits>

using namespace forms;
using namespace Qt::StringLiterals;

class RuntimeTest : public QObject {
    Q_OBJECT

  private slots:
    // Every case runs under a C locale whose decimal mark is a comma where the build made one,
    // as Qt sets the locale from a Bulgarian desktop: the numbers keep their point.
    void initTestCase() {
#ifdef MIGLIAR_COMMA_LOCALE
        qputenv("LOCPATH", MIGLIAR_LOCALE_DIR);
        QVERIFY2(std::setlocale(LC_ALL, MIGLIAR_COMMA_LOCALE),
                 "no locale " MIGLIAR_COMMA_LOCALE " in " MIGLIAR_LOCALE_DIR);
        QCOMPARE(std::localeconv()->decimal_point, ",");
#endif
    }

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
        QTest::newRow("inner blank skipped") << "1 2" << 12.0;
        QTest::newRow("blanks everywhere") << "- 1 . 5 e\t1\r\n2x" << -1.5e12;
        QTest::newRow("blanks then a word") << " 1615 198th Street" << 1615198.0;
        QTest::newRow("hex") << "&H1F" << 31.0;
        QTest::newRow("hex lower") << "&hff" << 255.0;
        QTest::newRow("octal") << "&O17" << 15.0;
        QTest::newRow("hex without digits") << "&H" << 0.0;
        QTest::newRow("ampersand alone") << "&12" << 0.0;
        QTest::newRow("hex with blanks") << "& H F F" << 255.0;
        QTest::newRow("hex then letters") << "&H1Fzz" << 31.0;
        QTest::newRow("octal then 8") << "&O17 8 9" << 15.0;
        QTest::newRow("hex then a minus") << "&HFF-1" << 255.0;
        QTest::newRow("hex E is a digit") << "&H1E5" << 485.0;
        QTest::newRow("hex, 16-bit sign") << "&HFFFF" << -1.0;
        QTest::newRow("hex, 16-bit lowest") << "&H8000" << -32768.0;
        QTest::newRow("hex, leading zeros") << "&H0000FFFF" << -1.0;
        QTest::newRow("hex past 16 bits") << "&H10000" << 65536.0;
        QTest::newRow("hex, 32-bit sign") << "&HFFFFFFFF" << -1.0;
        QTest::newRow("hex past 32 bits") << "&H100000000" << 4294967296.0;
        QTest::newRow("hex, 64 bits") << "&HFFFFFFFFFFFFFFFF" << 18446744073709551615.0;
        QTest::newRow("octal, 16-bit sign") << "&O177777" << -1.0;
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
        QCOMPARE(errorOf([] { Val(u"&H10000000000000000"_s); }), int(Overflow)); // 65 bits
        QCOMPARE(errorOf([] { Val(u"&O2000000000000000000000"_s); }), int(Overflow));
        // The largest Double written with 15 digits rounds past it, as the classic CStr does.
        const QString largest = CStr(std::numeric_limits<double>::max());
        QCOMPARE(largest, u"1.79769313486232E+308"_s);
        QCOMPARE(errorOf([&] { Val(largest); }), int(Overflow));
    }

    // "%" Integer, "&" Long, "!" Single, "#" Double, "@" Currency after the number.
    void valHonoursTypeCharacters_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::addColumn<int>("error");
        QTest::newRow("Integer") << "50%" << 50.0 << 0;
        QTest::newRow("Integer, blank first") << "-32768 %" << -32768.0 << 0;
        QTest::newRow("Integer with decimals") << "50.5%" << 0.0 << int(TypeMismatch);
        QTest::newRow("Integer with a zero decimal") << "1.0%" << 0.0 << int(TypeMismatch);
        // Only digits after the point make decimals (Microsoft's VB.NET port of Val counts them).
        QTest::newRow("Integer, a bare point") << "5.%" << 5.0 << 0;
        QTest::newRow("Long, a bare point") << "5.&" << 5.0 << 0;
        QTest::newRow("Integer too large") << "40000%" << 0.0 << int(Overflow);
        QTest::newRow("Long") << "40000&" << 40000.0 << 0;
        QTest::newRow("Long with decimals") << "1.34&" << 0.0 << int(TypeMismatch);
        QTest::newRow("Long too large") << "3000000000&" << 0.0 << int(Overflow);
        QTest::newRow("Single") << "0.1!" << double(0.1f) << 0;
        QTest::newRow("Single too large") << "1e39!" << 0.0 << int(Overflow);
        QTest::newRow("Double") << "2.5#" << 2.5 << 0;
        QTest::newRow("Currency") << "1.23456@" << 1.2346 << 0;
        QTest::newRow("Currency too large") << "1e15@" << 0.0 << int(Overflow);
        QTest::newRow("not a type character") << "1.5$" << 1.5 << 0;
        QTest::newRow("hex as a Long") << "&HFFFF&" << 65535.0 << 0;
        QTest::newRow("hex as an Integer") << "&HFFFFFFFF%" << -1.0 << 0;
        QTest::newRow("hex too large for an Integer") << "&H12345%" << 0.0 << int(Overflow);
        QTest::newRow("hex too large for a Long") << "&H100000000&" << 0.0 << int(Overflow);
    }
    void valHonoursTypeCharacters() {
        QFETCH(QString, text);
        QFETCH(double, expected);
        QFETCH(int, error);
        double value = 0;
        QCOMPARE(errorOf([&] { value = Val(text); }), error);
        QCOMPARE(value, expected);
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
        QTest::newRow("small") << 0.00001 << "0.00001";
        QTest::newRow("sum") << 0.1 + 0.2 << "0.3";
        QTest::newRow("15 digits") << 1.123456789012345678 << "1.12345678901235";
        QTest::newRow("rounds up to 1E+15") << 999999999999999.9 << "1E+15";
        QTest::newRow("large") << 1.5e20 << "1.5E+20";
        QTest::newRow("large, negative") << -1.2345e300 << "-1.2345E+300";
        QTest::newRow("small, plain") << 0.000056789 << "0.000056789";
        QTest::newRow("15 decimals") << 5.6789e-11 << "0.000000000056789";
        QTest::newRow("16 decimals") << 5.6789e-12 << "5.6789E-12";
        QTest::newRow("tiny") << 1e-20 << "1E-20";
        QTest::newRow("one-digit exponent") << 1.23456789012345e-5 << "1.23456789012345E-05";
        QTest::newRow("exponent -9") << 1.2345678e-9 << "1.2345678E-09";
        QTest::newRow("exponent -10: two digits") << 1.2345678e-10 << "1.2345678E-10";
        QTest::newRow("1E-04, all digits") << 0.000123456789012345 << "0.000123456789012345";
    }
    void cstrWritesTheShortestText() {
        QFETCH(double, value);
        QFETCH(QString, expected);
        QCOMPARE(CStr(value), expected);
        // The text reads back to a number within its 15 digits, and that writes the same text.
        const double back = Val(expected);
        QVERIFY(std::fabs(back - value) <= 5.2e-15 * std::fabs(value));
        QCOMPARE(CStr(back), expected);
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
