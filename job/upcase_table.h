#pragma once
// The upper-case table Windows file names are compared through (job/upcase_table.cpp, made by
// tools/make_upcase_table.py). Portable.
#include <cstddef>
#include <cstdint>

namespace df::setup {

// The code units first, first + stride, ... up to last upper-case to themselves + delta.
struct UpcaseRange {
    std::uint16_t first;
    std::uint16_t last;
    std::uint8_t stride;  // 1, or 2 for alternating upper and lower case pairs
    std::int32_t delta;
};

// Sorted by first, not overlapping; code units in none of them are their own upper case.
extern const UpcaseRange UPCASE_RANGES[];
extern const std::size_t UPCASE_RANGE_COUNT;

}  // namespace df::setup
