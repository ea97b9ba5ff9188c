#include "TickCount.h"

#include <fstream>
#include <gtest/gtest.h>

namespace {

DWORD FixedTicks()
{
    return 123456789;
}

} // namespace

TEST(TickCount, MillisecondsSinceBoot)
{
    // /proc/uptime counts seconds since boot on the same clock, with two decimals.
    double uptime = 0;
    std::ifstream("/proc/uptime") >> uptime;
    ASSERT_GT(uptime, 0.0);
    DWORD expected = static_cast<DWORD>(static_cast<std::uint64_t>(uptime * 1000.0));
    DWORD ticks = GetTickCount();
    EXPECT_LT(static_cast<DWORD>(ticks - expected), 1000u) << ticks << " against " << expected;
    EXPECT_LT(static_cast<DWORD>(GetTickCount() - ticks), 1000u) << "never runs backwards";
}

TEST(TickCount, SourceCanBeReplacedAndRestored)
{
    SetTickCountSource(FixedTicks);
    EXPECT_EQ(GetTickCount(), 123456789u);
    SetTickCountSource(nullptr);
    EXPECT_NE(GetTickCount(), 123456789u);
}
