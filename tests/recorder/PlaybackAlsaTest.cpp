// The view's playback through the real waveOut over ALSA, end to end: ALSA's "default" is the
// paced test device, which plays at the real-time rate and keeps exactly the bytes it played.
// MM_WOM_DONE reaches the view through a real message window served by this thread.
#include "FakeViewControls.h"
#include "PacedDeviceWorld.h"
#include "TestEnvironment.h"
#include "TransportView.h"
#include "WaveTestFiles.h"
#include "WindowMessages.h"

#include <alsa/asoundlib.h>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kCdBuffer = 17640;
constexpr DWORD kCdSecond = 176400;

// The expected bytes with at most `most` bytes repeated at one place; nothing lost.
::testing::AssertionResult SameBytesButARepeat(const std::string& actual, const std::string& expected, std::size_t most)
{
    if (actual.size() < expected.size() || actual.size() - expected.size() > most)
        return SameBytes(actual, expected);
    const std::size_t repeat = actual.size() - expected.size();
    std::size_t at = 0;
    while (at < expected.size() && actual[at] == expected[at])
        ++at;
    if (repeat == 0 || (at >= repeat && actual.compare(at, std::string::npos, expected, at - repeat) == 0))
        return repeat == 0 ? SameBytes(actual, expected) : ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "not the expected bytes with " << repeat << " repeated at byte " << at;
}

class PlaybackAlsaTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        application.monoText = "Mono";
        application.stereoText = "Stereo";
        application.pauseMenuText = "Pa&use\tCtrl+U";
        application.continueMenuText = "Contin&ue\tCtrl+U";
        application.unsavedText = "You have unsaved data!";
        output = environment.Path("played.raw");
        lock = environment.Path("device.lock");
        UseDevice("");
        window = CreateMessageWindow("WaveHarvester playback test", [this](HWND, UINT message, WPARAM wParam, LPARAM lParam) {
            const auto start = Clock::now();
            view.WindowProc(message, wParam, lParam);
            longestHandler = std::max(longestHandler, Clock::now() - start);
            return LRESULT{0};
        });
        ASSERT_NE(window, 0u);
        controls.window = window;
        document.OnNewDocument();
        view.SetDocument(&document);
        document.view = &view;
    }
    void TearDown() override
    {
        view.StopPlayback();
        Serve([] { return false; }, 100);
        DestroyWindow(window);
    }

    // Makes "default" the paced device with the given extra options, or no device at all.
    void UseDevice(const std::string& options, bool present = true)
    {
        world.Use("file \"" + output + "\" lock \"" + lock + "\" " + options, present);
    }

    void OpenFile(const std::string& data, const FormatRecord& format = PcmFormat(2, 44100, 16))
    {
        path = environment.Path("tone.wav");
        WriteWave(path, format, data);
        ASSERT_TRUE(document.OnOpenDocument(path));
        document.SetPathName(path, false);
        expected = data;
        view.OnInitialUpdate();
    }

    bool Serve(const std::function<bool()>& until, int timeoutMs) { return ServeMessagesUntil(until, timeoutMs); }
    bool PlayedToEnd(int timeoutMs = 10000)
    {
        return Serve([this] { return !view.m_bPlaying; }, timeoutMs);
    }
    std::string Played() const { return FileExists(output) ? ReadWholeFile(output) : std::string(); }
    bool DeviceClosed() const
    {
        int fd = ::open(lock.c_str(), O_RDWR | O_CREAT, 0600);
        const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (fd >= 0)
            ::close(fd);
        return free;
    }
    bool Idle() const
    {
        return !view.m_bPlaying && !view.m_bPaused && view.m_playback.m_hWaveOut == nullptr && DeviceClosed() &&
               controls.texts.at(IDC_STATUS).empty();
    }

    TestEnvironment environment;
    PacedDeviceWorld world{environment};
    ApplicationCore application;
    CWaveHarvesterDoc document;
    FakeViewControls controls;
    TransportView view{application, controls};
    HWND window = 0;
    std::string output, lock, path, expected;
    Clock::duration longestHandler{};
};

TEST_F(PlaybackAlsaTest, PlaysOpenedFilesToTheEndExactly)
{
    struct Case {
        const char* name;
        FormatRecord format;
        std::size_t size;
    };
    const Case cases[] = {
        {"not a multiple of the buffer", PcmFormat(2, 44100, 16), 7 * kCdBuffer + 5888},
        {"shorter than one buffer", PcmFormat(2, 44100, 16), 4000},
        {"8-bit mono, odd size", PcmFormat(1, 22050, 8), 3 * 2208 + 101},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink(output.c_str());
        OpenFile(SampleBytes(c.size, static_cast<unsigned>(c.size)), c.format);
        const auto start = Clock::now();
        view.OnPlay();
        ASSERT_TRUE(view.m_bPlaying);
        // The display follows the sound: the position never stands ahead of what has sounded.
        std::size_t ahead = 0;
        ASSERT_TRUE(Serve([&] {
            const std::size_t played = Played().size();
            if (document.position > played)
                ahead = std::max<std::size_t>(ahead, document.position - played);
            return !view.m_bPlaying;
        }, 10000));
        EXPECT_EQ(ahead, 0u);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const double length = static_cast<double>(c.size) / c.format.nAvgBytesPerSec;
        EXPECT_TRUE(SameBytes(Played(), expected));
        EXPECT_GE(seconds, length * 0.9) << "played at the real-time rate";
        EXPECT_TRUE(Idle());
        EXPECT_EQ(document.position, c.size);
        EXPECT_EQ(controls.slider, 200);
        EXPECT_EQ(controls.texts[IDC_POSITION], controls.texts[IDC_LENGTH]);
    }
    EXPECT_EQ(environment.Messages(), std::vector<std::string>{});
    EXPECT_LT(longestHandler, std::chrono::milliseconds(50)) << "each returned buffer is handled at once";
}

TEST_F(PlaybackAlsaTest, UnsavedRecordingPlaysSegmentZeroFromTheCaptureFile)
{
    const std::string data = SampleBytes(3 * kCdBuffer + 44, 5);
    const std::string capturePath = environment.Path("~WHcd1.tmp");
    WriteWholeFile(capturePath, SampleBytes(1000, 6) + data + SampleBytes(5000, 7));
    application.tempFile = std::make_unique<CFile>(capturePath, CFile::modeReadWrite);
    document.segments[0].start = 1000;
    document.segments[0].size = static_cast<DWORD>(data.size());
    document.segments[0].format = PcmFormat(2, 44100, 16);
    document.segments[0].hasSound = TRUE;
    document.SetModifiedFlag(TRUE);
    view.OnPlay();
    ASSERT_TRUE(PlayedToEnd());
    EXPECT_TRUE(SameBytes(Played(), data));
    EXPECT_TRUE(Idle());
}

TEST_F(PlaybackAlsaTest, PauseStopsAtOnceAndContinueLosesAndRepeatsNothing)
{
    struct Case {
        const char* name;
        const char* options;
        std::size_t repeatAllowed; // bytes
    };
    const Case cases[] = {
        {"a device that pauses", "", 0},
        // The device plays on between the reading of its delay and its stop: those few frames
        // (microseconds of sound) are written again.
        {"a device that cannot pause: stopped, and what it held is written again", "pause \"no\"", 8 * 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UseDevice(c.options);
        ::unlink(output.c_str());
        OpenFile(SampleBytes(kCdSecond, 9));
        view.OnPlay();
        ASSERT_TRUE(Serve([&] { return document.position >= 3 * kCdBuffer; }, 3000));
        view.OnPause();
        ASSERT_TRUE(view.m_bPaused);
        EXPECT_EQ(controls.texts[IDC_STATUS], "Paused playing");
        Serve([] { return false; }, 60);
        const std::size_t atPause = Played().size();
        Serve([] { return false; }, 300);
        EXPECT_EQ(Played().size(), atPause) << "nothing sounds while paused";
        EXPECT_LE(document.position, atPause) << "the position never runs ahead of the sound";
        view.OnPause();
        EXPECT_FALSE(view.m_bPaused);
        ASSERT_TRUE(PlayedToEnd());
        EXPECT_TRUE(SameBytesButARepeat(Played(), expected, c.repeatAllowed));
        EXPECT_TRUE(Idle());
    }
    EXPECT_EQ(environment.Messages(), std::vector<std::string>{});
}

TEST_F(PlaybackAlsaTest, SeekAndToStartWhilePlayingGoOnFromTheNewPosition)
{
    struct Case {
        const char* name;
        int slider;
        std::function<void(TransportView&)> move;
        DWORD from;
    };
    const DWORD size = kCdSecond + 4; // 150 / 200 of it is not on a frame
    const Case cases[] = {
        {"seek forward", 150, [](TransportView& v) { v.OnSliderChanged(TB_ENDTRACK); }, 132304},
        {"to start", 0, [](TransportView& v) { v.OnToStart(); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink(output.c_str());
        OpenFile(SampleBytes(size, 11));
        view.OnPlay();
        ASSERT_TRUE(Serve([&] { return document.position >= 2 * kCdBuffer; }, 3000));
        controls.slider = c.slider;
        view.OnSliderChanged(5);
        c.move(view);
        EXPECT_EQ(document.position, c.from);
        EXPECT_TRUE(view.m_bPlaying);
        ASSERT_TRUE(PlayedToEnd());
        const std::string played = Played();
        const std::size_t tail = size - c.from;
        ASSERT_GE(played.size(), tail);
        const std::size_t before = played.size() - tail;
        EXPECT_GT(before, 0u);
        EXPECT_TRUE(SameBytes(played.substr(0, before), expected.substr(0, before))) << "up to the seek";
        EXPECT_TRUE(SameBytes(played.substr(before), expected.substr(c.from))) << "from the new position";
        EXPECT_TRUE(Idle());
    }
    EXPECT_EQ(environment.Messages(), std::vector<std::string>{});
}

TEST_F(PlaybackAlsaTest, StopKeepsThePositionOfTheSoundAndPlayAtTheEndStartsFromZero)
{
    OpenFile(SampleBytes(kCdSecond / 2, 13));
    view.OnPlay();
    ASSERT_TRUE(Serve([&] { return document.position >= 2 * kCdBuffer; }, 3000));
    view.OnStop();
    EXPECT_TRUE(Idle());
    Serve([] { return false; }, 100); // the reset's returns arrive
    const std::size_t played = Played().size();
    EXPECT_LE(document.position, played) << "counted only what has sounded";
    EXPECT_LT(played, document.position + 2 * kCdBuffer) << "and all of it but the buffer playing";
    EXPECT_TRUE(SameBytes(Played(), expected.substr(0, played)));

    // Playing on and then again once at the end: the second time from 0.
    view.OnPlay();
    ASSERT_TRUE(PlayedToEnd());
    EXPECT_EQ(document.position, expected.size());
    ::unlink(output.c_str());
    view.OnPlay();
    EXPECT_EQ(controls.texts[IDC_POSITION], "0.0");
    ASSERT_TRUE(PlayedToEnd());
    EXPECT_TRUE(SameBytes(Played(), expected));
    EXPECT_EQ(environment.Messages(), std::vector<std::string>{});
}

TEST_F(PlaybackAlsaTest, DeviceErrorsShowTheirMessageAndLeaveTheViewIdle)
{
    OpenFile(SampleBytes(kCdBuffer * 3, 17));
    {
        SCOPED_TRACE("another process holds the device");
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t holder = ::fork();
        if (holder == 0) {
            snd_pcm_t* pcm = nullptr;
            const int opened = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0);
            [[maybe_unused]] ssize_t n = ::write(ready[1], &opened, sizeof opened);
            ::pause();
            ::_exit(0);
        }
        int opened = -1;
        ASSERT_EQ(::read(ready[0], &opened, sizeof opened), static_cast<ssize_t>(sizeof opened));
        ASSERT_EQ(opened, 0);
        view.OnPlay();
        ::kill(holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
        ::close(ready[0]);
        ::close(ready[1]);
        EXPECT_EQ(environment.Messages(),
                  std::vector<std::string>{"Audio driver is busy - another application is playing audio."});
        EXPECT_TRUE(Idle());
    }
    struct Case {
        const char* name;
        std::string options;
        bool present;
        DWORD buffers; // of data
        std::string message;
    };
    const Case cases[] = {
        {"no default device", "", false, 3, "No audio device driver is present."},
        {"a device that takes only 48,000 Hz", "rate 48000", true, 3,
         "This waveform-audio format is unsupported by you audio driver."},
        {"a device that goes away with more to play", "fail_after 5000", true, 15,
         "Unexpected multimedia error 6 in the \"waveOutWrite\" function (MMSYSERR_NODRIVER - no device driver "
         "present)"},
        {"a device that goes away with everything written", "fail_after 5000", true, 3,
         "Unexpected multimedia error 6 in the \"waveOutReset\" function (MMSYSERR_NODRIVER - no device driver "
         "present)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenFile(SampleBytes(kCdBuffer * c.buffers, 17));
        environment.ClearMessages();
        UseDevice(c.options, c.present);
        view.OnPlay();
        Serve([&] { return !view.m_bPlaying; }, 5000);
        EXPECT_EQ(environment.Messages(), std::vector<std::string>{c.message});
        EXPECT_TRUE(Idle());
    }
    // The device works again for the same view.
    environment.ClearMessages();
    UseDevice("");
    ::unlink(output.c_str());
    view.OnPlay();
    ASSERT_TRUE(PlayedToEnd());
    EXPECT_TRUE(SameBytes(Played(), expected));
    EXPECT_EQ(environment.Messages(), std::vector<std::string>{});
}

TEST_F(PlaybackAlsaTest, AFileChangedWhilePlaying)
{
    {
        SCOPED_TRACE("cut short: what it still holds plays, then its end is reported");
        OpenFile(SampleBytes(kCdSecond * 2, 19));
        view.OnPlay();
        ASSERT_TRUE(Serve([&] { return document.position >= kCdBuffer; }, 3000));
        const DWORD kept = 14 * kCdBuffer + 400;
        ASSERT_EQ(::truncate(path.c_str(), document.dataOffset + kept), 0);
        ASSERT_TRUE(PlayedToEnd());
        EXPECT_TRUE(SameBytes(Played(), expected.substr(0, kept)));
        EXPECT_EQ(environment.Messages(),
                  std::vector<std::string>{"An attempt was made to access " + path + " past its end."});
        EXPECT_TRUE(Idle());
    }
    {
        SCOPED_TRACE("deleted before Play");
        environment.ClearMessages();
        ::unlink(output.c_str());
        OpenFile(SampleBytes(kCdBuffer, 21));
        ::unlink(path.c_str());
        view.OnPlay();
        EXPECT_EQ(environment.Messages(), std::vector<std::string>{path + " was not found."});
        EXPECT_TRUE(Idle());
        EXPECT_EQ(Played(), "");
    }
    {
        SCOPED_TRACE("deleted while playing: the open file plays to its end");
        environment.ClearMessages();
        ::unlink(output.c_str());
        OpenFile(SampleBytes(kCdSecond / 2, 23));
        view.OnPlay();
        ASSERT_TRUE(Serve([&] { return document.position >= kCdBuffer; }, 3000));
        ::unlink(path.c_str());
        ASSERT_TRUE(PlayedToEnd());
        EXPECT_TRUE(SameBytes(Played(), expected));
        EXPECT_EQ(environment.Messages(), std::vector<std::string>{});
        EXPECT_TRUE(Idle());
    }
}

} // namespace
