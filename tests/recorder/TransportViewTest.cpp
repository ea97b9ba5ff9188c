#include "FakeViewControls.h"
#include "TestEnvironment.h"
#include "TransportView.h"
#include "WaveTestFiles.h"

#include <gtest/gtest.h>

namespace {

// A view over a document and an application object set up by each case.
class TransportViewTest : public ::testing::Test {
protected:
    TransportViewTest() : view(application, controls)
    {
        application.monoText = "Mono";
        application.stereoText = "Stereo";
        application.pauseMenuText = "Pa&use\tCtrl+U";
        application.continueMenuText = "Contin&ue\tCtrl+U";
        application.unsavedText = "You have unsaved data!";
        document.SetTitle("Untitled");
        document.OnNewDocument();
        view.SetDocument(&document);
    }
    ~TransportViewTest() override { application.tempFileHandle = INVALID_HANDLE_VALUE; }

    void SetReady(bool ready)
    {
        application.captureReady = ready;
        // Any valid-looking handle: the view only asks whether a temporary file is open.
        application.tempFileHandle = ready ? reinterpret_cast<HANDLE>(std::intptr_t{0x1234}) : INVALID_HANDLE_VALUE;
    }

    void OpenTwoSecondFile()
    {
        document.SetPathName("/music/tone.wav", false);
        document.fileFormat = PcmFormat(2, 44100, 16);
        document.dataOffset = 44;
        document.dataSize = 352800;
        document.fileSize = 352844;
    }

    TestEnvironment environment;
    ApplicationCore application;
    CWaveHarvesterDoc document;
    FakeViewControls controls;
    TransportView view;
};

TEST_F(TransportViewTest, EnableFlagsAndImagesByState)
{
    using I = StateImage;
    struct Case {
        const char* name;
        bool data, playing, recording, paused, ready;
        DWORD position;
        I toStart, play, pause, stop, record;
        bool toStartOn, playOn, pauseOn, stopOn, recordOn, sliderOn;
        const char* pauseMenu;
    };
    const Case cases[] = {
        {"no data, idle, ready", false, false, false, false, true, 0, I::toStartOff, I::playOff, I::pauseOff,
         I::stopOff, I::recordOn, false, false, false, false, true, false, "Pa&use\tCtrl+U"},
        {"no data, idle, not ready", false, false, false, false, false, 0, I::toStartOff, I::playOff, I::pauseOff,
         I::stopOff, I::recordOff, false, false, false, false, false, false, "Pa&use\tCtrl+U"},
        {"data, idle, position 0", true, false, false, false, true, 0, I::toStartOff, I::playOn, I::pauseOff,
         I::stopOff, I::recordOn, false, true, false, false, true, true, "Pa&use\tCtrl+U"},
        {"data, idle, position > 0", true, false, false, false, false, 4, I::toStartOn, I::playOn, I::pauseOff,
         I::stopOff, I::recordOff, true, true, false, false, false, true, "Pa&use\tCtrl+U"},
        {"playing at 0", true, true, false, false, true, 0, I::toStartOff, I::playOff, I::pauseOn, I::stopOn,
         I::recordOff, false, false, true, true, false, true, "Pa&use\tCtrl+U"},
        {"playing past 0", true, true, false, false, true, 400, I::toStartOn, I::playOff, I::pauseOn, I::stopOn,
         I::recordOff, true, false, true, true, false, true, "Pa&use\tCtrl+U"},
        {"paused playing", true, true, false, true, true, 400, I::toStartOff, I::playOff, I::continueOn, I::stopOn,
         I::recordOff, false, false, true, true, false, false, "Contin&ue\tCtrl+U"},
        {"recording", true, false, true, false, true, 400, I::toStartOff, I::playOff, I::pauseOn, I::stopOn,
         I::recordOff, false, false, true, true, false, false, "Pa&use\tCtrl+U"},
        {"paused recording", false, false, true, true, true, 0, I::toStartOff, I::playOff, I::continueOn, I::stopOn,
         I::recordOff, false, false, true, true, false, false, "Contin&ue\tCtrl+U"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        document.OnNewDocument();
        if (c.data)
            OpenTwoSecondFile();
        SetReady(c.ready);
        document.position = c.position;
        view.m_bPlaying = c.playing;
        view.m_bRecording = c.recording;
        view.m_bPaused = c.paused;
        view.UpdateControls();

        EXPECT_EQ(controls.images[IDC_TO_START], c.toStart);
        EXPECT_EQ(controls.images[IDC_PLAY], c.play);
        EXPECT_EQ(controls.images[IDC_PAUSE], c.pause);
        EXPECT_EQ(controls.images[IDC_STOP], c.stop);
        EXPECT_EQ(controls.images[IDC_RECORD], c.record);
        EXPECT_EQ(controls.enabled[IDC_TO_START], c.toStartOn);
        EXPECT_EQ(controls.enabled[IDC_PLAY], c.playOn);
        EXPECT_EQ(controls.enabled[IDC_PAUSE], c.pauseOn);
        EXPECT_EQ(controls.enabled[IDC_STOP], c.stopOn);
        EXPECT_EQ(controls.enabled[IDC_RECORD], c.recordOn);
        EXPECT_EQ(controls.enabled[IDC_SLIDER], c.sliderOn);
        // The commands follow the same flags; the label is dark red exactly while Record is allowed.
        EXPECT_EQ(view.CommandEnabled(ID_TO_START), c.toStartOn);
        EXPECT_EQ(view.CommandEnabled(ID_PLAY), c.playOn);
        EXPECT_EQ(view.CommandEnabled(ID_PAUSE), c.pauseOn);
        EXPECT_EQ(view.CommandEnabled(ID_STOP), c.stopOn);
        EXPECT_EQ(view.CommandEnabled(ID_RECORD), c.recordOn);
        EXPECT_EQ(view.PauseMenuText(), c.pauseMenu);
        EXPECT_EQ(controls.labelDarkRed, c.recordOn);
        // Lamps show the state.
        EXPECT_EQ(controls.images[IDC_PLAYING_LAMP], c.playing ? I::playOn : I::playingLampOff);
        EXPECT_EQ(controls.images[IDC_RECORDING_LAMP], c.recording ? I::recordOn : I::recordingLampOff);
        EXPECT_EQ(controls.images[IDC_PAUSE_LAMP], c.paused ? I::pauseOn : I::pauseLampOff);
    }
}

TEST_F(TransportViewTest, DocumentCommandStates)
{
    struct Case {
        const char* name;
        bool path, modified, ready;
        int newOn, saveOn, saveAsOn;
    };
    const Case cases[] = {
        {"empty, not ready", false, false, false, 0, 0, 0},
        {"empty, ready", false, false, true, 1, 0, 0},
        {"file", true, false, true, 1, 0, 1},
        {"unsaved recording, no path", false, true, true, 1, 1, 1},
        {"unsaved recording into a file", true, true, false, 0, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        document.OnNewDocument();
        if (c.path)
            OpenTwoSecondFile();
        document.SetModifiedFlag(c.modified);
        SetReady(c.ready);
        view.UpdateControls();
        EXPECT_EQ(view.CommandEnabled(ID_FILE_NEW), c.newOn);
        EXPECT_EQ(view.CommandEnabled(ID_FILE_SAVE), c.saveOn);
        EXPECT_EQ(view.CommandEnabled(ID_FILE_SAVE_AS), c.saveAsOn);
        EXPECT_EQ(view.CommandEnabled(ID_FILE_OPEN), -1) << "Open is always the framework's";
    }
}

TEST_F(TransportViewTest, EmptyDocumentDisplay)
{
    view.OnInitialUpdate();
    EXPECT_EQ(controls.texts[IDC_STATUS], "");
    EXPECT_EQ(controls.texts[IDC_LOST_SECONDS], "");
    EXPECT_EQ(controls.texts[IDC_FORMAT], "");
    EXPECT_EQ(controls.texts[IDC_UNSAVED], "");
    EXPECT_EQ(controls.texts[IDC_DATA_SIZE], "0");
    EXPECT_EQ(controls.texts[IDC_FULL_SIZE], "44");
    EXPECT_EQ(controls.texts[IDC_LENGTH], "0.0");
    EXPECT_EQ(controls.texts[IDC_POSITION], "0.0");
    EXPECT_EQ(controls.slider, 0);
    // The initial update sets the slider up, gives the label its font once and fits the frame.
    EXPECT_EQ(controls.sliderMin, 0);
    EXPECT_EQ(controls.sliderMax, 200);
    EXPECT_EQ(controls.sliderLine, 1);
    EXPECT_EQ(controls.sliderPage, 20);
    view.OnInitialUpdate();
    EXPECT_EQ(controls.labelFontCalls, 1);
    EXPECT_EQ(controls.resizes, 2);
    EXPECT_EQ(document.view, &view);
}

TEST_F(TransportViewTest, DisplayByStateAndSource)
{
    struct Case {
        const char* name;
        FormatRecord format;
        bool modified, playing, recording, paused;
        DWORD size, position;
        const char* status;
        const char* formatLine;
        const char* dataSize;
        const char* fullSize; // a file's is its own length, a recording's its size + 44
        const char* length;
        const char* positionText;
        int slider;
        const char* unsaved;
    };
    const Case cases[] = {
        {"opened file, idle", PcmFormat(2, 44100, 16), false, false, false, false, 352800, 0, "",
         "PCM 44.100 kHz; 16 Bit; Stereo", "352 800", "352 844", "2.0", "0.0", 0, ""},
        {"playing halfway", PcmFormat(2, 44100, 16), false, true, false, false, 352800, 176400, "Playing",
         "PCM 44.100 kHz; 16 Bit; Stereo", "352 800", "352 844", "2.0", "1.0", 100, ""},
        {"paused playing at the end", PcmFormat(2, 44100, 16), false, true, false, true, 352800, 352800,
         "Paused playing", "PCM 44.100 kHz; 16 Bit; Stereo", "352 800", "352 844", "2.0", "2.0", 200, ""},
        {"recording with sound", PcmFormat(1, 22050, 8), true, false, true, false, 66150, 0, "Recording",
         "PCM 22.050 kHz; 8 Bit; Mono", "66 150", "66 194", "3.0", "3.0", 200, "You have unsaved data!"},
        {"recording before sound", PcmFormat(2, 44100, 16), false, false, true, false, 352800, 0, "Recording",
         "PCM 44.100 kHz; 16 Bit; Stereo", "352 800", "352 844", "2.0", "0.0", 0, ""},
        {"paused recording", PcmFormat(2, 48000, 16), true, false, true, true, 192000, 0, "Paused recording",
         "PCM 48.000 kHz; 16 Bit; Stereo", "192 000", "192 044", "1.0", "1.0", 200, "You have unsaved data!"},
        {"unsaved recording, idle", PcmFormat(2, 8000, 16), true, false, false, false, 32000, 16000, "",
         "PCM 8.000 kHz; 16 Bit; Stereo", "32 000", "32 044", "1.0", "0.5", 100, "You have unsaved data!"},
        {"six channels", PcmFormat(6, 48000, 24), false, false, false, false, 864000, 0, "",
         "PCM 48.000 kHz; 24 Bit; Unknown", "864 000", "352 844", "1.0", "0.0", 0, ""},
        // A half step rounds down: 0.49 is added, not 0.5.
        {"slider half step", PcmFormat(1, 400, 8), false, false, false, false, 400, 1, "",
         "PCM 0.400 kHz; 8 Bit; Mono", "400", "352 844", "1.0", "0.0", 0, ""},
        {"rate 0 counts as 1", FormatRecord{}, false, false, false, false, 1500, 0, "",
         "PCM 0.000 kHz; 0 Bit; Unknown", "1 500", "352 844", "25:00.0", "0.0", 0, ""},
        {"largest size", PcmFormat(2, 44100, 16), false, false, false, false, 4294967295u, 0, "",
         "PCM 44.100 kHz; 16 Bit; Stereo", "4 294 967 295", "352 844", "6:45:47.9", "0.0", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        document.OnNewDocument();
        OpenTwoSecondFile();
        if (c.modified) {
            document.segments[0].format = c.format;
            document.segments[0].size = c.size;
        } else {
            document.fileFormat = c.format;
            document.dataSize = c.size;
        }
        document.SetModifiedFlag(c.modified);
        document.position = c.position;
        view.m_bPlaying = c.playing;
        view.m_bRecording = c.recording;
        view.m_bPaused = c.paused;
        view.UpdateControls();
        EXPECT_EQ(controls.texts[IDC_STATUS], c.status);
        EXPECT_EQ(controls.texts[IDC_FORMAT], c.formatLine);
        EXPECT_EQ(controls.texts[IDC_DATA_SIZE], c.dataSize);
        EXPECT_EQ(controls.texts[IDC_FULL_SIZE], c.fullSize);
        EXPECT_EQ(controls.texts[IDC_LENGTH], c.length);
        EXPECT_EQ(controls.texts[IDC_POSITION], c.positionText);
        EXPECT_EQ(controls.slider, c.slider);
        EXPECT_EQ(controls.texts[IDC_UNSAVED], c.unsaved);
    }
}

TEST_F(TransportViewTest, SliderTrackingMovesOnlyTheDisplayedPosition)
{
    OpenTwoSecondFile();
    view.UpdateControls();
    controls.slider = 150; // the user drags the thumb
    view.OnSliderChanged(5);
    EXPECT_EQ(controls.texts[IDC_POSITION], "1.5");
    EXPECT_EQ(document.position, 0u);
    EXPECT_EQ(controls.slider, 150) << "the thumb is not moved back while tracking";
}

TEST_F(TransportViewTest, SeekIsAlignedToWholeFramesAndNeverPastTheEnd)
{
    struct Case {
        int slider;
        DWORD size;
        WORD channels, bits;
        DWORD position;
    };
    const Case cases[] = {
        {100, 1001, 2, 16, 500},  // 500.5 truncated, already a whole frame
        {101, 1001, 2, 16, 508},  // 505.505 -> 505 -> 508
        {200, 1001, 2, 16, 1001}, // rounded up past the end: kept at the end
        {0, 1001, 2, 16, 0},
        {37, 99, 1, 8, 18},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.slider);
        OpenTwoSecondFile();
        document.fileFormat = PcmFormat(c.channels, 44100, c.bits);
        document.dataSize = c.size;
        controls.slider = c.slider;
        view.OnSliderChanged(TB_ENDTRACK);
        EXPECT_EQ(document.position, c.position);
        EXPECT_FALSE(view.m_bSliderTracking);
    }
}

TEST_F(TransportViewTest, ToStartAndStopInIdle)
{
    OpenTwoSecondFile();
    document.position = 1000;
    view.OnCommand(ID_TO_START);
    EXPECT_EQ(document.position, 0u);
    EXPECT_EQ(controls.slider, 0);
    EXPECT_FALSE(view.m_bCanToStart);

    view.m_bRecording = TRUE;
    view.m_bPaused = TRUE;
    view.OnCommand(ID_STOP);
    EXPECT_FALSE(view.m_bRecording);
    EXPECT_FALSE(view.m_bPaused);
    EXPECT_TRUE(view.m_bCanPlay);
}

TEST_F(TransportViewTest, SystemColourChangeReloadsTheImages)
{
    EXPECT_TRUE(view.WindowProc(WM_SYSCOLORCHANGE, 0, 0));
    EXPECT_EQ(controls.bitmapLoads, 1);
    EXPECT_EQ(controls.images.size(), 8u) << "buttons and lamps set afresh";
}

} // namespace
