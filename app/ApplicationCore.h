// Everything that lives as long as the program: the settings, the capture connection and the
// mapped capture area, the temporary capture file, the switched-off system sounds, the recent
// files and the interface texts the view uses. The start-up and shutdown steps that do not need
// the window run here, in their fixed order; the wx application object owns the one instance
// and runs the window steps around them. Used on the user-interface thread only.
#pragma once

#include "CFile.h"
#include "CRecorderSettings.h"
#include "CaptureConnection.h"
#include "RecentFileList.h"
#include "SystemSoundSuppression.h"
#include "Win32Types.h"

#include <cstdint>
#include <memory>
#include <string>

constexpr const char* kRegistryCompanyName = "Kestrelworks";
constexpr std::int32_t kInitialPeakAreaUse = 56;
constexpr DWORD kMaxDirectoryLength = 260;

class ApplicationCore {
public:
    ApplicationCore() = default;
    ~ApplicationCore();
    ApplicationCore(const ApplicationCore&) = delete;
    ApplicationCore& operator=(const ApplicationCore&) = delete;

    // The framework's profile settings: the recent-file list of five entries.
    void LoadStdProfileSettings();
    // The desktop event sounds a killed run left off, then settings and defaults, the current
    // directory, the capture objects and the driver, the temporary capture file, the system
    // sounds.
    void InitCaptureAndSettings();
    // When the driver works but no temporary capture file could be made, the settings dialog
    // must open at once.
    bool NeedsSettingsAtStartUp() const;
    // Records the current directory as the last used folder, releases the capture area and the
    // temporary capture file, restores the system sounds and writes the recent-file list.
    void Shutdown();

    // The full key path of the program's values below HKEY_CURRENT_USER.
    static std::string ProgramKeyPath();

    bool TempFileOpen() const { return tempFileHandle != INVALID_HANDLE_VALUE; }
    // Takes a newly created temporary capture file as the program's own.
    void AdoptTempFile(HANDLE handle, const std::string& name);

    CRecorderSettings settings;
    bool driverFound = false;
    bool captureReady = false;
    CaptureConnection connection; // captureMapping, captureArea, captureMessage, captureSemaphore, workWindow, driverReply
    bool capturing = false;
    SystemSoundsState sounds; // soundsSuppressed, suppressedSounds, the desktop switch's record
    HANDLE tempFileHandle = INVALID_HANDLE_VALUE;
    std::unique_ptr<CFile> tempFile;
    std::string tempFileName;
    std::int32_t peakAreaUse = kInitialPeakAreaUse;
    std::string monoText;
    std::string stereoText;
    std::string pauseMenuText;
    std::string continueMenuText;
    std::string unsavedText;
    RecentFileList recentFiles;

private:
    bool m_shutDown = false;
};

// The one application object of the program (set by whoever created it).
ApplicationCore& GetApplication();
void SetApplication(ApplicationCore* application);

// The current directory, at most 260 characters; empty when it cannot be read.
std::string CurrentDirectory();
