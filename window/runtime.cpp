#include "runtime.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <string>

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

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// "&H1F" and "&O17": the digits after the prefix, read as an unsigned whole number.
double radixValue(const QString& text, qsizetype at, int radix) {
    double value = 0;
    for (; at < text.size(); ++at) {
        const char16_t c = text[at].unicode();
        int digit = radix;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        if (digit >= radix)
            break;
        value = value * radix + digit;
    }
    return CheckFloat(value);
}

} // namespace

double Val(const QString& text) {
    qsizetype at = 0;
    while (at < text.size() && isBlank(text[at]))
        ++at;
    if (text.mid(at, 2).compare(u"&H", Qt::CaseInsensitive) == 0)
        return radixValue(text, at + 2, 16);
    if (text.mid(at, 2).compare(u"&O", Qt::CaseInsensitive) == 0)
        return radixValue(text, at + 2, 8);

    // Copy the longest number at the start into plain ASCII for from_chars.
    std::string number;
    bool negative = false;
    if (at < text.size() && (text[at] == u'+' || text[at] == u'-'))
        negative = text[at++] == u'-';
    auto digitAt = [&](qsizetype i) {
        return i < text.size() && text[i] >= u'0' && text[i] <= u'9';
    };
    // The decimal place of the first significant digit tells overflow from underflow.
    long long magnitude = 0;
    bool significant = false;
    for (; digitAt(at); ++at) {
        significant = significant || text[at] != u'0';
        magnitude += significant ? 1 : 0;
        number += char(text[at].unicode());
    }
    if (at < text.size() && text[at] == u'.') {
        number += '.';
        for (++at; digitAt(at); ++at) {
            significant = significant || text[at] != u'0';
            magnitude -= significant ? 0 : 1;
            number += char(text[at].unicode());
        }
    }
    if (number.empty() || number == ".")
        return 0;
    long long exponent = 0;
    if (at < text.size() && QStringLiteral("eEdD").contains(text[at])) {
        qsizetype e = at + 1;
        bool negativeExponent = false;
        if (e < text.size() && (text[e] == u'+' || text[e] == u'-'))
            negativeExponent = text[e++] == u'-';
        if (digitAt(e)) {
            for (; digitAt(e); ++e)
                exponent =
                    std::min<long long>(exponent * 10 + (text[e].unicode() - '0'), 1'000'000);
            number += 'e';
            number += std::to_string(negativeExponent ? -exponent : exponent);
            exponent = negativeExponent ? -exponent : exponent;
        }
    }

    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        // Too large is an error; too small is simply zero.
        if (magnitude + exponent > 0)
            Raise(Overflow);
        value = 0;
    }
    return negative ? -value : value;
}

QString CStr(double value) {
    CheckFloat(value);
    if (value == 0)
        return QStringLiteral("0"); // also for -0
    if (value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(static_cast<long long>(value));
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::general);
    return QString::fromLatin1(buffer.data(), result.ptr - buffer.data()).toUpper();
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
