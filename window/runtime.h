// The language services the game's handlers rely on: 16-bit checked integers, the step-count
// variant, number and text conversions, the code page 1251 character table and the random
// generator. Everything here raises RuntimeError where the old runtime raised an error, so the
// handlers can be written as plain straight-line code.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>

namespace forms {

// A runtime error as the player sees it: a number and a message.
class RuntimeError : public std::runtime_error {
  public:
    RuntimeError(int number, const QString& message);
    int number() const { return number_; }
    QString message() const { return message_; }

  private:
    int number_;
    QString message_;
};

// The error numbers our handlers can meet, with their Bulgarian messages.
enum ErrorNumber : int {
    InvalidCall = 5,
    Overflow = 6,
    SubscriptOutOfRange = 9,
    TypeMismatch = 13,
    NoSuchArrayElement = 340,
    AlreadyLoaded = 360,
};
[[noreturn]] void Raise(ErrorNumber number, const QString& detail = {});

// A 16-bit signed Integer. Arithmetic is checked and raises Overflow instead of wrapping.
class Integer {
  public:
    constexpr Integer() = default;
    // The range-checked conversion from a 32-bit value.
    Integer(std::int32_t value); // NOLINT(google-explicit-constructor): literals read naturally
    std::int16_t value() const { return value_; }

    friend Integer operator+(Integer a, Integer b);
    friend Integer operator-(Integer a, Integer b);
    friend Integer operator*(Integer a, Integer b);
    friend bool operator==(Integer a, Integer b) = default;
    friend auto operator<=>(Integer a, Integer b) = default;

  private:
    std::int16_t value_ = 0;
};

// The form-level step counter: empty until first assigned, then a 16-bit Integer.
class Variant {
  public:
    Variant() = default;
    Variant(Integer value) : value_(value) {} // NOLINT(google-explicit-constructor)
    bool IsEmpty() const { return !value_; }
    // Empty counts as 0 in arithmetic, as it does in the old runtime.
    Integer AsInteger() const { return value_.value_or(Integer{}); }
    // Concatenation text: nothing for empty, plain digits for an Integer.
    QString Text() const;

    friend Variant operator+(const Variant& a, Integer b) { return a.AsInteger() + b; }
    friend Variant operator*(const Variant& a, Integer b) { return a.AsInteger() * b; }

  private:
    std::optional<Integer> value_;
};
QString operator&(const QString& text, const Variant& value);

// Conversions.
std::int32_t FpI4(double value); // nearest integer, an exact half to the even neighbour
float R4(double value);          // to single precision, Overflow when out of range
double CheckFloat(double value); // Overflow on an infinite or undefined result

// Numbers and text, by the classic rules: Val skips blanks anywhere in the number, reads "&H"
// and "&O" numbers as signed 16- or 32-bit values and honours a type-declaration character after
// the number; CStr writes at most 15 significant digits.
double Val(const QString& text);
QString CStr(double value);

// Characters through code page 1251.
Integer Asc(const QString& text);
QString Chr(Integer code);

// The random generator.
void Randomize();
float Rnd(Integer argument);
// Tests replace the sequence with their own (an empty function restores the generator).
void SetRandomSource(std::function<float()> source);

} // namespace forms
