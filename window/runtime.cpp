#include "runtime.h"

#include <array>
#include <charconv>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <string_view>

namespace forms {

namespace {

QString messageFor(ErrorNumber number) {
    switch (number) {
    case InvalidCall:
        return QStringLiteral("Невалидно извикване на процедура или невалиден аргумент");
    case Overflow:
        return QStringLiteral("Препълване");
    case SubscriptOutOfRange:
        return QStringLiteral("Индексът е извън допустимите граници");
    case TypeMismatch:
        return QStringLiteral("Несъвместими типове");
    case NoSuchArrayElement:
        return QStringLiteral("Няма такъв елемент в масива от контроли");
    case AlreadyLoaded:
        return QStringLiteral("Обектът вече е зареден");
    }
    return QStringLiteral("Грешка при изпълнение");
}

} // namespace

RuntimeError::RuntimeError(int number, const QString& message)
    : std::runtime_error(message.toStdString()), number_(number), message_(message) {}

void Raise(ErrorNumber number, const QString& detail) {
    QString message = messageFor(number);
    if (!detail.isEmpty())
        message += QStringLiteral(": ") + detail;
    throw RuntimeError(number, message);
}

// ---- Integer ---------------------------------------------------------------------------------

Integer::Integer(std::int32_t value) {
    if (value < std::numeric_limits<std::int16_t>::min() ||
        value > std::numeric_limits<std::int16_t>::max())
        Raise(Overflow);
    value_ = static_cast<std::int16_t>(value);
}

Integer operator+(Integer a, Integer b) {
    return std::int32_t{a.value_} + b.value_;
}
Integer operator-(Integer a, Integer b) {
    return std::int32_t{a.value_} - b.value_;
}
Integer operator*(Integer a, Integer b) {
    return std::int32_t{a.value_} * b.value_;
}

QString Variant::Text() const {
    return value_ ? QString::number(value_->value()) : QString();
}

QString operator&(const QString& text, const Variant& value) {
    return text + value.Text();
}

// ---- Conversions -----------------------------------------------------------------------------

std::int32_t FpI4(double value) {
    if (!std::isfinite(value))
        Raise(Overflow);
    const double below = std::floor(value);
    const double fraction = value - below;
    double nearest = below;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2.0) != 0.0))
        nearest = below + 1.0;
    if (nearest < std::numeric_limits<std::int32_t>::min() ||
        nearest > std::numeric_limits<std::int32_t>::max())
        Raise(Overflow);
    return static_cast<std::int32_t>(nearest);
}

float R4(double value) {
    CheckFloat(value);
    if (std::fabs(value) > std::numeric_limits<float>::max())
        Raise(Overflow);
    return static_cast<float>(value);
}

double CheckFloat(double value) {
    if (!std::isfinite(value))
        Raise(Overflow);
    return value;
}

// ---- Val and CStr ----------------------------------------------------------------------------

namespace {

// Val strips these from the whole text, so they may stand anywhere in a number: "1 2 3" is 123.
// CR is one of them too: a line break pasted from Windows is CR LF, and its two halves should not
// read differently.
bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// The text as Val reads it: one character at a time, with the blanks left out.
class Reader {
  public:
    explicit Reader(const QString& text) : text_(text) {}
    // The next character that is not a blank; 0 at the end.
    char16_t peek() {
        while (at_ < text_.size() && isBlank(text_[at_]))
            ++at_;
        return at_ < text_.size() ? text_[at_].unicode() : u'\0';
    }
    void next() { ++at_; }
    bool atDigit() {
        const char16_t c = peek();
        return c >= u'0' && c <= u'9';
    }

  private:
    const QString& text_;
    qsizetype at_ = 0;
};

// A type-declaration character right after the number converts it as a literal of that type
// would be: "%" Integer, "&" Long, "!" Single, "@" Currency, "#" Double. A number written with
// decimals is no Integer or Long literal ("1.5%" is a type mismatch, "40000%" an overflow).
double withTypeCharacter(double value, char16_t type, bool decimals) {
    switch (type) {
    case u'%':
        if (decimals)
            Raise(TypeMismatch);
        return Integer(FpI4(value)).value();
    case u'&':
        if (decimals)
            Raise(TypeMismatch);
        return FpI4(value);
    case u'!':
        return R4(value);
    case u'@': {
        // Currency: four decimal places, a half to the even one, a 64-bit count of 1/10000.
        const double scaled = std::nearbyint(value * 10000);
        if (scaled < -0x1p63 || scaled >= 0x1p63)
            Raise(Overflow);
        return scaled / 10000;
    }
    default:
        return value; // "#", or no type character
    }
}

// The digits after "&H" or "&O". What fits 16 bits is a signed Integer and what fits 32 bits a
// signed Long: "&HFFFF" is -1, "&H10000" 65536, "&HFFFFFFFF" -1. A "&" after the digits asks for
// a Long, so "&HFFFF&" is 65535. Up to 64 bits the number stands unsigned, as OLE Automation's
// number parser reads it; more digits than that overflow.
double radixNumber(Reader& in, int radix) {
    std::uint64_t value = 0;
    for (;; in.next()) {
        const char16_t c = in.peek();
        int digit = radix;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        if (digit >= radix)
            break;
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / radix)
            Raise(Overflow);
        value = value * radix + digit;
    }
    const char16_t type = in.peek();
    double number = static_cast<double>(value);
    if (value <= 0xFFFF && type != u'&')
        number = static_cast<std::int16_t>(value);
    else if (value <= 0xFFFFFFFF)
        number = static_cast<std::int32_t>(value);
    return withTypeCharacter(number, type, false);
}

#if defined(__cpp_lib_to_chars) && !defined(MIGLIAR_NO_FLOAT_CHARCONV)
#define MIGLIAR_FLOAT_CHARCONV
#else
// strtod and snprintf read and write the decimal mark of the C library's LC_NUMERIC, which Qt
// sets from the environment (a comma under bg_BG.UTF-8); the numbers here always have a point.
const char* decimalMark() {
    return std::localeconv()->decimal_point;
}
std::string withDecimalMark(std::string text, std::string_view from, std::string_view to) {
    if (const std::size_t at = text.find(from); at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}
#endif

// Plain ASCII decimals to the nearest Double, or false where they are out of its range: too
// large (the caller tells which), or too small, which reads as 0; a subnormal reads as itself.
bool readDouble(const std::string& text, double& value) {
#ifdef MIGLIAR_FLOAT_CHARCONV
    value = 0;
    return std::from_chars(text.data(), text.data() + text.size(), value).ec !=
           std::errc::result_out_of_range;
#else
    // A C++ library without floating-point from_chars (a browser's), or a build that leaves it
    // out (Windows'): strtod rounds the same way.
    value = std::strtod(withDecimalMark(text, ".", decimalMark()).c_str(), nullptr);
    return !std::isinf(value);
#endif
}

// Fifteen significant digits, rounded to nearest, as "d.dddddddddddddde+XX".
std::string scientific15(double value) {
    std::array<char, 32> buffer{};
#ifdef MIGLIAR_FLOAT_CHARCONV
    const auto printed = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                       std::chars_format::scientific, 14);
    return std::string(buffer.data(), printed.ptr);
#else
    std::snprintf(buffer.data(), buffer.size(), "%.14e", value);
    return withDecimalMark(buffer.data(), decimalMark(), ".");
#endif
}

// Sign, digits, point, digits, then an exponent after "E" or "D".
double decimalNumber(Reader& in) {
    bool negative = false;
    if (in.peek() == u'+' || in.peek() == u'-') {
        negative = in.peek() == u'-';
        in.next();
    }
    // The number goes into plain ASCII to be read. The decimal place of the first significant
    // digit tells overflow from underflow.
    std::string number;
    long long magnitude = 0;
    bool significant = false, point = false, decimals = false;
    for (;; in.next()) {
        const char16_t c = in.peek();
        if (c == u'.' && !point) {
            point = true;
            number += '.';
            continue;
        }
        if (c < u'0' || c > u'9')
            break;
        significant = significant || c != u'0';
        if (point) {
            magnitude -= significant ? 0 : 1;
            decimals = true;
        } else {
            magnitude += significant ? 1 : 0;
        }
        number += char(c);
    }
    if (number.empty() || number == ".")
        return 0;
    long long exponent = 0;
    if (const char16_t e = in.peek(); e == u'e' || e == u'E' || e == u'd' || e == u'D') {
        in.next();
        bool negativeExponent = false;
        if (in.peek() == u'+' || in.peek() == u'-') {
            negativeExponent = in.peek() == u'-';
            in.next();
        }
        for (; in.atDigit(); in.next())
            exponent = std::min<long long>(exponent * 10 + (in.peek() - u'0'), 1'000'000);
        exponent = negativeExponent ? -exponent : exponent;
        number += 'e';
        number += std::to_string(exponent);
    }

    double value = 0;
    if (!readDouble(number, value)) {
        // Too large is an error; too small is simply zero.
        if (magnitude + exponent > 0)
            Raise(Overflow);
        value = 0;
    }
    return withTypeCharacter(negative ? -value : value, in.peek(), decimals);
}

} // namespace

double Val(const QString& text) {
    Reader in(text);
    if (in.peek() != u'&')
        return decimalNumber(in);
    in.next();
    const char16_t prefix = in.peek();
    in.next();
    if (prefix == u'H' || prefix == u'h')
        return radixNumber(in, 16);
    if (prefix == u'O' || prefix == u'o')
        return radixNumber(in, 8);
    return 0;
}

QString CStr(double value) {
    CheckFloat(value);
    if (value == 0)
        return QStringLiteral("0"); // also for -0
    if (value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(static_cast<long long>(value));

    // Fifteen significant digits, then without trailing zeros.
    const std::string printed = scientific15(std::fabs(value));
    const std::string_view text(printed);
    const std::size_t e = text.find('e');
    std::string digits = std::string(1, text[0]) + std::string(text.substr(2, e - 2));
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    int exponent = 0;
    std::from_chars(text.data() + e + 2, text.data() + text.size(), exponent);
    exponent = text[e + 1] == '-' ? -exponent : exponent;
    const int count = int(digits.size());

    // Plain digits below 1E+15, and below 1E-04 too while the digits end within 15 decimal
    // places (0.000056789); otherwise E notation with a signed exponent of two digits or more.
    std::string out = value < 0 ? "-" : "";
    if (exponent >= 15 || (exponent < -4 && count - exponent - 1 > 15)) {
        out += digits.substr(0, 1);
        if (count > 1)
            out += '.' + digits.substr(1);
        out += exponent < 0 ? "E-" : "E+";
        if (std::abs(exponent) < 10)
            out += '0';
        out += std::to_string(std::abs(exponent));
    } else if (exponent < 0) {
        out += "0." + std::string(std::size_t(-exponent - 1), '0') + digits;
    } else if (count <= exponent + 1) {
        out += digits + std::string(std::size_t(exponent + 1 - count), '0');
    } else {
        out += digits.substr(0, std::size_t(exponent + 1)) + '.' +
               digits.substr(std::size_t(exponent + 1));
    }
    return QString::fromLatin1(out.data(), qsizetype(out.size()));
}

// ---- Code page 1251 --------------------------------------------------------------------------

namespace {

// The upper half of code page 1251 (0x80 to 0xFF). 0x98 has no character in the code page; it
// maps to the control character U+0098 so that every code has a character and back.
constexpr std::array<char16_t, 128> kUpperHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
};

} // namespace

Integer Asc(const QString& text) {
    if (text.isEmpty())
        Raise(InvalidCall);
    const char16_t c = text[0].unicode();
    if (c < 0x80)
        return c;
    if (c >= 0x0410 && c <= 0x044F) // А to я, in code order from 0xC0
        return 0xC0 + (c - 0x0410);
    for (std::size_t i = 0; i < kUpperHalf.size(); ++i)
        if (kUpperHalf[i] == c)
            return static_cast<std::int32_t>(0x80 + i);
    return '?'; // no such character in the code page
}

QString Chr(Integer code) {
    const int c = code.value();
    if (c < 0 || c > 0xFF)
        Raise(InvalidCall);
    if (c < 0x80)
        return QString(QChar(c));
    if (c >= 0xC0)
        return QString(QChar(0x0410 + (c - 0xC0)));
    return QString(QChar(kUpperHalf[c - 0x80]));
}

// ---- Random numbers --------------------------------------------------------------------------

namespace {

std::mt19937& generator() {
    static std::mt19937 engine(5489u);
    return engine;
}
std::function<float()>& substitute() {
    static std::function<float()> source;
    return source;
}
float& lastDraw() {
    static float value = 0;
    return value;
}

} // namespace

void Randomize() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count() ^
                     std::chrono::system_clock::now().time_since_epoch().count();
    generator().seed(static_cast<std::uint32_t>(now ^ (now >> 32)));
}

float Rnd(Integer argument) {
    // Any positive argument asks for the next number; zero or less repeats the last one.
    if (argument.value() <= 0)
        return lastDraw();
    if (substitute()) {
        lastDraw() = substitute()();
    } else {
        // 24 random bits over 2^24: exact in single precision and never 1.
        lastDraw() = static_cast<float>(generator()() >> 8) / 16777216.0f;
    }
    return lastDraw();
}

void SetRandomSource(std::function<float()> source) {
    substitute() = std::move(source);
}

} // namespace forms
