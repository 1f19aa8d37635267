// Integers written in decimal, as "%d", "%i" and "%u" print them, without
// reading a format: the modes write several for every profile.
#ifndef TORVANE_MODES_DECIMAL_H
#define TORVANE_MODES_DECIMAL_H

#include <charconv>
#include <cstdint>

class Decimal {
public:
    explicit Decimal(int64_t value) {
        // 20 characters hold any 64-bit value; the terminator follows.
        *std::to_chars(text_, text_ + sizeof text_ - 1, value).ptr = '\0';
    }
    const char* c_str() const { return text_; }

private:
    char text_[24];
};

#endif
