#include "CaptureBridge.h"
#include "CaptureHarness.h"
#include "TestEnvironment.h"

#include <dlfcn.h>
#include <functional>
#include <gtest/gtest.h>

namespace {

struct Bridge {
    Bridge()
    {
        library = ::dlopen(BRIDGE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        if (library != nullptr) {
            start = reinterpret_cast<StartMappingFunction>(::dlsym(library, "StartMapping"));
            stop = reinterpret_cast<StopMappingFunction>(::dlsym(library, "StopMapping"));
            map = reinterpret_cast<MapBufferFunction>(::dlsym(library, "MapBuffer"));
        }
    }
    bool Loaded() const { return start != nullptr && stop != nullptr && map != nullptr; }
    std::uint32_t Map(std::uint32_t length, BYTE fill = 0x33)
    {
        std::vector<BYTE> samples(length, fill);
        CaptureBufferHeader header{samples.data(), length, 0, 0, 0, 0};
        return map(kFormat, &header);
    }

    static constexpr BYTE kFormat[20] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 0, 0, 0, 0};
    void* library = nullptr;
    StartMappingFunction start = nullptr;
    StopMappingFunction stop = nullptr;
    MapBufferFunction map = nullptr;
};

// Runs a case in a child process of its own, so that it meets the library freshly loaded.
void InFreshProcess(const std::function<void()>& body)
{
    pid_t child = ::fork();
    if (child == 0) {
        body();
        std::fflush(stdout);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the case failed in its process";
}

} // namespace

TEST(BridgeLibrary, ExportsExactlyTheThreeOperations)
{
    std::string command = std::string("nm -D --defined-only ") + BRIDGE_LIBRARY_PATH +
                          " | awk '{print $3}' | sort | tr '\\n' ' '";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[4096] = {};
    std::size_t length = std::fread(buffer, 1, sizeof buffer - 1, pipe);
    ::pclose(pipe);
    EXPECT_EQ(std::string(buffer, length), "MapBuffer StartMapping StopMapping ");
}

TEST(BridgeLibrary, NotStartedRefusesAndStopWithoutStartIsHarmless)
{
    TestEnvironment environment;
    InFreshProcess([] {
        Bridge bridge;
        ASSERT_TRUE(bridge.Loaded());
        EXPECT_EQ(bridge.Map(100), 2u);
        EXPECT_EQ(bridge.stop(), 1u);
        EXPECT_EQ(bridge.Map(100), 2u);
    });
}

TEST(BridgeLibrary, StartStopStartReusesMessageAndLockWithTheNextStreamNumber)
{
    TestEnvironment environment;
    InFreshProcess([] {
        CaptureHarness program;
        ASSERT_TRUE(program.Ready());
        Bridge bridge;
        ASSERT_EQ(bridge.start(), 1u);
        EXPECT_EQ(bridge.Map(64), 1u); // started but nobody records: nothing stored
        EXPECT_EQ(CaptureArea::Header(program.area)->blockCount, 0u);
        ASSERT_TRUE(program.StartRecording());
        program.draining = false;
        EXPECT_EQ(bridge.Map(64), 1u);
        EXPECT_EQ(bridge.stop(), 1u);
        EXPECT_EQ(bridge.Map(64), 2u);
        // Registering the message or creating the lock again would fail now.
        ::setenv("WAVEHARVESTER_FAIL_CALLS", "RegisterWindowMessageA:5,CreateSemaphoreA:5", 1);
        ASSERT_EQ(bridge.start(), 1u);
        ::unsetenv("WAVEHARVESTER_FAIL_CALLS");
        EXPECT_EQ(bridge.Map(32), 1u);
        // A second start while started stamps the next number too.
        ASSERT_EQ(bridge.start(), 1u);
        EXPECT_EQ(bridge.Map(16), 1u);
        std::vector<std::pair<DWORD, DWORD>> blocks;
        CaptureReader(program.area, program.lock).Drain(program.peakAreaUse, [&](const CapturedBlock& block) {
            blocks.emplace_back(block.streamId, block.length);
        });
        EXPECT_EQ(blocks, (std::vector<std::pair<DWORD, DWORD>>{{1, 64}, {2, 32}, {3, 16}}));
    });
}

TEST(BridgeLibrary, StreamNumbersFollowTheStartCounter)
{
    TestEnvironment environment;
    InFreshProcess([] {
        CaptureHarness program;
        ASSERT_TRUE(program.Ready());
        ASSERT_TRUE(program.StartRecording());
        program.draining = false;
        Bridge bridge;
        ASSERT_EQ(bridge.start(), 1u);
        EXPECT_EQ(bridge.Map(64, 1), 1u);
        bridge.stop();
        ::setenv("WAVEHARVESTER_FAIL_CALLS", "MapViewOfFile:8", 1);
        EXPECT_EQ(bridge.start(), 2u); // fails at MapViewOfFile; the counter still advances
        ::unsetenv("WAVEHARVESTER_FAIL_CALLS");
        EXPECT_EQ(bridge.Map(64, 2), 2u);
        ASSERT_EQ(bridge.start(), 1u);
        EXPECT_EQ(bridge.Map(0), 1u); // a zero-length buffer is a block of its own
        std::vector<std::pair<DWORD, DWORD>> blocks;
        CaptureReader(program.area, program.lock).Drain(program.peakAreaUse, [&](const CapturedBlock& block) {
            blocks.emplace_back(block.streamId, block.length);
        });
        EXPECT_EQ(blocks, (std::vector<std::pair<DWORD, DWORD>>{{1, 64}, {3, 0}}));
    });
}
