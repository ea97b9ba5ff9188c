// The recording engine over a real capture area, lock, capture message and temporary capture
// file: blocks are appended by the writer's own code and reach the view's window as capture
// messages, as they do from a player.
#include "CaptureArea.h"
#include "CaptureWriter.h"
#include "FakeViewControls.h"
#include "HandleTable.h"
#include "Semaphore.h"
#include "StringTable.h"
#include "TempCaptureFile.h"
#include "TestEnvironment.h"
#include "TransportView.h"
#include "WindowMessages.h"
#include "WaveTestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <signal.h>
#include <sys/stat.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

const FormatRecord kCd = PcmFormat(2, 44100, 16);
const FormatRecord kMono8 = PcmFormat(1, 8000, 8);

// Every byte differs from the one a frame earlier.
Bytes Sound(std::size_t length, BYTE seed)
{
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<BYTE>(seed + i * 7 + i / 3);
    return bytes;
}

Bytes Constant(std::size_t length, BYTE value) { return Bytes(length, value); }

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// An ALSA configuration in which `default` is the virtual device, so Record passes the check.
class PreferredDeviceConfiguration {
public:
    explicit PreferredDeviceConfiguration(const TestEnvironment& environment)
    {
        const std::string path = environment.Path("alsa.conf");
        WriteWholeFile(path, "pcm.waveharvester { type null }\npcm.default \"waveharvester\"\n");
        ::setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
    }
    ~PreferredDeviceConfiguration() { ::unsetenv("ALSA_CONFIG_PATH"); }
};

// One instance of the program as far as recording goes: its application object with the capture
// objects and a temporary capture file, a document, and the view's logic behind a real window
// that the capture messages reach.
struct Recorder {
    explicit Recorder(const std::string& folder) : view(application, controls)
    {
        application.connection.OpenCaptureObjects();
        application.captureReady = application.connection.captureArea != nullptr;
        std::string name;
        HANDLE file = CreateTempCaptureFile(folder, &name);
        if (file != INVALID_HANDLE_VALUE)
            application.AdoptTempFile(file, name);
        application.unsavedText = "You have unsaved data!";
        document.SetTitle("Untitled");
        document.OnNewDocument();
        view.SetDocument(&document);
        controls.window = CreateMessageWindow("WaveHarvester view", [this](HWND, UINT message, WPARAM w, LPARAM l) {
            view.WindowProc(message, w, l);
            return LRESULT{0};
        });
        view.OnInitialUpdate();
    }
    ~Recorder()
    {
        view.StopRecording();
        DestroyWindow(controls.window);
        if (application.tempFileHandle != INVALID_HANDLE_VALUE)
            CloseHandle(application.tempFileHandle);
        application.tempFileHandle = INVALID_HANDLE_VALUE;
        application.connection.CloseCaptureObjects();
    }
    bool Ready() const { return application.captureReady && application.TempFileOpen() && controls.window != 0; }

    BYTE* Area() const { return application.connection.captureArea; }
    CaptureAreaHeader& Header() const { return *CaptureArea::Header(Area()); }

    // A player's buffer through the writer: stored and notified while someone records.
    DWORD Play(DWORD streamId, const FormatRecord& format, const Bytes& samples) const
    {
        return CaptureWriter::Append(Area(), application.connection.captureSemaphore,
                                     application.connection.captureMessage, reinterpret_cast<const BYTE*>(&format),
                                     streamId, samples.data(), static_cast<DWORD>(samples.size()),
                                     [](const char*, DWORD) {});
    }
    // The capture messages waiting now reach the view.
    void Pump() const { DispatchPendingMessages(); }

    Bytes TempFile(std::size_t offset, std::size_t length) const
    {
        const std::string all = ReadWholeFile(application.tempFileName);
        if (offset >= all.size())
            return {};
        const std::string part = all.substr(offset, length);
        return Bytes(part.begin(), part.end());
    }
    Bytes Recording() const { return TempFile(document.segments[0].start, document.segments[0].size); }

    ApplicationCore application;
    CWaveHarvesterDoc document;
    FakeViewControls controls;
    TransportView view;
};

class RecordingEngineTest : public ::testing::Test {
protected:
    RecordingEngineTest() : alsa(environment) {}

    std::unique_ptr<Recorder> NewRecorder() { return std::make_unique<Recorder>(environment.Folder()); }

    TestEnvironment environment;
    PreferredDeviceConfiguration alsa;
};

// One step of a script: a player's buffer, or a transport command.
struct Step {
    enum Kind { play, pump, pause, stop } kind;
    DWORD stream = 0;
    FormatRecord format{};
    Bytes samples;
};
Step PlayStep(DWORD stream, const FormatRecord& format, Bytes samples)
{
    return Step{Step::play, stream, format, std::move(samples)};
}
const Step kPump{Step::pump, 0, {}, {}};
const Step kPause{Step::pause, 0, {}, {}};
const Step kStop{Step::stop, 0, {}, {}};

TEST_F(RecordingEngineTest, ScriptsOfBlocks)
{
    const Bytes a = Sound(4096, 1), b = Sound(4096, 50), c = Sound(2048, 99);
    const Bytes silence = Constant(4096, 0);
    struct Case {
        const char* name;
        std::vector<Step> steps;
        Bytes recording; // segment 0 in the temporary capture file
        bool modified;
        bool recording_; // still recording at the end
        std::vector<std::string> messages;
        DWORD position;
    };
    const std::string anotherFormat = LoadResourceString(IDS_ANOTHER_FORMAT);
    const Case cases[] = {
        {"first block at offset 0", {PlayStep(7, kCd, a), kPump}, a, true, true, {}, 0},
        {"several blocks of one stream, one drain", {PlayStep(7, kCd, a), PlayStep(7, kCd, b), kPump},
         Join({a, b}), true, true, {}, 0},
        {"silence is written but not modified", {PlayStep(1, kCd, silence), kPump}, silence, false, true, {}, 0},
        {"silence is discarded at a stream change",
         {PlayStep(1, kCd, silence), kPump, PlayStep(2, kCd, a), kPump}, a, true, true, {}, 0},
        {"second stream of the same format merges seamlessly",
         {PlayStep(1, kCd, a), kPump, PlayStep(2, kCd, Constant(1024, 3)), kPump, PlayStep(2, kCd, b), kPump},
         Join({a, Constant(1024, 3), b}), true, true, {}, 0},
        {"a silent second stream stays out at Stop",
         {PlayStep(1, kCd, a), PlayStep(2, kCd, silence), kPump, kStop}, a, true, false, {}, 0},
        {"a silent second format is no error",
         {PlayStep(1, kCd, a), kPump, PlayStep(2, kMono8, Constant(800, 0x80)), kPump,
          PlayStep(3, kMono8, Constant(800, 0x80)), kPump, kStop},
         a, true, false, {}, 0},
        {"a sounding second format stops the recording",
         {PlayStep(1, kCd, a), kPump, PlayStep(2, kMono8, Constant(800, 0x80)), PlayStep(2, kMono8, Sound(800, 9)),
          PlayStep(2, kMono8, Sound(800, 9)), kPump},
         a, true, false, {anotherFormat}, 0},
        {"paused stretch is missing", {PlayStep(1, kCd, a), kPump, kPause, PlayStep(1, kCd, b), kPump, kPause,
                                       PlayStep(1, kCd, c), kPump},
         Join({a, c}), true, true, {}, 0},
        {"a format change while paused still stops",
         {PlayStep(1, kCd, a), kPump, kPause, PlayStep(2, kMono8, Sound(800, 9)), kPump}, a, true, false,
         {anotherFormat}, 0},
        {"blocks queued at Stop are discarded",
         {PlayStep(1, kCd, a), kPump, PlayStep(1, kCd, b), PlayStep(1, kCd, c), kStop, kPump}, a, true, false, {},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        environment.ClearMessages();
        auto recorder = NewRecorder();
        ASSERT_TRUE(recorder->Ready());
        recorder->view.OnRecord();
        ASSERT_TRUE(recorder->view.m_bRecording);
        ASSERT_TRUE(recorder->application.capturing);
        EXPECT_EQ(recorder->document.GetTitle(), "Untitled");
        for (const Step& step : c.steps) {
            switch (step.kind) {
            case Step::play: EXPECT_EQ(recorder->Play(step.stream, step.format, step.samples), 1u); break;
            case Step::pump: recorder->Pump(); break;
            case Step::pause: recorder->view.OnCommand(ID_PAUSE); break;
            case Step::stop: recorder->view.OnCommand(ID_STOP); break;
            }
        }
        const Segment& first = recorder->document.segments[0];
        EXPECT_EQ(first.start, 0u);
        EXPECT_EQ(first.size, c.recording.size());
        EXPECT_TRUE(recorder->Recording() == c.recording) << "the recorded bytes differ";
        EXPECT_EQ(std::memcmp(&first.format, &kCd, sizeof kCd), 0);
        EXPECT_EQ(recorder->document.IsModified(), c.modified);
        EXPECT_EQ(recorder->document.GetTitle(), c.modified ? "Untitled *" : "Untitled");
        EXPECT_EQ(recorder->view.m_bRecording, c.recording_);
        EXPECT_EQ(recorder->application.capturing, c.recording_);
        EXPECT_EQ(recorder->Header().recordingEnabled, c.recording_ ? 1 : 0);
        EXPECT_EQ(recorder->Header().blockCount, 0u) << "every block is taken out";
        EXPECT_EQ(environment.Messages(), c.messages);
        // While recording the position is the recorded size; a stopped recording is at 0.
        EXPECT_EQ(recorder->document.position, c.recording_ ? first.size : 0u);
        if (c.recording_) {
            EXPECT_EQ(recorder->controls.texts[IDC_STATUS], "Recording");
            EXPECT_EQ(recorder->controls.texts[IDC_UNSAVED], c.modified ? "You have unsaved data!" : "");
            EXPECT_EQ(recorder->controls.slider, c.modified ? 200 : 0);
        } else {
            EXPECT_EQ(recorder->controls.texts[IDC_STATUS], "");
            EXPECT_TRUE(recorder->controls.enabled[IDC_RECORD]);
        }
        EXPECT_GE(recorder->application.peakAreaUse, static_cast<std::int32_t>(56 + 36 + 2048));
    }
}

// 8-bit mono: each byte is a frame, so a block's first byte is compared with the first byte of
// the block before, and only when the segment already holds a byte.
TEST_F(RecordingEngineTest, EightBitMonoDetectionAcrossBlocks)
{
    struct Case {
        const char* name;
        std::vector<std::pair<DWORD, Bytes>> blocks; // stream, samples
        bool hasSound;
    };
    const Case cases[] = {
        {"constant blocks", {{1, Constant(100, 0x80)}, {1, Constant(100, 0x80)}}, false},
        {"a block of another constant", {{1, Constant(100, 0x80)}, {1, Constant(100, 0x81)}}, true},
        {"one-byte blocks that change", {{1, {0x80}}, {1, {0x80}}, {1, {0x7F}}}, true},
        {"one-byte blocks that stay", {{1, {0x80}}, {1, {0x80}}, {1, {0x80}}}, false},
        {"a change inside a block", {{1, Join({Constant(99, 0x80), {0x90}})}}, true},
        {"another constant after a stream change", {{1, Constant(100, 0x80)}, {2, Constant(100, 0x81)}}, false},
        {"the first byte of a recording has nothing to compare with", {{1, {0x10}}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto recorder = NewRecorder();
        recorder->view.OnRecord();
        for (const auto& [stream, samples] : c.blocks) {
            ASSERT_EQ(recorder->Play(stream, kMono8, samples), 1u);
            recorder->Pump(); // one drain per block, so each block meets the one before it
        }
        EXPECT_EQ(recorder->document.segments[0].hasSound, c.hasSound);
        EXPECT_EQ(recorder->document.IsModified(), c.hasSound);
        EXPECT_EQ(recorder->document.segments[0].firstFrame[0], c.blocks.back().second[0]);
    }
}

TEST_F(RecordingEngineTest, NextRecordingOverwritesFromOffsetZero)
{
    auto recorder = NewRecorder();
    const Bytes first = Sound(8192, 3), second = Sound(4096, 77);
    recorder->view.OnRecord();
    recorder->Play(1, kCd, first);
    recorder->Pump();
    recorder->view.OnStop();
    recorder->view.OnRecord();
    EXPECT_FALSE(recorder->document.IsModified()) << "Record clears the flag";
    recorder->Play(2, kCd, second);
    recorder->Pump();
    EXPECT_EQ(recorder->document.segments[0].size, 4096u);
    EXPECT_TRUE(recorder->TempFile(0, 8192) == Join({second, Bytes(first.begin() + 4096, first.end())}));
}

TEST_F(RecordingEngineTest, BlockLinkedAfterTheFinalDrainIsTakenButNotStored)
{
    auto recorder = NewRecorder();
    const Bytes a = Sound(4096, 1);
    recorder->view.OnRecord();
    recorder->Play(1, kCd, a);
    recorder->Pump();
    recorder->view.OnStop();
    // A writer that had passed its test of recordingEnabled before the stop links its block now.
    {
        HANDLE lock = recorder->application.connection.captureSemaphore;
        WaitForSingleObject(lock, INFINITE);
        const DWORD offset = CaptureArea::Allocate(recorder->Area(), 4096);
        ASSERT_NE(offset, 0u);
        std::memcpy(recorder->Area() + offset + offsetof(CaptureBlock, format), &kCd, sizeof kCd);
        CaptureArea::Store32(recorder->Area(), offset + offsetof(CaptureBlock, streamId), 9);
        CaptureArea::Store32(recorder->Area(), offset + offsetof(CaptureBlock, length), 4096);
        const Bytes late = Sound(4096, 200);
        std::memcpy(recorder->Area() + offset + kBlockHeadSize, late.data(), late.size());
        ReleaseSemaphore(lock, 1, nullptr);
    }
    PostMessageA(recorder->controls.window, recorder->application.connection.captureMessage, 0, 0);
    recorder->Pump();
    EXPECT_EQ(recorder->Header().blockCount, 0u);
    EXPECT_EQ(recorder->document.segments[0].size, 4096u);
    EXPECT_TRUE(recorder->Recording() == a);
    EXPECT_TRUE(recorder->document.IsModified());
}

TEST_F(RecordingEngineTest, SizeLimitStopsAndKeepsTheRecording)
{
    struct Case {
        const char* name;
        std::vector<DWORD> streams; // one 4096-byte sounding block each
        DWORD limit;
        DWORD kept;
    };
    const Case cases[] = {
        {"segment 0 reaches the limit", {1, 1, 1}, 10000, 8192},
        {"a merged second stream counts", {1, 2, 3}, 10000, 8192},
        {"exactly at the limit is allowed", {1, 1, 1}, 12288, 12288},
    };
    const std::string limitText = LoadResourceString(IDS_WAVE_SIZE_LIMIT);
    ASSERT_NE(limitText.find("largest size of a wave file"), std::string::npos);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        environment.ClearMessages();
        auto recorder = NewRecorder();
        recorder->view.m_recording.m_sizeLimit = c.limit;
        recorder->view.OnRecord();
        BYTE seed = 1;
        for (DWORD stream : c.streams)
            recorder->Play(stream, kCd, Sound(4096, seed += 40));
        recorder->Pump();
        EXPECT_EQ(recorder->document.segments[0].size, c.kept);
        EXPECT_TRUE(recorder->document.IsModified()) << "what was stored is kept";
        const bool stopped = c.kept < c.streams.size() * 4096;
        EXPECT_EQ(recorder->view.m_bRecording, !stopped);
        EXPECT_EQ(environment.Messages(), stopped ? std::vector<std::string>{limitText} : std::vector<std::string>{});
    }
    EXPECT_EQ(kLargestWaveDataSize, 4294967258u);
    EXPECT_EQ(kLargestWaveDataSize % 2, 0u);
    EXPECT_LE(36ull + kLargestWaveDataSize, 0xFFFFFFFFull) << "the RIFF size still fits";
}

TEST_F(RecordingEngineTest, WriteErrorGivesTheRecordingUp)
{
    // The file size limit applies to the child only; the write that passes it fails with EFBIG.
    pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        {
            auto recorder = NewRecorder();
            rlimit limit{8192, RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            recorder->view.OnRecord();
            for (BYTE i = 0; i < 4; ++i)
                recorder->Play(1, kCd, Sound(4096, static_cast<BYTE>(i * 30)));
            recorder->Pump();
            const std::vector<std::string> messages = environment.Messages();
            const bool ok = messages.size() == 1 &&
                            messages[0].find(recorder->application.tempFileName) != std::string::npos &&
                            !recorder->view.m_bRecording && !recorder->application.capturing &&
                            recorder->Header().recordingEnabled == 0 && recorder->Header().blockCount == 0 &&
                            recorder->view.m_recording.m_bFileError && !recorder->document.IsModified() &&
                            recorder->document.GetTitle() == "Untitled" &&
                            recorder->document.segments[0].size == 8192 && recorder->document.position == 0;
            if (!ok)
                std::fprintf(stderr, "messages: %zu, first: %s\n", messages.size(),
                             messages.empty() ? "" : messages[0].c_str());
            ::_exit(ok ? 0 : 1);
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(RecordingEngineTest, AnotherInstanceRecording)
{
    auto first = NewRecorder();
    auto second = NewRecorder();
    first->view.OnRecord();
    ASSERT_TRUE(first->view.m_bRecording);
    const CaptureAreaHeader before = first->Header();
    second->document.SetModifiedFlag(TRUE);
    second->view.OnRecord();
    EXPECT_EQ(environment.Messages(), std::vector<std::string>{LoadResourceString(IDS_ANOTHER_INSTANCE_WRITING)});
    EXPECT_FALSE(second->view.m_bRecording);
    EXPECT_FALSE(second->application.capturing);
    EXPECT_TRUE(second->document.IsModified()) << "the refused instance keeps its state";
    EXPECT_EQ(std::memcmp(&before, &first->Header(), sizeof before), 0);
    EXPECT_EQ(first->Header().ownerWindow, first->controls.window);
}

TEST_F(RecordingEngineTest, ClaimOfARecorderThatIsGoneIsTaken)
{
    auto recorder = NewRecorder(); // keeps the area alive, as a player would
    pid_t child = ::fork();
    if (child == 0) {
        auto gone = NewRecorder();
        gone->view.OnRecord();
        ::_exit(gone->view.m_bRecording ? 0 : 1); // ends without stopping
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(recorder->Header().recordingEnabled, 1);
    ASSERT_NE(recorder->Header().ownerWindow, recorder->controls.window);

    recorder->view.OnRecord();
    EXPECT_TRUE(environment.Messages().empty());
    EXPECT_TRUE(recorder->view.m_bRecording);
    EXPECT_EQ(recorder->Header().ownerWindow, recorder->controls.window);
    const Bytes a = Sound(4096, 5);
    EXPECT_EQ(recorder->Play(1, kCd, a), 1u);
    recorder->Pump();
    EXPECT_TRUE(recorder->Recording() == a);
}

TEST_F(RecordingEngineTest, LostSecondsShownUntilTheNextRecord)
{
    auto recorder = NewRecorder();
    recorder->view.OnRecord();
    // Without draining, the area fills and the writer counts what it refuses.
    const Bytes a = Sound(176400, 1); // one second of CD sound
    int refused = 0;
    for (int i = 0; i < 14; ++i)
        refused += recorder->Play(1, kCd, a) == 2;
    ASSERT_EQ(refused, 3);
    recorder->Pump();
    EXPECT_EQ(recorder->controls.texts[IDC_LOST_SECONDS], "3.0 sec.lost");
    EXPECT_EQ(recorder->document.segments[0].size, 11u * 176400);
    recorder->view.OnStop();
    EXPECT_EQ(recorder->controls.texts[IDC_LOST_SECONDS], "3.0 sec.lost");
    recorder->view.OnRecord();
    EXPECT_EQ(recorder->controls.texts[IDC_LOST_SECONDS], "");
}

TEST_F(RecordingEngineTest, RecordWithoutThePreferredDeviceStartsNothing)
{
    WriteWholeFile(environment.Path("alsa.conf"), "pcm.waveharvester { type null }\npcm.hw0 { type null }\n"
                                                  "pcm.default \"hw0\"\n");
    const std::string marker = environment.Path("chooser-started");
    const std::string chooser = environment.Path("chooser.sh");
    WriteWholeFile(chooser, "#!/bin/sh\necho \"$@\" > " + marker + "\n");
    ::chmod(chooser.c_str(), 0755);
    ::setenv("WAVEHARVESTER_DEVICE_CHOOSER", chooser.c_str(), 1);
    auto recorder = NewRecorder();
    recorder->view.OnRecord();
    ::unsetenv("WAVEHARVESTER_DEVICE_CHOOSER");
    EXPECT_FALSE(recorder->view.m_bRecording);
    EXPECT_FALSE(recorder->application.capturing);
    EXPECT_EQ(recorder->Header().recordingEnabled, 0);
    EXPECT_EQ(environment.Messages(),
              std::vector<std::string>{FormatResourceString(IDS_SET_PREFERRED_DEVICE, "Playback through WaveHarvester")});
    for (int i = 0; i < 200 && !FileExists(marker); ++i)
        ::usleep(10000);
    EXPECT_EQ(ReadWholeFile(marker), "--choose\n");
}

} // namespace
