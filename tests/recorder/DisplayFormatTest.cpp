#include "DisplayFormat.h"

#include <gtest/gtest.h>

namespace {

TEST(DisplayFormat, FormatThousands)
{
    struct Case {
        DWORD value;
        const char* text;
    };
    const Case cases[] = {
        {0, "0"},           {7, "7"},           {999, "999"},           {1000, "1 000"},
        {1001, "1 001"},    {10000, "10 000"},  {999999, "999 999"},    {1000000, "1 000 000"},
        {1234567, "1 234 567"}, {352844, "352 844"}, {4294967295u, "4 294 967 295"},
        {1000000000, "1 000 000 000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatThousands(c.value), c.text) << c.value;
}

TEST(DisplayFormat, FormatTime)
{
    struct Case {
        double seconds;
        const char* text;
    };
    const Case cases[] = {
        {0, "0.0"},
        {34.5, "34.5"},
        {125.3, "2:05.3"},
        {600, "10:00.0"},
        {3605.3, "1:00:05.3"},
        {3754.5, "1:02:34.5"},
        {360000, "100:00:00.0"},
        // Rounding to the nearest tenth, halves up.
        {0.04, "0.0"},
        {0.05, "0.1"},
        {0.949, "0.9"},
        {59.96, "1:00.0"},
        {3599.96, "1:00:00.0"},
        {2.0, "2.0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatTime(c.seconds), c.text) << c.seconds;
}

TEST(DisplayFormat, AlignUp)
{
    struct Case {
        DWORD value, step, result;
    };
    const Case cases[] = {
        {0, 4, 0}, {1, 4, 4}, {4, 4, 4}, {5, 4, 8}, {17640, 10, 17640}, {1764, 8, 1768},
        {7, 0, 7}, {7, 1, 7}, {2205, 8, 2208}, {2208, 1, 2208}, {100, 6, 102},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AlignUp(c.value, c.step), c.result) << c.value << " step " << c.step;
}

} // namespace
