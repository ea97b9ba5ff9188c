#include "FakeViewControls.h"
#include "FakeWaveOut.h"
#include "TestEnvironment.h"
#include "TransportView.h"
#include "WaveTestFiles.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

constexpr DWORD kCdBuffer = 17640; // 44,100 Hz 16-bit stereo

// A view with the fake device, over an opened wave file or an unsaved recording in a temporary
// capture file made by each case.
class PlaybackEngineTest : public ::testing::Test {
public:
    PlaybackEngineTest() : view(application, controls)
    {
        application.monoText = "Mono";
        application.stereoText = "Stereo";
        application.pauseMenuText = "Pa&use\tCtrl+U";
        application.continueMenuText = "Contin&ue\tCtrl+U";
        application.unsavedText = "You have unsaved data!";
        controls.window = 0x1230;
        SetWaveOutBackend(device);
        document.OnNewDocument();
        view.SetDocument(&document);
        document.view = &view;
    }
    ~PlaybackEngineTest() override
    {
        view.StopPlayback();
        device->Deliver(view);
        SetWaveOutBackend(nullptr);
        ::unsetenv("WAVEHARVESTER_FAIL_CALLS");
    }

    // Opens a wave file holding `data` in the format.
    void OpenFile(const std::string& data, const FormatRecord& format = PcmFormat(2, 44100, 16))
    {
        path = environment.Path("tone.wav");
        WriteWave(path, format, data);
        ASSERT_TRUE(document.OnOpenDocument(path));
        document.SetPathName(path, false);
        expected = data;
        view.OnInitialUpdate();
    }

    // Makes the document an unsaved recording: segment 0 at `start` in the capture file.
    void RecordInto(const std::string& data, DWORD start, const FormatRecord& format = PcmFormat(2, 44100, 16))
    {
        const std::string capturePath = environment.Path("~WHcd1.tmp");
        WriteWholeFile(capturePath, SampleBytes(start, 7) + data + SampleBytes(999, 8));
        application.tempFile = std::make_unique<CFile>(capturePath, CFile::modeReadWrite);
        document.segments[0].start = start;
        document.segments[0].size = static_cast<DWORD>(data.size());
        document.segments[0].format = format;
        document.segments[0].hasSound = TRUE;
        document.SetModifiedFlag(TRUE);
        expected = data;
        view.UpdateControls();
    }

    bool Idle() const
    {
        const PlaybackEngine& engine = view.m_playback;
        bool buffersFree = true;
        for (const WAVEHDR& header : engine.m_headers)
            buffersFree = buffersFree && header.lpData == nullptr;
        return !view.m_bPlaying && !view.m_bPaused && engine.m_hWaveOut == nullptr && !device->open &&
               !engine.m_playFile.IsOpen() && buffersFree;
    }

    TestEnvironment environment;
    ApplicationCore application;
    CWaveHarvesterDoc document;
    FakeViewControls controls;
    TransportView view;
    std::shared_ptr<FakeWaveOut> device = std::make_shared<FakeWaveOut>();
    std::string path;
    std::string expected;
};

TEST(PlaybackBufferSize, ByFormat)
{
    struct Case {
        const char* name;
        FormatRecord format;
        DWORD size;
    };
    FormatRecord noRate = PcmFormat(2, 44100, 16);
    noRate.nAvgBytesPerSec = 0;
    const Case cases[] = {
        {"44,100 Hz 16-bit stereo", PcmFormat(2, 44100, 16), 17640},
        {"22,050 Hz 8-bit mono", PcmFormat(1, 22050, 8), 2208},
        {"8,000 Hz 8-bit mono", PcmFormat(1, 8000, 8), 800},
        {"11,025 Hz 8-bit mono: a tenth not a whole byte", PcmFormat(1, 11025, 8), 1104},
        {"44,100 Hz 24-bit stereo: frames of 6", PcmFormat(2, 44100, 24), 26466},
        {"48,000 Hz 16-bit 6 channels", PcmFormat(6, 48000, 16), 57600},
        {"11,025 Hz 16-bit 3 channels", PcmFormat(3, 11025, 16), 6618},
        {"1 Hz 16-bit mono: one granule", PcmFormat(1, 1, 16), 8},
        {"no byte rate: one granule, not empty buffers", noRate, 8},
    };
    for (const Case& c : cases) {
        const DWORD size = PlaybackEngine::BufferSize(c.format);
        EXPECT_EQ(size, c.size) << c.name;
        if (c.format.nBlockAlign > 0) {
            EXPECT_EQ(size % c.format.nBlockAlign, 0u) << c.name << ": whole frames";
        }
    }
}

TEST_F(PlaybackEngineTest, PlaysTheWholeDataOfFilesOfEverySize)
{
    struct Case {
        const char* name;
        FormatRecord format;
        std::size_t size;
        std::vector<DWORD> firstWrites; // the lengths of the first headers queued
        std::size_t writes;
    };
    const Case cases[] = {
        {"shorter than one buffer", PcmFormat(2, 44100, 16), 1000, {1000}, 1},
        {"exactly one buffer", PcmFormat(2, 44100, 16), kCdBuffer, {kCdBuffer}, 1},
        {"not a multiple of the buffer", PcmFormat(2, 44100, 16), 3 * kCdBuffer + 100,
         {kCdBuffer, kCdBuffer, kCdBuffer, 100}, 4},
        {"more than ten buffers", PcmFormat(2, 44100, 16), 12 * kCdBuffer + 4, {kCdBuffer}, 13},
        {"8-bit mono", PcmFormat(1, 22050, 8), 5 * 2208 + 1, {2208, 2208, 2208, 2208, 2208, 1}, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device->played.clear();
        device->written.clear();
        OpenFile(SampleBytes(c.size), c.format);
        view.OnPlay();
        ASSERT_TRUE(view.m_bPlaying);
        EXPECT_EQ(device->openedDevice, WAVE_MAPPER);
        EXPECT_EQ(device->openedFlags, CALLBACK_WINDOW);
        EXPECT_EQ(device->openedCallback, controls.window);
        EXPECT_EQ(device->openedFormat.nSamplesPerSec, c.format.nSamplesPerSec);
        EXPECT_EQ(device->queue.size(), std::min<std::size_t>(10, c.writes)) << "up to ten buffers queued";
        EXPECT_EQ(controls.texts[IDC_STATUS], "Playing");
        device->PlayToEnd(view);
        EXPECT_TRUE(SameBytes(device->played, expected));
        EXPECT_EQ(device->written.size(), c.writes);
        for (std::size_t i = 0; i < c.firstWrites.size(); ++i)
            EXPECT_EQ(device->written[i], c.firstWrites[i]) << "header " << i;
        EXPECT_TRUE(Idle());
        EXPECT_EQ(document.position, c.size) << "the position stays at the end";
        EXPECT_EQ(controls.slider, 200);
        EXPECT_EQ(controls.texts[IDC_POSITION], controls.texts[IDC_LENGTH]);
        EXPECT_EQ(controls.texts[IDC_STATUS], "");
        EXPECT_TRUE(view.m_bCanToStart);
        EXPECT_TRUE(view.m_bCanPlay);
        EXPECT_EQ(view.m_playback.m_outstanding, 0);
    }
    EXPECT_EQ(environment.Messages(), std::vector<std::string>{});
}

TEST_F(PlaybackEngineTest, UnsavedRecordingPlaysSegmentZeroOfTheCaptureFile)
{
    RecordInto(SampleBytes(2 * kCdBuffer + 12, 3), 4000, PcmFormat(2, 44100, 16));
    view.OnPlay();
    ASSERT_TRUE(view.m_bPlaying);
    EXPECT_EQ(view.m_playback.m_pReader, application.tempFile.get());
    EXPECT_FALSE(view.m_playback.m_playFile.IsOpen());
    device->PlayToEnd(view);
    EXPECT_TRUE(SameBytes(device->played, expected));
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(application.tempFile->IsOpen()) << "the capture file stays the application's";
}

// Position, display and device calls after each step of one session.
TEST_F(PlaybackEngineTest, PositionAndDisplayAfterEachTransition)
{
    OpenFile(SampleBytes(20 * kCdBuffer)); // 2.0 s
    struct Step {
        const char* name;
        std::function<void()> action;
        DWORD position;
        const char* status;
        const char* positionText;
        int slider;
        bool playing, paused, canToStart, sliderOn;
    };
    auto play = [&] { view.OnCommand(ID_PLAY); };
    auto pause = [&] { view.OnCommand(ID_PAUSE); };
    auto played = [&](int count) {
        return [&, count] {
            device->Complete(count);
            device->Deliver(view);
        };
    };
    const Step steps[] = {
        {"play", play, 0, "Playing", "0.0", 0, true, false, false, true},
        {"three buffers played", played(3), 3 * kCdBuffer, "Playing", "0.3", 30, true, false, true, true},
        {"pause", pause, 3 * kCdBuffer, "Paused playing", "0.3", 30, true, true, false, false},
        {"nothing plays while paused", played(2), 3 * kCdBuffer, "Paused playing", "0.3", 30, true, true, false, false},
        {"continue", pause, 3 * kCdBuffer, "Playing", "0.3", 30, true, false, true, true},
        {"two more", played(2), 5 * kCdBuffer, "Playing", "0.5", 50, true, false, true, true},
        {"stop keeps the position", [&] { view.OnCommand(ID_STOP); }, 5 * kCdBuffer, "", "0.5", 50, false, false,
         true, true},
        {"returns of the reset do not move it", [&] { device->Deliver(view); }, 5 * kCdBuffer, "", "0.5", 50, false,
         false, true, true},
        {"play again goes on from there", play, 5 * kCdBuffer, "Playing", "0.5", 50, true, false, true, true},
        {"to the end", [&] { device->PlayToEnd(view); }, 20 * kCdBuffer, "", "2.0", 200, false, false, true, true},
        {"play at the end starts from 0", play, 0, "Playing", "0.0", 0, true, false, false, true},
        {"one buffer", played(1), kCdBuffer, "Playing", "0.1", 10, true, false, true, true},
        {"to start while playing", [&] { view.OnCommand(ID_TO_START); }, 0, "Playing", "0.0", 0, true, false, false,
         true},
        {"the reset's returns are not counted", [&] { device->Deliver(view); }, 0, "Playing", "0.0", 0, true, false,
         false, true},
        {"stop", [&] { view.OnCommand(ID_STOP); device->Deliver(view); }, 0, "", "0.0", 0, false, false, false, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.action();
        EXPECT_EQ(document.position, step.position);
        EXPECT_EQ(controls.texts[IDC_STATUS], step.status);
        EXPECT_EQ(controls.texts[IDC_POSITION], step.positionText);
        EXPECT_EQ(controls.slider, step.slider);
        EXPECT_EQ(view.m_bPlaying, step.playing);
        EXPECT_EQ(view.m_bPaused, step.paused);
        EXPECT_EQ(view.m_bCanToStart, step.canToStart);
        EXPECT_EQ(view.m_bSliderEnabled, step.sliderOn);
        EXPECT_EQ(view.PauseMenuText(), step.paused ? "Contin&ue\tCtrl+U" : "Pa&use\tCtrl+U");
        EXPECT_EQ(device->open, step.playing);
    }
    const std::vector<std::string> pauses(device->calls.begin(), device->calls.end());
    EXPECT_NE(std::find(pauses.begin(), pauses.end(), "pause"), pauses.end());
    EXPECT_NE(std::find(pauses.begin(), pauses.end(), "restart"), pauses.end());
    EXPECT_EQ(environment.Messages(), std::vector<std::string>{});
}

TEST_F(PlaybackEngineTest, WhatPlaysAfterASeekIsTheDataFromTheAlignedPosition)
{
    struct Case {
        const char* name;
        FormatRecord format;
        DWORD size;
        int slider;
        DWORD aligned; // slider x size x 0.005, truncated, aligned up to a frame, never past the end
    };
    const Case cases[] = {
        {"stereo 16-bit to the middle", PcmFormat(2, 44100, 16), 20 * kCdBuffer, 100, 10 * kCdBuffer},
        {"a position inside a frame goes up", PcmFormat(2, 44100, 16), 40 * kCdBuffer + 6, 37, 130540},
        {"24-bit stereo, frames of 6", PcmFormat(2, 44100, 24), 6 * 100007, 150, 450036},
        {"the end, in a frame cut short, is never passed", PcmFormat(2, 44100, 16), 40 * kCdBuffer + 3, 200,
         40 * kCdBuffer + 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenFile(SampleBytes(c.size, c.size), c.format);
        view.OnPlay();
        device->Complete(2);
        device->Deliver(view);
        const std::size_t before = device->played.size();
        controls.slider = c.slider;
        view.OnSliderChanged(5); // dragging: only the display follows
        EXPECT_EQ(document.position, before);
        view.OnSliderChanged(TB_ENDTRACK);
        EXPECT_EQ(document.position, c.aligned);
        EXPECT_LE(document.position, c.size);
        device->PlayToEnd(view);
        EXPECT_TRUE(SameBytes(device->played.substr(before), expected.substr(c.aligned)));
        EXPECT_TRUE(Idle());
        EXPECT_EQ(document.position, c.size);
        device->played.clear();
    }
    // Idle, a seek moves only the position.
    controls.slider = 50;
    view.OnSliderChanged(TB_ENDTRACK);
    EXPECT_EQ(document.position, 176400u);
    EXPECT_FALSE(device->open);
    EXPECT_EQ(environment.Messages(), std::vector<std::string>{});
}

// The returns of a device reset by Stop may come after Play has started a new device: they must
// neither move the position nor queue a header twice.
TEST_F(PlaybackEngineTest, LateReturnsOfAStoppedDeviceAfterANewPlay)
{
    OpenFile(SampleBytes(30 * kCdBuffer));
    view.OnPlay();
    device->Complete(4);
    device->Deliver(view);
    view.OnStop();
    EXPECT_EQ(device->returned.size(), 10u);
    std::deque<WAVEHDR*> late;
    late.swap(device->returned);
    view.OnPlay();
    const std::size_t before = device->played.size();
    device->returned = late; // now they arrive
    device->Deliver(view);
    EXPECT_EQ(document.position, 4 * kCdBuffer);
    device->PlayToEnd(view);
    EXPECT_TRUE(SameBytes(device->played.substr(before), expected.substr(4 * kCdBuffer)));
    EXPECT_EQ(document.position, 30 * kCdBuffer);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(environment.Messages(), std::vector<std::string>{});
}

TEST_F(PlaybackEngineTest, FailuresShowTheirMessageAndLeaveTheViewIdle)
{
    struct Case {
        const char* name;
        std::function<void(PlaybackEngineTest&)> arrange;
        std::string message;
    };
    const Case cases[] = {
        {"device busy", [](PlaybackEngineTest& t) { t.device->openResult = MMSYSERR_ALLOCATED; },
         "Audio driver is busy - another application is playing audio."},
        {"no device", [](PlaybackEngineTest& t) { t.device->openResult = MMSYSERR_NODRIVER; },
         "No audio device driver is present."},
        {"format refused", [](PlaybackEngineTest& t) { t.device->openResult = WAVERR_BADFORMAT; },
         "This waveform-audio format is unsupported by you audio driver."},
        {"other open error", [](PlaybackEngineTest& t) { t.device->openResult = MMSYSERR_BADDEVICEID; },
         "Unexpected multimedia error 2 in the \"waveOutOpen\" function (MMSYSERR_BADDEVICEID - device ID out of "
         "range)"},
        {"prepare fails at the third header", [](PlaybackEngineTest& t) { t.device->prepareFailAt = 2; },
         "Unexpected multimedia error 7 in the \"waveOutPrepareHeader\" function (MMSYSERR_NOMEM - memory "
         "allocation error)"},
        {"write fails at the second header", [](PlaybackEngineTest& t) { t.device->writeFailAt = 1; },
         "Unexpected multimedia error 7 in the \"waveOutWrite\" function (MMSYSERR_NOMEM - memory allocation "
         "error)"},
        {"file deleted before play", [](PlaybackEngineTest& t) { ::unlink(t.path.c_str()); },
         "PLACEHOLDER was not found."},
        {"no memory for the buffers", [](PlaybackEngineTest&) { ::setenv("WAVEHARVESTER_FAIL_CALLS", "LocalAlloc:8", 1); },
         // The error text itself needs memory, which is out too.
         "Unexpected error 8 in the \"LocalAlloc\" function (?)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        *device = FakeWaveOut{};
        OpenFile(SampleBytes(15 * kCdBuffer));
        environment.ClearMessages();
        c.arrange(*this);
        view.OnPlay();
        ::unsetenv("WAVEHARVESTER_FAIL_CALLS");
        device->Deliver(view);
        std::string message = c.message;
        if (message.rfind("PLACEHOLDER", 0) == 0)
            message = path + message.substr(11);
        EXPECT_EQ(environment.Messages(), std::vector<std::string>{message});
        EXPECT_TRUE(Idle());
        EXPECT_EQ(device->queue.size(), 0u);
        EXPECT_TRUE(view.m_bCanPlay);
        EXPECT_EQ(controls.texts[IDC_STATUS], "");
    }
}

// A reader that fails once the file has given `good` reads.
class FailingFile : public CFile {
public:
    FailingFile(const std::string& name, int good) : CFile(name, CFile::modeRead), m_good(good) {}
    UINT Read(void* buffer, UINT count) override
    {
        if (m_good-- <= 0)
            throw CFileException(CFileException::hardIO, static_cast<LONG>(ERROR_READ_FAULT));
        return CFile::Read(buffer, count);
    }

private:
    int m_good;
};

TEST_F(PlaybackEngineTest, AReadErrorWhilePlayingIsReportedOnceUnderTheDocumentsName)
{
    RecordInto(SampleBytes(30 * kCdBuffer), 0);
    document.SetPathName(environment.Path("named.wav"), false);
    application.tempFile = std::make_unique<FailingFile>(environment.Path("~WHcd1.tmp"), 12);
    view.OnPlay();
    device->PlayToEnd(view);
    EXPECT_EQ(environment.Messages(),
              std::vector<std::string>{"A hardware I/O error was reported while accessing " +
                                       environment.Path("named.wav") + "."});
    EXPECT_TRUE(Idle());
    // The thirteenth read fails when the third buffer comes back: the two before it had played.
    EXPECT_TRUE(SameBytes(device->played, expected.substr(0, 3 * kCdBuffer)));
}

TEST_F(PlaybackEngineTest, AFileCutShortWhilePlayingPlaysWhatItHoldsAndEndsThere)
{
    OpenFile(SampleBytes(30 * kCdBuffer));
    view.OnPlay();
    device->Complete(2);
    // The file loses its end while the first ten buffers are queued: 14.5 buffers of data remain.
    const DWORD dataStart = document.dataOffset;
    ASSERT_EQ(::truncate(path.c_str(), dataStart + 14 * kCdBuffer + kCdBuffer / 2), 0);
    device->PlayToEnd(view);
    EXPECT_TRUE(SameBytes(device->played, expected.substr(0, 14 * kCdBuffer + kCdBuffer / 2))) << "no stale bytes";
    EXPECT_EQ(device->written.back(), kCdBuffer / 2);
    EXPECT_EQ(environment.Messages(),
              std::vector<std::string>{"An attempt was made to access " + path + " past its end."});
    EXPECT_TRUE(Idle());
    EXPECT_EQ(document.position, 14 * kCdBuffer + kCdBuffer / 2);
}

TEST_F(PlaybackEngineTest, PauseErrorsAreReportedAndThePauseGoesOn)
{
    OpenFile(SampleBytes(15 * kCdBuffer));
    view.OnPlay();
    device->pauseResult = MMSYSERR_INVALHANDLE;
    view.OnPause();
    EXPECT_TRUE(view.m_bPaused);
    view.OnPause();
    EXPECT_FALSE(view.m_bPaused);
    const std::string text = "Unexpected multimedia error 5 in the \"waveOutPause/Restart\" function "
                             "(MMSYSERR_INVALHANDLE - device handle is invalid)";
    EXPECT_EQ(environment.Messages(), (std::vector<std::string>{text, text}));
    EXPECT_TRUE(view.m_bPlaying);
}

} // namespace
