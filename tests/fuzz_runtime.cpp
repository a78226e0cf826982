// libFuzzer on what a pupil can type into a tally: Val reads it, CStr writes a number back, and a
// judged guess counts it on by one. Nothing may crash or trip a sanitizer, the only errors are
// Overflow and Type mismatch, and a number written by CStr reads back within its 15 digits to a
// number that CStr writes the same.
#include "runtime.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace forms;

namespace {

[[noreturn]] void fail(const char* what, const QString& text) {
    std::fprintf(stderr, "%s: \"%s\"\n", what, text.left(200).toUtf8().constData());
    std::abort();
}

// CStr's text: a plain number that Val reads back to the value rounded to 15 digits.
void checkWritten(double value, const QString& written) {
    if (written.isEmpty() || written.front().isSpace() || written.contains(u' '))
        fail("CStr wrote blanks", written);
    if (value == std::trunc(value) && std::fabs(value) < 1e15 &&
        (written.contains(u'.') || written.contains(u'E')))
        fail("CStr wrote a whole number with a point or an exponent", written);
    double back = 0;
    try {
        back = Val(written);
    } catch (const RuntimeError&) {
        // Only the largest numbers round past the largest Double ("1.79769313486232E+308").
        if (std::fabs(value) < 1.797693134862315e308)
            fail("CStr's text does not read back", written);
        return;
    }
    if (!(std::fabs(back - value) <= 5.2e-15 * std::fabs(value)))
        fail("CStr's text reads back as another number", written);
    if (CStr(back) != written)
        fail("CStr's text reads back to a number written otherwise", written);
}

void tryText(const QString& text) {
    double value = 0;
    try {
        value = Val(text);
    } catch (const RuntimeError& error) {
        if (error.number() != Overflow && error.number() != TypeMismatch)
            fail("Val raised an error other than Overflow or Type mismatch", text);
        return; // the game reports it, and the tally stays as typed
    }
    if (!std::isfinite(value))
        fail("Val gave a number that is not finite", text);
    checkWritten(value, CStr(value));

    // The tally's increment, exactly as a judged guess does it.
    const double counted = CheckFloat(Val(text) + 1);
    checkWritten(counted, CStr(counted));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The bytes as UTF-8 text, and as UTF-16 code units, lone surrogates and all.
    tryText(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    QString units;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        units += QChar(char16_t(data[i] | (data[i + 1] << 8)));
    tryText(units);
    return 0;
}
