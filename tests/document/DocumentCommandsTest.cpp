#include "CWaveHarvesterDoc.h"
#include "DocumentCommands.h"
#include "CRegistryKey.h"
#include "Files.h"
#include "ResourceIds.h"
#include "RecentFileList.h"
#include "TestEnvironment.h"
#include "WavHeader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <cstring>
#include <deque>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Dialogs that return what the test queued; an empty queue cancels.
class FakeDialogs : public DocumentDialogs {
public:
    bool PromptOpenFileName(std::string& path) override { return Next(path); }
    bool PromptSaveFileName(std::string& path) override
    {
        proposed.push_back(path);
        return Next(path);
    }
    bool Next(std::string& path)
    {
        ++shown;
        if (answers.empty())
            return false;
        path = answers.front();
        answers.pop_front();
        return true;
    }
    std::deque<std::string> answers;
    std::vector<std::string> proposed;
    int shown = 0;
};

// A view that counts what the document asked of it.
class CountingView : public DocumentView {
public:
    void StopPlayback() override { ++stops; }
    void StopRecording() override { ++stops; }
    void UpdateControls() override { ++updates; }
    void OnInitialUpdate() override { ++initialUpdates; }
    int stops = 0, updates = 0, initialUpdates = 0;
};

std::string WaveBytes(WORD tag, WORD channels, DWORD rate, WORD bits, const std::string& samples)
{
    FormatRecord format{};
    format.wFormatTag = tag;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    WavHeader header = MakeWavHeader(format, static_cast<DWORD>(samples.size()));
    return std::string(reinterpret_cast<const char*>(&header), sizeof header) + samples;
}

class DocumentCommandsTest : public ::testing::Test {
protected:
    DocumentCommandsTest() : commands(document, dialogs, recent)
    {
        answers = environment.Path("answers.txt");
        ::setenv("WAVEHARVESTER_PROMPT_ANSWERS", answers.c_str(), 1);
        WriteWholeFile(answers, "");
        document.view = &view;
        document.SetRecentFileList(&recent);
        document.SetCaptureFileSource([this] { return capture.get(); });
        commands.NewDocument();
        good = environment.Path("good.wav");
        WriteWholeFile(good, WaveBytes(1, 2, 44100, 16, std::string(4000, '\x11')));
    }
    ~DocumentCommandsTest() override { ::unsetenv("WAVEHARVESTER_PROMPT_ANSWERS"); }

    // The document holds an unsaved recording of the given samples.
    void Record(const std::string& samples)
    {
        const std::string path = environment.Path("capture.tmp");
        WriteWholeFile(path, "xxxx" + samples);
        capture = std::make_unique<CFile>(path, CFile::modeReadWrite);
        document.segments[0].start = 4;
        document.segments[0].size = static_cast<DWORD>(samples.size());
        document.segments[0].format.wFormatTag = 1;
        document.segments[0].format.nChannels = 1;
        document.segments[0].format.nSamplesPerSec = 8000;
        document.segments[0].format.nAvgBytesPerSec = 8000;
        document.segments[0].format.nBlockAlign = 1;
        document.segments[0].format.wBitsPerSample = 8;
        document.segments[0].hasSound = TRUE;
        document.SetModifiedFlag(TRUE);
        document.UpdateTitleMarker();
    }

    void Answer(const std::string& lines) { WriteWholeFile(answers, lines); }

    std::vector<std::string> FolderEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(environment.Folder()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TestEnvironment environment;
    std::string answers;
    std::string good;
    CWaveHarvesterDoc document;
    FakeDialogs dialogs;
    RecentFileList recent;
    CountingView view;
    DocumentCommands commands;
    std::unique_ptr<CFile> capture;
};

TEST_F(DocumentCommandsTest, TitleCaptionAndMarker)
{
    EXPECT_EQ(document.GetTitle(), "Untitled");
    EXPECT_EQ(FrameCaption(document.GetTitle()), "WaveHarvester - Untitled");
    Record("abc");
    EXPECT_EQ(FrameCaption(document.GetTitle()), "WaveHarvester - Untitled *");
    document.UpdateTitleMarker();
    EXPECT_EQ(document.GetTitle(), "Untitled *") << "the marker is added once";
    document.SetModifiedFlag(FALSE);
    document.UpdateTitleMarker();
    EXPECT_EQ(document.GetTitle(), "Untitled");

    ASSERT_EQ(::chdir(environment.Folder().c_str()), 0);
    ASSERT_EQ(commands.OpenDocumentFile("./sub/../good.wav"), DocumentCommands::OpenResult::opened);
    EXPECT_EQ(document.GetPathName(), good);
    EXPECT_EQ(document.GetTitle(), good) << "the title is the whole path";
    EXPECT_EQ(FrameCaption(document.GetTitle()), "WaveHarvester - " + good);
}

TEST_F(DocumentCommandsTest, SaveAsProposesTheTitleCutAtTheFirstDubiousCharacter)
{
    struct Case {
        const char* title;
        const char* proposed;
    };
    const Case cases[] = {
        {"Untitled *", "Untitled.WAV"}, {"Untitled", "Untitled.WAV"}, {"take#2", "take.WAV"},
        {"50%", "50.WAV"},              {"a;b", "a.WAV"},             {"dir/name", "dir.WAV"},
        {"dir\\name", "dir.WAV"},       {"two words", "two.WAV"},     {"", ".WAV"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DocumentCommands::ProposedName(c.title), c.proposed) << c.title;

    Record("abc");
    dialogs.answers.clear();
    EXPECT_FALSE(commands.OnFileSave()) << "cancelled";
    ASSERT_EQ(dialogs.proposed.size(), 1u);
    EXPECT_EQ(dialogs.proposed[0], "Untitled.WAV");
    EXPECT_EQ(WithDefaultExtension("/a/b/take"), "/a/b/take.WAV");
    EXPECT_EQ(WithDefaultExtension("/a/b.c/take.wav"), "/a/b.c/take.wav");
    EXPECT_EQ(WithDefaultExtension("/a/b.c/take"), "/a/b.c/take.WAV");
}

TEST_F(DocumentCommandsTest, OpenRefusesFilesThatAreNotPcmWaveFiles)
{
    struct Case {
        const char* name;
        std::string bytes;
        const char* message; // %s is the path
    };
    const Case cases[] = {
        {"empty.wav", "", "The file \"%s\" hasn't a valid wave format."},
        {"text.wav", "this is not a wave file at all", "The file \"%s\" hasn't a valid wave format."},
        {"float.wav", WaveBytes(3, 2, 44100, 32, std::string(64, '\0')),
         "The file \"%s\" has an unsupported wave format (PCM only is suppodted)."},
        {"adpcm.wav", WaveBytes(2, 1, 8000, 4, std::string(64, '\0')),
         "The file \"%s\" has an unsupported wave format (PCM only is suppodted)."},
    };
    ASSERT_EQ(commands.OpenDocumentFile(good), DocumentCommands::OpenResult::opened);
    const DWORD size = document.dataSize;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        environment.ClearMessages();
        const std::string path = environment.Path(c.name);
        WriteWholeFile(path, c.bytes);
        EXPECT_EQ(commands.OpenDocumentFile(path), DocumentCommands::OpenResult::failed);
        char expected[1024];
        std::snprintf(expected, sizeof expected, c.message, path.c_str());
        EXPECT_EQ(environment.Messages(), std::vector<std::string>{expected});
        // The previous document stays as it was.
        EXPECT_EQ(document.GetPathName(), good);
        EXPECT_EQ(document.GetTitle(), good);
        EXPECT_EQ(document.dataSize, size);
        EXPECT_FALSE(document.IsModified());
    }
    EXPECT_EQ(recent.Entries(), std::vector<std::string>{good}) << "failed opens are not listed";
}

TEST_F(DocumentCommandsTest, OpeningTheDocumentsOwnFileDoesNothing)
{
    ASSERT_EQ(commands.OpenDocumentFile(good), DocumentCommands::OpenResult::opened);
    Record("abc");
    std::string upper = good;
    for (char& ch : upper)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (const std::string& path : {good, upper}) {
        environment.ClearMessages();
        const int stops = view.stops;
        EXPECT_EQ(commands.OpenDocumentFile(path), DocumentCommands::OpenResult::alreadyOpen);
        EXPECT_TRUE(environment.Messages().empty()) << "no question";
        EXPECT_EQ(view.stops, stops) << "nothing stopped";
        EXPECT_TRUE(document.IsModified()) << "the recording remains";
    }
}

TEST_F(DocumentCommandsTest, LeavingAnUnsavedRecordingAsksFirst)
{
    struct Case {
        const char* name;
        const char* answer; // "" = no scripted answer: the box keeps the data
        bool newDocument;   // New, else Open of the good file
        bool recordingKept;
    };
    const Case cases[] = {
        {"New, Cancel", "Cancel\n", true, true},  {"New, No", "No\n", true, false},
        {"Open, Cancel", "Cancel\n", false, true}, {"Open, No", "No\n", false, false},
        {"New, unanswered", "", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        commands.NewDocument();
        Record("recorded");
        environment.ClearMessages();
        Answer(c.answer);
        if (c.newDocument) {
            commands.OnFileNew();
        } else {
            dialogs.answers = {good};
            commands.OnFileOpen();
        }
        EXPECT_EQ(environment.Messages(), std::vector<std::string>{"Save changes to Untitled *?"});
        EXPECT_EQ(document.IsModified(), c.recordingKept);
        EXPECT_EQ(document.GetTitle(), c.recordingKept ? "Untitled *" : (c.newDocument ? "Untitled" : good));
    }
}

TEST_F(DocumentCommandsTest, YesSavesBeforeLeavingAndNamesTheFileInTheQuestion)
{
    ASSERT_EQ(commands.OpenDocumentFile(good), DocumentCommands::OpenResult::opened);
    Record("recorded sound");
    environment.ClearMessages();
    Answer("Yes\n");
    commands.OnFileNew();
    EXPECT_EQ(environment.Messages(), std::vector<std::string>{"Save changes to good.wav?"});
    EXPECT_EQ(ReadWholeFile(good), WaveBytes(1, 1, 8000, 8, "recorded sound"))
        << "the recording replaced the opened file without a dialog";
    EXPECT_EQ(dialogs.shown, 0);
    EXPECT_EQ(document.GetTitle(), "Untitled");
}

TEST_F(DocumentCommandsTest, SavingARecordingDescribesTheNewFile)
{
    Record(std::string("\x01\x02\x03", 3)); // odd size: no pad byte
    const std::string target = environment.Path("take");
    dialogs.answers = {WithDefaultExtension(target)};
    ASSERT_TRUE(commands.OnFileSave());
    const std::string saved = target + ".WAV";
    EXPECT_EQ(ReadWholeFile(saved), WaveBytes(1, 1, 8000, 8, std::string("\x01\x02\x03", 3)));
    EXPECT_EQ(document.GetTitle(), saved);
    EXPECT_FALSE(document.IsModified());
    EXPECT_EQ(document.dataOffset, 44u);
    EXPECT_EQ(document.dataSize, 3u);
    EXPECT_EQ(document.fileSize, 47u);
    EXPECT_EQ(recent.Entries().front(), saved);
}

TEST_F(DocumentCommandsTest, SaveAsOfAnOpenedFileIsAnExactCopyAlsoOntoItself)
{
    // Chunks the reader skips are copied too.
    std::string bytes = WaveBytes(1, 2, 44100, 16, std::string(400, '\x22'));
    bytes += "LIST";
    bytes += std::string("\x04\x00\x00\x00" "abcd", 8);
    WriteWholeFile(good, bytes);
    ASSERT_EQ(commands.OpenDocumentFile(good), DocumentCommands::OpenResult::opened);
    const std::string copy = environment.Path("copy.wav");
    dialogs.answers = {copy};
    ASSERT_TRUE(commands.OnFileSaveAs());
    EXPECT_EQ(ReadWholeFile(copy), bytes);
    EXPECT_EQ(document.GetPathName(), copy);

    dialogs.answers = {copy};
    ASSERT_TRUE(commands.OnFileSaveAs());
    EXPECT_EQ(ReadWholeFile(copy), bytes) << "saved onto itself";
    EXPECT_FALSE(document.IsModified());
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"answers.txt", "copy.wav", "good.wav"}))
        << "no temporary file left";
}

TEST_F(DocumentCommandsTest, ReplacedFileKeepsItsPermissionBits)
{
    Record("new sound");
    WriteWholeFile(environment.Path("old.wav"), "old bytes");
    ASSERT_EQ(::chmod(environment.Path("old.wav").c_str(), 0640), 0);
    dialogs.answers = {environment.Path("old.wav")};
    ASSERT_TRUE(commands.OnFileSaveAs());
    struct stat info;
    ASSERT_EQ(::stat(environment.Path("old.wav").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadWholeFile(environment.Path("old.wav")), WaveBytes(1, 1, 8000, 8, "new sound"));
}

// Runs a save in a child process (with its own limits) and returns its exit status.
template <typename Setup>
int SaveInChild(DocumentCommands& commands, const std::string& target, FakeDialogs& dialogs, Setup setup)
{
    pid_t child = ::fork();
    if (child == 0) {
        setup();
        dialogs.answers = {target};
        ::_exit(commands.OnFileSaveAs() ? 0 : 3);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST_F(DocumentCommandsTest, AFailedSaveLeavesTheOldFileAndTheDocument)
{
    struct Case {
        const char* name;
        std::function<void()> limit;
        const char* message;
    };
    const std::string folder = environment.Path("locked");
    const Case cases[] = {
        {"file size limit part-way",
         [] {
             ::signal(SIGXFSZ, SIG_IGN);
             rlimit limit{20000, 20000};
             ::setrlimit(RLIMIT_FSIZE, &limit);
         },
         "Failed to save document."},
        {"read-only folder, another user",
         [] {
             if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                 ::_exit(99);
         },
         "Unable to write to %s, it is read-only or opened by someone else."},
    };
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::string target = folder + "/old.wav";
    const std::string old = WaveBytes(1, 1, 8000, 8, "the old file");
    Record(std::string(100000, '\x05'));
    const std::string title = document.GetTitle();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteWholeFile(target, old);
        ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
        environment.ClearMessages();
        // The child of another user must be able to log its box.
        ::chmod(environment.Folder().c_str(), 0755);
        WriteWholeFile(environment.MessageLogPath(), "");
        ::chmod(environment.MessageLogPath().c_str(), 0666);
        EXPECT_EQ(SaveInChild(commands, target, dialogs, c.limit), 3);
        EXPECT_EQ(ReadWholeFile(target), old);
        char expected[1024];
        std::snprintf(expected, sizeof expected, c.message, target.c_str());
        EXPECT_EQ(environment.Messages(), std::vector<std::string>{expected});
        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            left.push_back(entry.path().filename().string());
        EXPECT_EQ(left, std::vector<std::string>{"old.wav"}) << "no temporary file behind";
    }
    // The parent's document was never touched by the children; a failed save in this process
    // keeps its flag and path too.
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    dialogs.answers = {environment.Path("missing-folder/x.wav")};
    EXPECT_FALSE(commands.OnFileSaveAs());
    EXPECT_TRUE(document.IsModified());
    EXPECT_EQ(document.GetTitle(), title);
    EXPECT_EQ(document.GetPathName(), "");
    ::chmod(folder.c_str(), 0755);
}

TEST_F(DocumentCommandsTest, RecentFileList)
{
    RecentFileList list;
    for (const char* path : {"/a/1.wav", "/a/2.wav", "/a/3.wav", "/a/4.wav", "/a/5.wav", "/a/6.wav", "/A/3.WAV"})
        list.Add(path);
    EXPECT_EQ(list.Entries(),
              (std::vector<std::string>{"/A/3.WAV", "/a/6.wav", "/a/5.wav", "/a/4.wav", "/a/2.wav"}))
        << "newest first, five at most, one entry per path whatever its letter case";

    list.WriteList(kProgramKeyPath);
    RecentFileList read;
    read.ReadList(kProgramKeyPath);
    EXPECT_EQ(read.Entries(), list.Entries());
    const std::string registry = ReadWholeFile(environment.RegistryPath());
    EXPECT_NE(registry.find("[HKEY_CURRENT_USER\\Software\\Kestrelworks\\WaveHarvester\\Recent File List]"),
              std::string::npos);
    EXPECT_NE(registry.find("\"File1\"=\"/A/3.WAV\""), std::string::npos);
    EXPECT_NE(registry.find("\"File5\"=\"/a/2.wav\""), std::string::npos);

    list.Remove(0);
    list.Remove(0);
    list.WriteList(kProgramKeyPath);
    const std::string shorter = ReadWholeFile(environment.RegistryPath());
    EXPECT_EQ(shorter.find("\"File4\""), std::string::npos) << "emptied places are deleted";
    EXPECT_NE(shorter.find("\"File3\"=\"/a/2.wav\""), std::string::npos);
}

TEST_F(DocumentCommandsTest, ARecentFileThatFailsToOpenIsRemoved)
{
    const std::string gone = environment.Path("gone.wav");
    recent.Add(gone);
    recent.Add(good);
    ASSERT_TRUE(commands.OnCommand(ID_FILE_MRU_FILE1 + 1));
    EXPECT_EQ(recent.Entries(), std::vector<std::string>{good});
    ASSERT_TRUE(commands.OnCommand(ID_FILE_MRU_FILE1));
    EXPECT_EQ(document.GetPathName(), good);
    EXPECT_EQ(recent.Entries(), std::vector<std::string>{good});
}

} // namespace
