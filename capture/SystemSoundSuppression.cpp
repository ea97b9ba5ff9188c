#include "SystemSoundSuppression.h"

#include "CFile.h"
#include "DesktopEventSounds.h"
#include "ErrorReporting.h"
#include "Files.h"
#include "HandleTable.h"
#include "LastError.h"
#include "Registry.h"
#include "StringTable.h"
#include "UserPaths.h"

#include <cstring>
#include <string_view>

namespace {

constexpr const char* kAppsKeyPath = "AppEvents\\Schemes\\Apps";
constexpr DWORD kNameLength = 260;
constexpr DWORD kValueLength = 260;

constexpr const char* kEventSoundsRecordName = "event-sounds.record";
// The earlier value of the switch; only a switch that was on is ever turned off.
constexpr std::string_view kEventSoundsRecordText = "event-sounds=true\n";
// Enough to tell the record's text from anything longer.
constexpr UINT kEventSoundsRecordReadLength = 64;

void Report(LONG error, const char* call, const std::string& keyPath)
{
    ReportSystemError(static_cast<DWORD>(error),
                      std::string(call) + " HKEY_CURRENT_USER\\" + keyPath);
}

// Empties the current sound of one event and records its old text.
void SuppressEvent(HKEY appsKey, const std::string& relativePath, SystemSoundsState& state)
{
    const std::string fullPath = std::string(kAppsKeyPath) + "\\" + relativePath;
    HKEY current = nullptr;
    LONG error = RegOpenKeyExA(appsKey, relativePath.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                               &current);
    if (error == static_cast<LONG>(ERROR_FILE_NOT_FOUND))
        return;
    if (error != ERROR_SUCCESS) {
        Report(error, "RegOpenKeyEx", fullPath);
        return;
    }
    char value[kValueLength + 1] = {};
    DWORD size = kValueLength;
    DWORD type = REG_NONE;
    error = RegQueryValueExA(current, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    if (error != ERROR_SUCCESS) {
        Report(error, "RegQueryValueEx", fullPath);
    } else if (type != REG_SZ) {
        ShowMessage(FormatResourceString(IDS_INVALID_REGISTRY_VALUE_KEY, relativePath.c_str()));
    } else {
        state.suppressedSounds.push_back(relativePath);
        state.suppressedSounds.emplace_back(value, strnlen(value, size));
        const BYTE empty[1] = {0};
        error = RegSetValueExA(current, nullptr, 0, REG_SZ, empty, 1);
        if (error != ERROR_SUCCESS)
            Report(error, "RegSetValueEx", fullPath);
    }
    RegCloseKey(current);
}

// Walks the events of one application.
void SuppressApplication(HKEY appsKey, const std::string& application, SystemSoundsState& state)
{
    const std::string appPath = std::string(kAppsKeyPath) + "\\" + application;
    HKEY appKey = nullptr;
    LONG error = RegOpenKeyExA(appsKey, application.c_str(), 0, KEY_READ, &appKey);
    if (error != ERROR_SUCCESS) {
        Report(error, "RegOpenKeyEx", appPath);
        return;
    }
    for (DWORD index = 0;; ++index) {
        char event[kNameLength];
        DWORD length = kNameLength;
        error = RegEnumKeyExA(appKey, index, event, &length, nullptr, nullptr, nullptr, nullptr);
        if (error == static_cast<LONG>(ERROR_NO_MORE_ITEMS))
            break;
        if (error != ERROR_SUCCESS) {
            Report(error, "RegEnumKeyEx", appPath);
            break;
        }
        SuppressEvent(appsKey, application + "\\" + event + "\\.Current", state);
    }
    RegCloseKey(appKey);
}

void SwitchOff(SystemSoundsState& state)
{
    state.suppressedSounds.clear();
    HKEY appsKey = nullptr;
    LONG error = RegOpenKeyExA(HKEY_CURRENT_USER, kAppsKeyPath, 0, KEY_READ, &appsKey);
    // Without an event sound scheme (the usual state here: no desktop writes one) there is
    // nothing to switch off, which is not an error worth a box at every start.
    if (error == static_cast<LONG>(ERROR_FILE_NOT_FOUND))
        return;
    if (error != ERROR_SUCCESS) {
        Report(error, "RegOpenKeyEx", kAppsKeyPath);
        return;
    }
    for (DWORD index = 0;; ++index) {
        char application[kNameLength];
        DWORD length = kNameLength;
        error = RegEnumKeyExA(appsKey, index, application, &length, nullptr, nullptr, nullptr, nullptr);
        if (error == static_cast<LONG>(ERROR_NO_MORE_ITEMS))
            break;
        if (error != ERROR_SUCCESS) {
            // The walk cannot go on; what was emptied so far stays restorable.
            Report(error, "RegEnumKeyEx", kAppsKeyPath);
            break;
        }
        SuppressApplication(appsKey, application, state);
    }
    RegCloseKey(appsKey);
    state.soundsSuppressed = true;
}

void Restore(SystemSoundsState& state)
{
    state.soundsSuppressed = false;
    while (state.suppressedSounds.size() >= 2) {
        const std::string fullPath = std::string(kAppsKeyPath) + "\\" + state.suppressedSounds[0];
        const std::string text = state.suppressedSounds[1];
        state.suppressedSounds.pop_front();
        state.suppressedSounds.pop_front();
        HKEY key = nullptr;
        LONG error = RegOpenKeyExA(HKEY_CURRENT_USER, fullPath.c_str(), 0, KEY_SET_VALUE, &key);
        if (error != ERROR_SUCCESS) {
            // One entry that cannot be restored does not keep the others from it.
            Report(error, "RegOpenKeyEx", fullPath);
            continue;
        }
        error = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>(text.size() + 1));
        if (error != ERROR_SUCCESS)
            Report(error, "RegSetValueEx", fullPath);
        RegCloseKey(key);
    }
    state.suppressedSounds.clear();
}

// Writes the record's text into the open record; false (reported) when it cannot.
bool WriteEventSoundsRecord(HANDLE record)
{
    try {
        CFile file(record);
        file.SetLength(0);
        file.Write(kEventSoundsRecordText.data(), static_cast<UINT>(kEventSoundsRecordText.size()));
        file.Flush();
        return true;
    } catch (const CFileException& exception) {
        ReportFileException(exception);
        return false;
    }
}

void SwitchOffEventSounds(SystemSoundsState& state)
{
    // Off already (the user's choice, or another running copy's): nothing to give back later.
    const std::optional<bool> earlier = ReadDesktopEventSounds();
    if (!earlier || !*earlier)
        return;
    // The record comes first: a run killed after the switch changed must leave it behind.
    const std::string path = EventSoundsRecordPath();
    HANDLE record = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (record == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // Held by another running copy (the user turned the sounds on since it switched them
        // off): that copy gives them back, this one leaves the switch alone.
        if (error != ERROR_SHARING_VIOLATION)
            ReportSystemError(error, "CreateFile " + path);
        return;
    }
    if (!WriteEventSoundsRecord(record) || !WriteDesktopEventSounds(false)) {
        DeleteFileA(path.c_str());
        CloseHandle(record);
        return;
    }
    state.eventSoundsRecord = record;
    state.eventSoundsRecordPath = path;
}

void GiveBackEventSounds(SystemSoundsState& state)
{
    // On either way, even when the user turned the switch on meanwhile. A value that cannot be
    // given back keeps its record for the next start.
    if (WriteDesktopEventSounds(true))
        DeleteFileA(state.eventSoundsRecordPath.c_str());
    CloseHandle(state.eventSoundsRecord);
    state.eventSoundsRecord = INVALID_HANDLE_VALUE;
    state.eventSoundsRecordPath.clear();
}

} // namespace

void SuppressSystemSounds(bool suppress, SystemSoundsState& state)
{
    if (suppress && !state.soundsSuppressed)
        SwitchOff(state);
    else if (!suppress && state.soundsSuppressed)
        Restore(state);

    if (suppress && !state.EventSoundsSwitchedOff())
        SwitchOffEventSounds(state);
    else if (!suppress && state.EventSoundsSwitchedOff())
        GiveBackEventSounds(state);
}

void GiveBackLeftoverEventSounds()
{
    const std::string path = EventSoundsRecordPath();
    HANDLE record = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (record == INVALID_HANDLE_VALUE) {
        // No record is the usual case; one that is held belongs to a copy that still runs.
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND &&
            error != ERROR_SHARING_VIOLATION)
            ReportSystemError(error, "CreateFile " + path);
        return;
    }
    char text[kEventSoundsRecordReadLength];
    UINT length = 0;
    try {
        CFile file(record);
        length = file.Read(text, sizeof text);
    } catch (const CFileException& exception) {
        ReportFileException(exception);
        CloseHandle(record);
        return;
    }
    // A record without the value (cut short before the switch changed, or being written by a
    // copy starting at this moment) gives nothing back; it stays for a switch-off to rewrite.
    if (std::string_view(text, length) == kEventSoundsRecordText && WriteDesktopEventSounds(true))
        DeleteFileA(path.c_str());
    CloseHandle(record);
}

std::string EventSoundsRecordPath()
{
    std::string folder;
    if (!EnvironmentText("WAVEHARVESTER_RUNTIME_DIR").empty() ||
        !EnvironmentText("XDG_RUNTIME_DIR").empty())
        folder = RuntimeDirectory();
    if (folder.empty()) {
        const std::string registry = RegistryFilePath();
        const std::string::size_type slash = registry.find_last_of('/');
        folder = slash == std::string::npos ? "." : slash == 0 ? "" : registry.substr(0, slash);
    }
    return folder + "/" + kEventSoundsRecordName;
}
