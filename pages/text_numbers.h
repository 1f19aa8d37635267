// Numbers typed into pages, read leniently as the pages read them: optional
// leading white space and a sign, then the longest leading part that reads
// as a number; a text that does not start with one reads as 0. No range is
// checked beyond what the result type holds.
#ifndef TORVANE_PAGES_TEXT_NUMBERS_H
#define TORVANE_PAGES_TEXT_NUMBERS_H

#include <cstdint>
#include <string>

// Decimal digits up to the first other character ("12.9" is 12, "25abc"
// 25, "abc" 0). Values beyond 32 bits are held at the nearest end.
int32_t IntegerValue(const char* text);
// Digits, a point and an exponent ("1.5e" is 1.5, "0.0127" 0.0127). Values
// beyond a double are held at the largest finite one of their sign.
double DecimalValue(const char* text);
// Reading a count that has a range: the leading decimal integer of the text,
// read as IntegerValue reads it, when it lies in [low, high].
enum class RangedValue {
    kValue,       // `*value` holds it
    kNoNumber,    // the text does not start with a number
    kOutOfRange,  // it lies outside the range ("-1", "99999999999")
};
// `*value` is untouched unless the result is kValue.
RangedValue IntegerInRange(const char* text, int32_t low, int32_t high, int32_t* value);

// The texts pages show: "%d", "%u", a resolution or distance ("%3.3f") and
// a calibration coefficient ("%2.8f").
std::string IntegerText(int32_t value);
std::string UnsignedText(uint32_t value);
std::string ResolutionText(double value);
std::string CoefficientText(double value);

#endif
