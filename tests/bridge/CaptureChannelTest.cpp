#include "CaptureHarness.h"
#include "TestEnvironment.h"

#include <cmath>
#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <tuple>

namespace {

constexpr double kCdBytesPerSecond = 176400.0;

struct Totals {
    unsigned long stored = 0, refused = 0, refusedBytes = 0;
};

Totals Sum(const std::map<pid_t, WriterReport>& reports)
{
    Totals totals;
    for (const auto& [pid, report] : reports) {
        EXPECT_EQ(report.exitStatus, 0) << "writer " << pid;
        totals.stored += report.stored;
        totals.refused += report.refused;
        totals.refusedBytes += report.refusedBytes;
    }
    return totals;
}

// Every writer's buffers arrive once and in its order; all blocks of one stream carry one
// stream number, and no two streams share one.
void ExpectOrderedOnce(const std::vector<ReceivedBuffer>& received)
{
    std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> lastSeen;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> streamNumbers;
    std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> owners;
    for (const ReceivedBuffer& buffer : received) {
        auto it = lastSeen.find(buffer.writer);
        if (it != lastSeen.end()) {
            ASSERT_LT(it->second, std::make_pair(buffer.stream, buffer.sequence))
                << "writer " << buffer.writer << " out of order or repeated";
        }
        lastSeen[buffer.writer] = {buffer.stream, buffer.sequence};
        auto stream = std::make_pair(buffer.writer, buffer.stream);
        auto known = streamNumbers.emplace(stream, buffer.streamId).first;
        EXPECT_EQ(known->second, buffer.streamId) << "one stream, two numbers";
        auto owner = owners.emplace(buffer.streamId, stream).first;
        EXPECT_EQ(owner->second, stream) << "two streams, one number";
    }
}

std::vector<std::string> Play(int writer, int streams, int buffers, int minimum, int maximum)
{
    return {"play", std::to_string(writer), std::to_string(streams), std::to_string(buffers),
            std::to_string(minimum), std::to_string(maximum)};
}

// A writer's 300 buffers all arrive exact and in order.
void ExpectWorkingChannel(CaptureHarness& program, int writer)
{
    program.received.clear();
    Totals totals = Sum(program.ServeUntilDone({program.Spawn(Play(writer, 1, 300, 16, 1024))}));
    EXPECT_EQ(totals.stored, 300u);
    EXPECT_EQ(program.malformed, 0u);
    EXPECT_EQ(program.received.size(), 300u);
    ExpectOrderedOnce(program.received);
}

} // namespace

TEST(CaptureChannel, EveryStoredBufferArrivesOnceExactAndInOrder)
{
    TestEnvironment environment;
    CaptureHarness program;
    ASSERT_TRUE(program.Ready());
    ASSERT_TRUE(program.StartRecording());
    std::vector<pid_t> writers;
    for (int writer = 1; writer <= 3; ++writer)
        writers.push_back(program.Spawn(Play(writer, 2, 2000, 16, 4096)));
    auto reports = program.ServeUntilDone(writers);
    ASSERT_FALSE(program.timedOut);
    Totals totals = Sum(reports);
    for (const auto& [pid, report] : reports)
        EXPECT_EQ(report.starts, 2u);
    EXPECT_EQ(totals.stored + totals.refused, 3u * 2 * 2000);
    EXPECT_EQ(program.malformed, 0u);
    EXPECT_EQ(program.received.size(), totals.stored);
    ExpectOrderedOnce(program.received);
    EXPECT_NEAR(CaptureReader(program.area, program.lock).LostSeconds(),
                totals.refusedBytes / kCdBytesPerSecond, 1e-3);
    EXPECT_GT(program.peakAreaUse, 56);
}

TEST(CaptureChannel, BuffersRefusedByAFullAreaAreCountedAsLostTime)
{
    TestEnvironment environment;
    CaptureHarness program;
    ASSERT_TRUE(program.Ready());
    ASSERT_TRUE(program.StartRecording());
    program.draining = false; // a reader that does not keep up: the area fills
    std::vector<pid_t> writers = {program.Spawn(Play(1, 1, 1500, 4096, 4096)),
                                  program.Spawn(Play(2, 1, 1500, 4096, 4096))};
    auto reports = program.ServeUntilDone(writers);
    Totals totals = Sum(reports);
    EXPECT_GT(totals.refused, 0u);
    EXPECT_EQ(totals.stored + totals.refused, 3000u);
    EXPECT_EQ(program.received.size(), totals.stored);
    ExpectOrderedOnce(program.received);
    const float lost = CaptureReader(program.area, program.lock).LostSeconds();
    EXPECT_NEAR(lost, totals.refusedBytes / kCdBytesPerSecond, 1e-4 * lost);
}

TEST(CaptureChannel, ReaderThatWentAwayMakesWritersRefuseAndEmptiesTheList)
{
    TestEnvironment environment;
    CaptureHarness program; // holds the area open so it can be inspected afterwards
    ASSERT_TRUE(program.Ready());
    pid_t reader = ::fork();
    if (reader == 0) {
        CaptureHarness other;
        ::_exit(other.Ready() && other.StartRecording() ? 0 : 1); // dies without stopping
    }
    int status = 0;
    ::waitpid(reader, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(CaptureArea::Header(program.area)->recordingEnabled, 1);

    auto reports = program.ServeUntilDone({program.Spawn(Play(1, 1, 5, 100, 100))});
    Totals totals = Sum(reports);
    EXPECT_EQ(totals.stored, 0u);
    EXPECT_EQ(totals.refused, 5u);
    EXPECT_EQ(CaptureArea::Header(program.area)->blockCount, 0u);
    EXPECT_EQ(CaptureArea::First(program.area), kListHead);
    EXPECT_EQ(CaptureArea::Header(program.area)->recordingEnabled, 1);
    EXPECT_TRUE(program.received.empty());
}

TEST(CaptureChannel, WriterKilledHoldingTheLockStopsNobody)
{
    TestEnvironment environment;
    CaptureHarness program;
    ASSERT_TRUE(program.Ready());
    ASSERT_TRUE(program.StartRecording());
    pid_t holder = program.Spawn({"hold"});
    ASSERT_EQ(program.FirstLine(holder), "holding");
    pid_t writer = program.Spawn(Play(1, 1, 500, 64, 512));
    ::usleep(300000);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    auto start = std::chrono::steady_clock::now();
    auto reports = program.ServeUntilDone({writer}, 30);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    Totals totals = Sum(reports);
    EXPECT_EQ(totals.stored, 500u);
    EXPECT_EQ(program.received.size(), 500u);
    ExpectOrderedOnce(program.received);
}

TEST(CaptureChannel, DamagedAreaNeitherCrashesNorHangs)
{
    TestEnvironment environment;
    CaptureHarness program;
    ASSERT_TRUE(program.Ready());
    ASSERT_TRUE(program.StartRecording());
    std::mt19937 random(12345);
    std::vector<pid_t> writers = {program.Spawn(Play(1, 1, 3000, 16, 1024)),
                                  program.Spawn(Play(2, 1, 3000, 16, 1024))};
    // Scribble over the header's links and the first blocks while everybody works.
    auto reports = program.ServeUntilDone(writers, 60, [&] {
        for (int i = 0; i < 4; ++i) {
            DWORD offset = 4 + 4 * (random() % 1000);
            if (offset >= 24 && offset < 52)
                continue; // the reserved bytes are nobody's
            CaptureArea::Store32(program.area, offset, static_cast<DWORD>(random()));
        }
    });
    EXPECT_FALSE(program.timedOut);
    for (const auto& [pid, report] : reports)
        EXPECT_EQ(report.exitStatus, 0);

    // Once the damage stops, the channel works as before.
    CaptureArea::Header(program.area)->recordingEnabled = 0;
    ASSERT_TRUE(program.StartRecording());
    program.received.clear();
    auto clean = program.ServeUntilDone({program.Spawn(Play(3, 1, 300, 16, 1024))});
    Totals totals = Sum(clean);
    EXPECT_EQ(program.received.size(), totals.stored);
    EXPECT_GT(totals.stored, 0u);
}

TEST(CaptureChannel, ScribblerProcessCrashesNeitherWritersNorTheReader)
{
    TestEnvironment environment;
    CaptureHarness program;
    ASSERT_TRUE(program.Ready());
    ASSERT_TRUE(program.StartRecording());
    unsigned long taken = 0;
    program.onBlock = [&](const CapturedBlock&) { ++taken; }; // contents may be scribbled over
    // Another process of the user flips header fields and block links while two writers play
    // and this process reads.
    std::vector<pid_t> processes = {program.Spawn(Play(1, 1, 20000, 16, 1024)),
                                    program.Spawn(Play(2, 1, 20000, 16, 1024)),
                                    program.Spawn({"scribble", "10000000", "7"}),
                                    program.Spawn({"scribble", "10000000", "8"})};
    auto reports = program.ServeUntilDone(processes, 60);
    EXPECT_FALSE(program.timedOut);
    for (const auto& [pid, report] : reports)
        EXPECT_EQ(report.exitStatus, 0) << "process " << pid << " crashed or failed";
    EXPECT_GT(taken, 0u);

    // Once the damage stops, the channel works as before without any repair by hand.
    program.onBlock = nullptr;
    program.malformed = 0;
    ExpectWorkingChannel(program, 3);
}

TEST(CaptureChannel, WritersDyingInsideMapBufferNeverDeliverAPartialBlock)
{
    TestEnvironment environment;
    CaptureHarness program;
    ASSERT_TRUE(program.Ready());
    ASSERT_TRUE(program.StartRecording());
    std::mt19937 random(2024);
    // Writers that die of SIGSEGV halfway through copying their buffer, holding the lock.
    constexpr int kCrashers = 40;
    constexpr std::uint32_t kFirstCrasher = 100;
    int crashed = 0;
    for (int i = 0; i < kCrashers; ++i) {
        const unsigned size = 4096 + random() % 60000;
        const unsigned readable = 12 + random() % (size - 12);
        pid_t crasher = program.Spawn({"crash", std::to_string(kFirstCrasher + i), std::to_string(size),
                                       std::to_string(readable)});
        auto reports = program.ServeUntilDone({crasher}, 20);
        crashed += reports[crasher].exitStatus == 128 + SIGSEGV;
    }
    EXPECT_EQ(crashed, kCrashers);
    // Writers that play as fast as they can, killed at random moments.
    constexpr int kKills = 60;
    for (int i = 0; i < kKills; ++i) {
        pid_t writer = program.Spawn({"flood", std::to_string(200 + i), std::to_string(8192 + random() % 50000)});
        ASSERT_EQ(program.FirstLine(writer), "flooding");
        program.ServeFor(std::chrono::milliseconds(2 + random() % 25));
        ::kill(writer, SIGKILL);
        program.ServeUntilDone({writer}, 20);
    }
    EXPECT_FALSE(program.timedOut);
    EXPECT_EQ(program.malformed, 0u) << "a partial block reached the reader";
    EXPECT_GT(program.received.size(), 0u);
    for (const ReceivedBuffer& buffer : program.received)
        EXPECT_FALSE(buffer.writer >= kFirstCrasher && buffer.writer < kFirstCrasher + kCrashers)
            << "a block of a writer that died while copying it was delivered";

    ExpectWorkingChannel(program, 1);
}

TEST(CaptureChannel, TruncatingTheAreaIsRefusedAndKillsNobody)
{
    TestEnvironment environment;
    CaptureHarness program;
    ASSERT_TRUE(program.Ready());
    ASSERT_TRUE(program.StartRecording());
    std::vector<pid_t> writers = {program.Spawn(Play(1, 1, 3000, 16, 1024)),
                                  program.Spawn(Play(2, 1, 3000, 16, 1024))};
    program.ServeFor(std::chrono::milliseconds(20));
    pid_t truncator = program.Spawn({"truncate"});
    EXPECT_EQ(program.FirstLine(truncator), "truncated 0 refused 1");
    writers.push_back(truncator);
    auto reports = program.ServeUntilDone(writers);
    Totals totals = Sum(reports); // every writer ends normally: nobody got SIGBUS
    EXPECT_EQ(program.malformed, 0u);
    EXPECT_EQ(program.received.size(), totals.stored);
    EXPECT_GT(totals.stored, 0u);
    ExpectOrderedOnce(program.received);
}
