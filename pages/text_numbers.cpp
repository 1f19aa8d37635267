#include "pages/text_numbers.h"

#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

// Skips white space and a sign; `*negative` tells which sign.
const char* SkipToDigits(const char* text, bool* negative) {
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    *negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The magnitude of the leading digits, held at `limit`; false when there
// are none.
bool LeadingMagnitude(const char* digits, uint64_t limit, uint64_t* magnitude) {
    if (!IsDigit(*digits)) return false;
    uint64_t value = 0;
    for (; IsDigit(*digits); ++digits) {
        value = value * 10 + static_cast<uint64_t>(*digits - '0');
        if (value > limit) value = limit;  // further digits only grow it
    }
    *magnitude = value;
    return true;
}

}  // namespace

int32_t IntegerValue(const char* text) {
    if (text == nullptr) return 0;
    bool negative = false;
    const char* digits = SkipToDigits(text, &negative);
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
    if (!LeadingMagnitude(digits, limit, &magnitude)) return 0;
    return negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude)) : static_cast<int32_t>(magnitude);
}

RangedValue IntegerInRange(const char* text, int32_t low, int32_t high, int32_t* value) {
    if (text == nullptr) return RangedValue::kNoNumber;
    bool negative = false;
    const char* digits = SkipToDigits(text, &negative);
    // Held just past the 32-bit range, so that a long number stays outside.
    uint64_t magnitude = 0;
    if (!LeadingMagnitude(digits, uint64_t{1} << 32, &magnitude)) return RangedValue::kNoNumber;
    const int64_t read = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    if (read < low || read > high) return RangedValue::kOutOfRange;
    *value = static_cast<int32_t>(read);
    return RangedValue::kValue;
}

double DecimalValue(const char* text) {
    if (text == nullptr) return 0.0;
    bool negative = false;
    const char* start = SkipToDigits(text, &negative);
    // The extent of a decimal number: digits, a point, digits, and an
    // exponent only when digits follow it.
    const char* end = start;
    while (IsDigit(*end)) ++end;
    bool digits = end != start;
    if (*end == '.') {
        const char* fraction = end + 1;
        while (IsDigit(*fraction)) ++fraction;
        digits = digits || fraction != end + 1;
        end = fraction;
    }
    if (!digits) return 0.0;
    if (*end == 'e' || *end == 'E') {
        const char* exponent = end + 1;
        if (*exponent == '+' || *exponent == '-') ++exponent;
        if (IsDigit(*exponent)) {
            while (IsDigit(*exponent)) ++exponent;
            end = exponent;
        }
    }
    // Only the extent found above is converted (strtod alone would also
    // take hexadecimal and "inf").
    double value = std::strtod(std::string(start, end).c_str(), nullptr);
    if (std::isinf(value)) value = DBL_MAX;
    return negative ? -value : value;
}

std::string IntegerText(int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return text;
}

std::string UnsignedText(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%u", value);
    return text;
}

// The largest double has 309 digits before the point.
std::string ResolutionText(double value) {
    char text[400];
    std::snprintf(text, sizeof text, "%3.3f", value);
    return text;
}

std::string CoefficientText(double value) {
    char text[400];
    std::snprintf(text, sizeof text, "%2.8f", value);
    return text;
}
