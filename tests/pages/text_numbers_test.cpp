// Numbers as the pages read what the operator types, and the texts they
// show: the leading number only, held within the result type, and never a
// number the text does not show in decimal digits.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <string>

#include "pages/text_numbers.h"

namespace {

TEST(TextNumbers, IntegersAreTheLeadingDecimalDigitsHeldWithin32Bits) {
    struct Case {
        const char* text;
        int32_t value;
    };
    const Case cases[] = {
        {"42", 42},
        {"  42", 42},
        {"\t\n\r\v\f7", 7},
        {"+7", 7},
        {"-7", -7},
        {" -0", 0},
        {"12.9", 12},
        {"25abc", 25},
        {"1e9", 1},
        {"7 8", 7},
        // No number: 0. A sign must stand right before the digits.
        {"", 0},
        {"abc", 0},
        {"- 5", 0},
        {"+-5", 0},
        {"--5", 0},
        {".5", 0},
        // Only decimal digits count: no hexadecimal, no words for numbers,
        // no blank that the C locale does not call one.
        {"0x1F", 0},
        {"1F", 1},
        {"inf", 0},
        {"-inf", 0},
        {"nan", 0},
        {"\xC2\xA0"
         "5",
         0},
        // Held at the nearest end of the range, however many digits.
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"4294967296", INT32_MAX},
        {"99999999999999999999999999999999", INT32_MAX},
        {"-99999999999999999999999999999999", INT32_MIN},
        {"0000000000000000000000000000000012", 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(IntegerValue(c.text), c.value);
    }
    EXPECT_EQ(IntegerValue(nullptr), 0);
    EXPECT_EQ(IntegerValue(("1" + std::string(100000, '0')).c_str()), INT32_MAX);
}

TEST(TextNumbers, DecimalsAreTheLeadingDecimalNumberAndAlwaysFinite) {
    struct Case {
        const char* text;
        double value;
    };
    const Case cases[] = {
        {"0.0127", 0.0127},
        {".5", 0.5},
        {"5.", 5.0},
        {"-.5", -0.5},
        {" +2.5", 2.5},
        {"3.25mil", 3.25},
        {"1e3", 1000.0},
        {"1e+3", 1000.0},
        {"1E-2", 0.01},
        {"-12.5e1", -125.0},
        // An exponent without digits is no exponent.
        {"1.5e", 1.5},
        {"1e+", 1.0},
        {"2e-x", 2.0},
        // No number: 0.
        {"", 0.0},
        {".", 0.0},
        {"-", 0.0},
        {"e5", 0.0},
        {"- 1", 0.0},
        {"+-1", 0.0},
        // What the C library would also read is not taken: hexadecimal,
        // infinities and not-a-number.
        {"0x10", 0.0},
        {"0x1p3", 0.0},
        {"inf", 0.0},
        {"INF", 0.0},
        {"-inf", 0.0},
        {"infinity", 0.0},
        {"nan", 0.0},
        {"NaN", 0.0},
        {"nan(1)", 0.0},
        // Beyond a double: the largest finite one of that sign; below its
        // smallest: 0.
        {"1e999", DBL_MAX},
        {"-1e999", -DBL_MAX},
        {"1e-999", 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const double value = DecimalValue(c.text);
        EXPECT_TRUE(std::isfinite(value));
        EXPECT_DOUBLE_EQ(value, c.value);
    }
    EXPECT_EQ(DecimalValue(nullptr), 0.0);
    EXPECT_EQ(DecimalValue(("9" + std::string(400, '9')).c_str()), DBL_MAX);
    EXPECT_EQ(DecimalValue(("-9" + std::string(400, '9') + ".5").c_str()), -DBL_MAX);
}

TEST(TextNumbers, ARangedIntegerIsTakenOnlyWhenItLiesInItsRange) {
    struct Case {
        const char* text;
        int32_t low, high;
        RangedValue result;
        int32_t value;  // what `*value` holds after (untouched: 99)
    };
    const Case cases[] = {
        {"5", 0, 10, RangedValue::kValue, 5},
        {" +3x", 0, 10, RangedValue::kValue, 3},
        {"-0", 0, 10, RangedValue::kValue, 0},
        {"10", 0, 10, RangedValue::kValue, 10},
        {"11", 0, 10, RangedValue::kOutOfRange, 99},
        {"-1", 0, 10, RangedValue::kOutOfRange, 99},
        {"x", 0, 10, RangedValue::kNoNumber, 99},
        {"", 0, 10, RangedValue::kNoNumber, 99},
        {"0x5", 0, 10, RangedValue::kValue, 0},
        {"inf", 0, 10, RangedValue::kNoNumber, 99},
        // Numbers past 32 bits stay outside every range, also those that
        // would wrap into it.
        {"2147483647", 0, INT32_MAX, RangedValue::kValue, INT32_MAX},
        {"2147483648", 0, INT32_MAX, RangedValue::kOutOfRange, 99},
        {"4294967296", 0, INT32_MAX, RangedValue::kOutOfRange, 99},
        {"4294967301", 0, INT32_MAX, RangedValue::kOutOfRange, 99},
        {"99999999999", 0, INT32_MAX, RangedValue::kOutOfRange, 99},
        {"-2147483648", INT32_MIN, INT32_MAX, RangedValue::kValue, INT32_MIN},
        {"-2147483649", INT32_MIN, INT32_MAX, RangedValue::kOutOfRange, 99},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int32_t value = 99;
        EXPECT_EQ(IntegerInRange(c.text, c.low, c.high, &value), c.result);
        EXPECT_EQ(value, c.value);
    }
    int32_t value = 99;
    EXPECT_EQ(IntegerInRange(nullptr, 0, 10, &value), RangedValue::kNoNumber);
    EXPECT_EQ(value, 99);
}

TEST(TextNumbers, ShownTextsKeepEveryDigit) {
    EXPECT_EQ(IntegerText(INT32_MIN), "-2147483648");
    EXPECT_EQ(UnsignedText(UINT32_MAX), "4294967295");
    EXPECT_EQ(ResolutionText(0.0127), "0.013");
    EXPECT_EQ(ResolutionText(12.0), "12.000");
    EXPECT_EQ(CoefficientText(1.0 / 3.0), "0.33333333");
    // The largest double that an edit can hold is shown whole, not cut.
    const std::string largest = ResolutionText(-DBL_MAX);
    EXPECT_EQ(largest.size(), 1 + 309 + 4u);
    EXPECT_EQ(DecimalValue(largest.c_str()), -DBL_MAX);
    EXPECT_EQ(CoefficientText(DBL_MAX).size(), 309 + 9u);
}

}  // namespace
