#include "CaptureArea.h"
#include "CaptureReader.h"
#include "CaptureWriter.h"
#include "FileMapping.h"
#include "HandleTable.h"
#include "Semaphore.h"
#include "TestEnvironment.h"
#include "WindowMessages.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <atomic>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace {

// A private capture area (exactly 2,000,000 bytes, so that any access outside it is caught by
// the address sanitizer), the capture lock and a window of this process receiving notifications.
class CaptureFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_memory = std::make_unique<BYTE[]>(kCaptureAreaSize);
        std::memset(m_memory.get(), 0, kCaptureAreaSize);
        area = m_memory.get();
        lock = CreateSemaphoreA(nullptr, 1, 1, kCaptureSemaphoreName);
        ASSERT_NE(lock, nullptr);
        message = RegisterWindowMessageA(kCaptureMessageName);
        ASSERT_GE(message, 0xC000u);
        window = CreateMessageWindow("test view", [this](HWND, UINT received, WPARAM, LPARAM) {
            if (received == message)
                ++notifications;
            return LRESULT{0};
        });
        ASSERT_NE(window, 0u);
    }
    void TearDown() override
    {
        DestroyWindow(window);
        CloseHandle(lock);
    }

    CaptureAreaHeader& Header() { return *CaptureArea::Header(area); }
    DWORD Link(DWORD offset, DWORD field) { return CaptureArea::Load32(area, offset + field); }

    DWORD Append(DWORD length, const BYTE* format, DWORD streamId = 1, BYTE fill = 0x5A)
    {
        std::vector<BYTE> samples(length, fill);
        return CaptureWriter::Append(area, lock, message, format, streamId, samples.data(), length,
                                     [](const char*, DWORD) {});
    }

    TestEnvironment environment;
    std::unique_ptr<BYTE[]> m_memory;
    BYTE* area = nullptr;
    HANDLE lock = nullptr;
    UINT message = 0;
    HWND window = 0;
    int notifications = 0;
};

const BYTE kCdFormat[20] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 0, 0, 0xAB, 0xCD};

constexpr DWORD kNext = offsetof(CaptureBlock, next);
constexpr DWORD kPrevious = offsetof(CaptureBlock, previous);

} // namespace

TEST_F(CaptureFixture, AllocationPlacesAndLinksBlocks)
{
    EXPECT_EQ(CaptureArea::First(area), kListHead); // a fresh all-zero area reads as empty

    EXPECT_EQ(CaptureArea::Allocate(area, 100), 56u);
    EXPECT_EQ(Header().first, 56u);
    EXPECT_EQ(Header().last, 56u);
    EXPECT_EQ(Header().blockCount, 1u);
    EXPECT_EQ(Header().nextFree, 56u + 136u);
    EXPECT_EQ(Link(56, kNext), kListHead);
    EXPECT_EQ(Link(56, kPrevious), kListHead);

    EXPECT_EQ(CaptureArea::Allocate(area, 0), 192u); // a zero-length block is a 36-byte head
    EXPECT_EQ(Header().nextFree, 228u);
    EXPECT_EQ(Link(56, kNext), 192u);
    EXPECT_EQ(Link(192, kPrevious), 56u);
    EXPECT_EQ(Link(192, kNext), kListHead);
    EXPECT_EQ(Header().last, 192u);

    CaptureArea::Unlink(area, 56);
    EXPECT_EQ(CaptureArea::First(area), 192u);
    EXPECT_EQ(Header().blockCount, 1u);
    CaptureArea::Unlink(area, 192);
    EXPECT_EQ(CaptureArea::First(area), kListHead);
    EXPECT_EQ(Header().last, kListHead);
    EXPECT_EQ(Header().nextFree, 228u); // space comes back only with the next allocation
    EXPECT_EQ(CaptureArea::Allocate(area, 10), 56u);
}

TEST_F(CaptureFixture, BlocksFitUpToTheLastByte)
{
    struct Case {
        const char* name;
        DWORD length;
        DWORD expected;
    };
    const DWORD exact = kCaptureAreaSize - kCaptureHeaderSize - kBlockHeadSize;
    const Case cases[] = {
        {"ends exactly at 2,000,000", exact, 56},
        {"one byte more", exact + 1, 0},
        {"length near 2^32 does not wrap", 0xFFFFFFF0u, 0},
    };
    for (const Case& c : cases) {
        std::memset(area, 0, kCaptureHeaderSize);
        EXPECT_EQ(CaptureArea::Allocate(area, c.length), c.expected) << c.name;
        EXPECT_EQ(Header().blockCount, c.expected ? 1u : 0u) << c.name;
    }
}

TEST_F(CaptureFixture, AppendStoresNotifiesOrAccounts)
{
    bool capturing = false;
    CaptureReader reader(area, lock);
    ASSERT_TRUE(reader.StartRecording(window, capturing));

    // Stored: head, format, stream, length and samples exactly; one notification.
    EXPECT_EQ(Append(8, kCdFormat, 7, 0x11), 1u);
    DispatchPendingMessages();
    EXPECT_EQ(notifications, 1);
    EXPECT_EQ(std::memcmp(area + 56 + 8, kCdFormat, 20), 0);
    EXPECT_EQ(Link(56, offsetof(CaptureBlock, streamId)), 7u);
    EXPECT_EQ(Link(56, offsetof(CaptureBlock, length)), 8u);
    EXPECT_EQ(area[56 + 36], 0x11);
    EXPECT_EQ(area[56 + 36 + 7], 0x11);

    // Refused when the area is full: 17,640 bytes of 44,100 Hz, alignment 4, are 0.1 s.
    ASSERT_NE(CaptureArea::Allocate(area, kCaptureAreaSize - 56 - 44 - 36 - 36 - 17640 + 1), 0u);
    const DWORD nextFree = Header().nextFree;
    EXPECT_EQ(Append(17640, kCdFormat), 2u);
    EXPECT_EQ(Header().lostSeconds, static_cast<float>(0.0 + 0.1));
    EXPECT_EQ(Header().nextFree, nextFree);
    DispatchPendingMessages();
    EXPECT_EQ(notifications, 1); // no notification for a refused buffer

    // A format with alignment or rate 0 adds nothing (never an infinity or NaN).
    BYTE silent[20];
    std::memcpy(silent, kCdFormat, 20);
    silent[12] = silent[13] = 0;
    EXPECT_EQ(Append(17640, silent), 2u);
    std::memcpy(silent, kCdFormat, 20);
    std::memset(silent + 4, 0, 4);
    EXPECT_EQ(Append(17640, silent), 2u);
    EXPECT_EQ(Header().lostSeconds, static_cast<float>(0.0 + 0.1));
    EXPECT_TRUE(std::isfinite(Header().lostSeconds));
}

TEST_F(CaptureFixture, NobodyRecordingStoresNothing)
{
    EXPECT_EQ(Append(100, kCdFormat), 1u);
    EXPECT_EQ(Header().blockCount, 0u);
    EXPECT_EQ(Header().nextFree, 0u);
}

TEST_F(CaptureFixture, FailedNotificationEmptiesTheListButKeepsTheRecording)
{
    bool capturing = false;
    CaptureReader reader(area, lock);
    ASSERT_TRUE(reader.StartRecording(window, capturing));
    ASSERT_EQ(Append(100, kCdFormat), 1u);
    Header().lostSeconds = 1.5f;
    DestroyWindow(window); // the consumer goes away
    EXPECT_EQ(Append(100, kCdFormat), 2u);
    EXPECT_EQ(Header().blockCount, 0u);
    EXPECT_EQ(CaptureArea::First(area), kListHead);
    EXPECT_EQ(Header().nextFree, 56u);
    EXPECT_EQ(Header().recordingEnabled, 1);
    EXPECT_EQ(Header().ownerWindow, window);
    EXPECT_EQ(Header().lostSeconds, 1.5f);
}

TEST_F(CaptureFixture, SecondInstanceCannotStartRecording)
{
    bool first = false;
    CaptureReader reader(area, lock);
    ASSERT_TRUE(reader.StartRecording(window, first));
    Header().lostSeconds = 2.0f;
    const CaptureAreaHeader before = Header();
    bool second = false;
    EXPECT_FALSE(CaptureReader(area, lock).StartRecording(window + 4, second));
    EXPECT_FALSE(second);
    EXPECT_EQ(std::memcmp(&before, &Header(), sizeof before), 0);
}

TEST_F(CaptureFixture, DrainTakesEveryBlockOldestFirst)
{
    bool capturing = false;
    CaptureReader reader(area, lock);
    ASSERT_TRUE(reader.StartRecording(window, capturing));
    for (BYTE i = 1; i <= 5; ++i)
        ASSERT_EQ(Append(i * 10u, kCdFormat, i, i), 1u);
    std::int32_t peak = 56;
    std::vector<DWORD> lengths;
    std::vector<DWORD> streams;
    EXPECT_EQ(reader.Drain(peak, [&](const CapturedBlock& block) {
        lengths.push_back(block.length);
        streams.push_back(block.streamId);
        EXPECT_EQ(std::memcmp(block.format, kCdFormat, 20), 0);
        EXPECT_EQ(block.samples[block.length - 1], static_cast<BYTE>(block.streamId));
    }),
              5u);
    EXPECT_EQ(lengths, (std::vector<DWORD>{10, 20, 30, 40, 50}));
    EXPECT_EQ(streams, (std::vector<DWORD>{1, 2, 3, 4, 5}));
    EXPECT_EQ(peak, static_cast<std::int32_t>(56 + 5 * 36 + 150));
    EXPECT_EQ(Header().blockCount, 0u);

    // A notification that finds the list empty changes nothing.
    const CaptureAreaHeader before = Header();
    EXPECT_EQ(reader.Drain(peak, [](const CapturedBlock&) { FAIL(); }), 0u);
    EXPECT_EQ(std::memcmp(&before, &Header(), sizeof before), 0);

    // Stopping clears the flag and drops what is left.
    ASSERT_EQ(Append(10, kCdFormat), 1u);
    reader.StopRecording(peak);
    EXPECT_EQ(Header().recordingEnabled, 0);
    EXPECT_EQ(Header().blockCount, 0u);
}

TEST_F(CaptureFixture, ListEmptiedWhileABlockIsReadStaysConsistent)
{
    bool capturing = false;
    CaptureReader reader(area, lock);
    ASSERT_TRUE(reader.StartRecording(window, capturing));
    ASSERT_EQ(Append(10, kCdFormat), 1u);
    ASSERT_EQ(Append(10, kCdFormat), 1u);
    std::int32_t peak = 56;
    // A writer that found the reader gone resets the area while the reader holds a block.
    unsigned taken = reader.Drain(peak, [&](const CapturedBlock&) {
        WaitForSingleObject(lock, INFINITE);
        CaptureArea::Reset(area);
        ReleaseSemaphore(lock, 1, nullptr);
    });
    EXPECT_EQ(taken, 1u);
    EXPECT_EQ(Header().blockCount, 0u);
    EXPECT_EQ(CaptureArea::First(area), kListHead);
    EXPECT_EQ(CaptureArea::Allocate(area, 5), 56u);
}

TEST_F(CaptureFixture, DamagedListIsEmptiedAndNothingIsTakenFromIt)
{
    struct Case {
        const char* name;
        std::function<void(BYTE*)> damage;
    };
    const Case cases[] = {
        {"first beyond the area", [](BYTE* a) { CaptureArea::Header(a)->first = 3000000; }},
        {"first inside the header", [](BYTE* a) { CaptureArea::Header(a)->first = 20; }},
        {"first at nextFree", [](BYTE* a) { CaptureArea::Header(a)->first = CaptureArea::Header(a)->nextFree; }},
        {"length past nextFree", [](BYTE* a) { CaptureArea::Store32(a, 56 + 32, 1000000); }},
        {"length past the area", [](BYTE* a) { CaptureArea::Store32(a, 56 + 32, 0xFFFFFFF0u); }},
        {"nextFree beyond the area", [](BYTE* a) { CaptureArea::Header(a)->nextFree = 2000001; }},
        {"next links backwards (a loop)", [](BYTE* a) { CaptureArea::Store32(a, 56, 56); }},
        {"next beyond nextFree", [](BYTE* a) { CaptureArea::Store32(a, 56, 1999990); }},
        {"previous not the head", [](BYTE* a) { CaptureArea::Store32(a, 56 + 4, 92); }},
        {"oldest block ends the list but the head's last is another",
         [](BYTE* a) { CaptureArea::Store32(a, 56, 16); }},
        {"count zero with blocks linked", [](BYTE* a) { CaptureArea::Header(a)->blockCount = 0; }},
    };
    for (const Case& c : cases) {
        std::memset(area, 0, kCaptureAreaSize);
        bool capturing = false;
        CaptureReader reader(area, lock);
        ASSERT_TRUE(reader.StartRecording(window, capturing));
        ASSERT_EQ(Append(20, kCdFormat), 1u);
        ASSERT_EQ(Append(20, kCdFormat), 1u);
        c.damage(area);
        std::int32_t peak = 56;
        unsigned taken = reader.Drain(peak, [](const CapturedBlock&) {});
        EXPECT_EQ(taken, 0u) << c.name;
        EXPECT_EQ(CaptureArea::First(area), kListHead) << c.name;
        EXPECT_EQ(Header().blockCount, 0u) << c.name;
        EXPECT_EQ(Header().recordingEnabled, 1) << c.name;
        // The writer goes on from a clean list.
        EXPECT_EQ(Append(20, kCdFormat), 1u) << c.name;
        EXPECT_EQ(Header().first, 56u) << c.name;
    }
}

TEST_F(CaptureFixture, WriterResetsADamagedHeaderInsteadOfWritingOutside)
{
    struct Case {
        const char* name;
        CaptureAreaHeader header;
    };
    const Case cases[] = {
        {"nextFree beyond the area", {1, 0, 0, 1, 56, 56, {}, 5000000}},
        {"nextFree inside the header", {1, 0, 0, 1, 56, 56, {}, 10}},
        {"last beyond the area", {1, 0, 0, 1, 56, 4000000, {}, 200}},
        {"last inside the header", {1, 0, 0, 1, 56, 8, {}, 200}},
        {"first after last", {1, 0, 0, 2, 150, 56, {}, 200}},
    };
    for (const Case& c : cases) {
        std::memset(area, 0, kCaptureAreaSize);
        std::memcpy(area, &c.header, sizeof c.header);
        EXPECT_EQ(CaptureArea::Allocate(area, 100), 56u) << c.name;
        EXPECT_EQ(Header().blockCount, 1u) << c.name;
        EXPECT_EQ(Header().first, 56u) << c.name;
        EXPECT_EQ(Header().nextFree, 192u) << c.name;
    }
}

// Writers, the reader and a scribbler on one private area of exactly 2,000,000 bytes at the same
// time: whatever the scribbler does to the header and the links, no operation reads or writes
// outside the area (the address sanitizer reports any such access), nothing hangs, and the
// channel works once the scribbling stops.
TEST_F(CaptureFixture, ScribbledAreaIsNeverAccessedOutside)
{
    bool capturing = false;
    CaptureReader reader(area, lock);
    ASSERT_TRUE(reader.StartRecording(window, capturing));
    std::atomic<bool> scribbling{true};
    std::atomic<unsigned long> appended{0};
    auto writer = [&](BYTE fill) {
        std::vector<BYTE> samples(4096, fill);
        for (int i = 0; i < 30000; ++i) {
            CaptureWriter::Append(area, lock, message, kCdFormat, fill, samples.data(), 16 + i % 4000,
                                  [](const char*, DWORD) {});
            ++appended;
        }
    };
    std::thread scribbler([&] {
        std::mt19937 random(99);
        const DWORD damaged[] = {0, 8, 20, 55, kCaptureAreaSize - 10, kCaptureAreaSize, 0x7FFFFFF0u, 0xFFFFFFFFu};
        const DWORD headerFields[] = {12, 16, 20, 52};
        while (scribbling) {
            DWORD field = headerFields[random() % 4];
            if (random() % 2 == 0) {
                const DWORD block = CaptureArea::Load32(area, 16);
                if (block < 56 || block > kCaptureAreaSize - 36)
                    continue;
                field = block + (random() % 3 == 0 ? 32 : 4 * (random() % 2));
            }
            const DWORD sound = CaptureArea::Load32(area, field);
            CaptureArea::Store32(area, field, damaged[random() % 8]);
            if (random() % 16 != 0)
                CaptureArea::Store32(area, field, sound);
        }
    });
    std::thread first(writer, BYTE{1});
    std::thread second(writer, BYTE{2});
    std::int32_t peak = 56;
    unsigned long sum = 0;
    while (appended < 60000) {
        reader.Drain(peak, [&](const CapturedBlock& block) {
            for (DWORD i = 0; i < block.length; ++i)
                sum += block.samples[i];
            sum += block.format[19];
        });
        DispatchPendingMessages();
    }
    first.join();
    second.join();
    scribbling = false;
    scribbler.join();
    EXPECT_GT(sum, 0u);

    // Without the scribbler, every block arrives whole.
    reader.Drain(peak, nullptr);
    for (BYTE i = 1; i <= 3; ++i)
        ASSERT_EQ(Append(100u * i, kCdFormat, i, i), 1u);
    std::vector<DWORD> lengths;
    reader.Drain(peak, [&](const CapturedBlock& block) {
        lengths.push_back(block.length);
        EXPECT_EQ(block.samples[block.length - 1], static_cast<BYTE>(block.streamId));
    });
    EXPECT_EQ(lengths, (std::vector<DWORD>{100, 200, 300}));
}
