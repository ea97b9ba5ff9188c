#include "ApplicationCore.h"

#include "CRegistryKey.h"
#include "Files.h"
#include "HandleTable.h"
#include "StringTable.h"
#include "TempCaptureFile.h"

#include <cstdlib>

namespace {

ApplicationCore* theApplication = nullptr;

std::string EnvironmentValue(const char* name)
{
    char value[32768];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value)
        return "";
    return std::string(value, length);
}

} // namespace

ApplicationCore& GetApplication()
{
    if (theApplication == nullptr)
        std::abort();
    return *theApplication;
}

void SetApplication(ApplicationCore* application) { theApplication = application; }

std::string CurrentDirectory()
{
    char folder[kMaxDirectoryLength + 1];
    DWORD length = GetCurrentDirectoryA(kMaxDirectoryLength, folder);
    if (length == 0 || length >= kMaxDirectoryLength)
        return "";
    return std::string(folder, length);
}

ApplicationCore::~ApplicationCore()
{
    if (theApplication == this)
        theApplication = nullptr;
}

std::string ApplicationCore::ProgramKeyPath() { return kProgramKeyPath; }

void ApplicationCore::LoadStdProfileSettings() { recentFiles.ReadList(ProgramKeyPath()); }

void ApplicationCore::InitCaptureAndSettings()
{
    // A run that was killed may have left the desktop's event sounds off; they come back before
    // anything else, this run's own switch-off included.
    GiveBackLeftoverEventSounds();

    settings.Load();
    CRecorderSettings loaded;
    loaded.CopyFrom(settings);

    std::string current = CurrentDirectory();
    if (current.empty())
        current = ".";
    if (settings.TmpDir.empty()) {
        settings.TmpDir = EnvironmentValue("TMP");
        if (settings.TmpDir.empty())
            settings.TmpDir = EnvironmentValue("TEMP");
        if (settings.TmpDir.empty())
            settings.TmpDir = current;
    }
    if (settings.DefDir.empty())
        settings.DefDir = current;
    if (settings.LastUsedDir.empty())
        settings.LastUsedDir = current;
    settings.Save(loaded);

    // The Open and Save As dialogs start in the current directory; a folder that cannot be
    // entered leaves it as it is.
    SetCurrentDirectoryA(settings.SaveDirType == 1 ? settings.LastUsedDir.c_str() : settings.DefDir.c_str());

    peakAreaUse = kInitialPeakAreaUse;
    monoText = LoadResourceString(IDS_MONO);
    stereoText = LoadResourceString(IDS_STEREO);
    pauseMenuText = LoadResourceString(IDS_PAUSE_MENU);
    continueMenuText = LoadResourceString(IDS_CONTINUE_MENU);
    unsavedText = LoadResourceString(IDS_UNSAVED_DATA);

    connection.OpenCaptureObjects();
    connection.workWindow = 0;
    connection.driverReply = 0;
    driverFound = connection.DetectCaptureDriver();
    captureReady = driverFound && connection.captureArea != nullptr && connection.captureMessage != 0 &&
                   connection.captureSemaphore != nullptr;

    tempFileHandle = INVALID_HANDLE_VALUE;
    if (captureReady)
        tempFileHandle = CreateTempCaptureFile(settings.TmpDir, &tempFileName);
    if (tempFileHandle != INVALID_HANDLE_VALUE)
        tempFile = std::make_unique<CFile>(tempFileHandle);

    sounds.soundsSuppressed = false;
    if (captureReady && settings.SysSounds == 0)
        SuppressSystemSounds(true, sounds);
}

bool ApplicationCore::NeedsSettingsAtStartUp() const { return captureReady && !TempFileOpen(); }

void ApplicationCore::AdoptTempFile(HANDLE handle, const std::string& name)
{
    tempFileHandle = handle;
    tempFile = std::make_unique<CFile>(handle);
    tempFileName = name;
}

void ApplicationCore::Shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    CRecorderSettings before;
    before.CopyFrom(settings);
    std::string current = CurrentDirectory();
    if (!current.empty())
        settings.LastUsedDir = current;
    settings.Save(before);

    connection.CloseCaptureObjects();

    if (tempFileHandle != INVALID_HANDLE_VALUE)
        CloseHandle(tempFileHandle);
    tempFileHandle = INVALID_HANDLE_VALUE;
    tempFile.reset();

    SuppressSystemSounds(false, sounds);
    recentFiles.WriteList(ProgramKeyPath());
}
