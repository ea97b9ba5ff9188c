// waveOut playback over ALSA against the paced test device (ALSA's "default" here), and the
// in-order posting that carries its MM_WOM_DONE messages.
#include "PacedDeviceWorld.h"
#include "TestEnvironment.h"
#include "WaveOutPlayback.h"
#include "WindowMessages.h"

#include <alsa/asoundlib.h>
#include <chrono>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

WAVEFORMATEX Cd()
{
    return WAVEFORMATEX{1, 2, 44100, 176400, 4, 16, 0};
}

class WaveOutPlaybackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        output = environment.Path("played.raw");
        world.Use("file \"" + output + "\" lock \"" + environment.Path("lock") + "\"");
        window = CreateMessageWindow("waveOut test", [this](HWND, UINT message, WPARAM wParam, LPARAM lParam) {
            messages.push_back({message, wParam, reinterpret_cast<WAVEHDR*>(lParam)});
            return LRESULT{0};
        });
        ASSERT_NE(window, 0u);
    }
    void TearDown() override
    {
        DestroyWindow(window);
    }

    bool Serve(std::size_t count, int timeoutMs)
    {
        return ServeMessagesUntil([&] { return messages.size() >= count; }, timeoutMs);
    }

    struct Message {
        UINT message;
        WPARAM wParam;
        WAVEHDR* header;
    };
    TestEnvironment environment;
    PacedDeviceWorld world{environment};
    std::string output;
    HWND window = 0;
    std::vector<Message> messages;
};

TEST_F(WaveOutPlaybackTest, HeadersComeBackInOrderOnceThePlayedAndTheCallsGiveTheirCodes)
{
    HWAVEOUT device = nullptr;
    WAVEFORMATEX format = Cd();
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, window, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    HWAVEOUT second = nullptr;
    EXPECT_EQ(waveOutOpen(&second, WAVE_MAPPER, &format, window, 0, CALLBACK_WINDOW), MMSYSERR_ALLOCATED)
        << "one device, one user";

    std::vector<std::vector<char>> buffers(4, std::vector<char>(8820));
    std::vector<WAVEHDR> headers(4);
    std::string sent;
    for (std::size_t i = 0; i < headers.size(); ++i) {
        for (std::size_t b = 0; b < buffers[i].size(); ++b)
            buffers[i][b] = static_cast<char>(i * 31 + b * 7);
        sent.append(buffers[i].data(), buffers[i].size());
        headers[i] = WAVEHDR{buffers[i].data(), static_cast<DWORD>(buffers[i].size()), 0, 0, 0, 0, nullptr, 0};
    }
    EXPECT_EQ(waveOutWrite(device, &headers[0], sizeof(WAVEHDR)), WAVERR_UNPREPARED);
    for (WAVEHDR& header : headers) {
        ASSERT_EQ(waveOutPrepareHeader(device, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        EXPECT_EQ(header.dwFlags, WHDR_PREPARED);
        ASSERT_EQ(waveOutWrite(device, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(waveOutWrite(device, &headers[0], sizeof(WAVEHDR)), WAVERR_STILLPLAYING) << "already queued";
    EXPECT_EQ(waveOutUnprepareHeader(device, &headers[3], sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(device), WAVERR_STILLPLAYING);

    const auto start = Clock::now();
    ASSERT_TRUE(Serve(4, 3000));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_GE(seconds, 0.18) << "a header comes back once it has sounded, not when it was taken";
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(messages[i].message, MM_WOM_DONE);
        EXPECT_EQ(messages[i].header, &headers[i]) << "in the order written";
        EXPECT_EQ(messages[i].wParam, reinterpret_cast<WPARAM>(device));
        EXPECT_EQ(headers[i].dwFlags, WHDR_PREPARED | WHDR_DONE);
    }
    EXPECT_EQ(ReadWholeFile(output), sent);

    // A reset returns what is queued, unplayed.
    messages.clear();
    for (WAVEHDR& header : headers)
        ASSERT_EQ(waveOutWrite(device, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutReset(device), MMSYSERR_NOERROR);
    for (WAVEHDR& header : headers)
        EXPECT_EQ(header.dwFlags & WHDR_INQUEUE, 0u) << "given back when the reset returns";
    ASSERT_TRUE(Serve(4, 1000));
    EXPECT_LT(ReadWholeFile(output).size(), 2 * sent.size());
    for (WAVEHDR& header : headers)
        EXPECT_EQ(waveOutUnprepareHeader(device, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(headers[0].dwFlags & WHDR_PREPARED, 0u);
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(device), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutPause(device), MMSYSERR_INVALHANDLE);
    ASSERT_EQ(waveOutOpen(&second, WAVE_MAPPER, &format, window, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR)
        << "free again once closed";
    EXPECT_EQ(waveOutClose(second), MMSYSERR_NOERROR);
}

TEST_F(WaveOutPlaybackTest, FormatsTheDeviceOrTheRecordCannotTake)
{
    struct Case {
        const char* name;
        WAVEFORMATEX format;
        MMRESULT result;
    };
    const Case cases[] = {
        {"CD", Cd(), MMSYSERR_NOERROR},
        {"8-bit mono", {1, 1, 22050, 22050, 1, 8, 0}, MMSYSERR_NOERROR},
        {"24-bit", {1, 2, 48000, 288000, 6, 24, 0}, MMSYSERR_NOERROR},
        {"12 bits", {1, 1, 8000, 16000, 2, 12, 0}, WAVERR_BADFORMAT},
        {"not PCM", {3, 2, 44100, 352800, 8, 32, 0}, WAVERR_BADFORMAT},
        {"frame size that does not fit", {1, 2, 44100, 176400, 3, 16, 0}, WAVERR_BADFORMAT},
        {"a rate the device does not reach", {1, 2, 1000, 4000, 4, 16, 0}, WAVERR_BADFORMAT},
        {"no channels", {1, 0, 44100, 0, 0, 16, 0}, WAVERR_BADFORMAT},
    };
    for (const Case& c : cases) {
        HWAVEOUT device = nullptr;
        EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &c.format, window, 0, CALLBACK_WINDOW), c.result) << c.name;
        if (device != nullptr) {
            EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR) << c.name;
        }
    }
    HWAVEOUT device = nullptr;
    const WAVEFORMATEX format = Cd();
    EXPECT_EQ(waveOutOpen(&device, 0, &format, window, 0, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID)
        << "only the wave mapper plays";
    EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM);
}

// Twice as many messages as a datagram queue holds, posted while nobody reads: none is lost and
// they come in the order posted.
TEST(PostMessageInOrder, WaitsForRoomInsteadOfDropping)
{
    TestEnvironment environment;
    std::vector<LPARAM> received;
    HWND window = CreateMessageWindow("ordered", [&](HWND, UINT, WPARAM, LPARAM lParam) {
        received.push_back(lParam);
        return LRESULT{0};
    });
    ASSERT_NE(window, 0u);
    constexpr int kCount = 50;
    for (int i = 0; i < kCount; ++i)
        PostMessageInOrder(window, MM_WOM_DONE, 0, i);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (received.size() < kCount && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // a busy receiver
        DispatchPendingMessages();
    }
    ASSERT_EQ(received.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i)
        EXPECT_EQ(received[static_cast<std::size_t>(i)], i);
    DestroyWindow(window);
    // A window that is gone takes nothing and blocks nobody.
    PostMessageInOrder(window, MM_WOM_DONE, 0, 99);
}

} // namespace
