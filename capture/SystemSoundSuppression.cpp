#include "SystemSoundSuppression.h"

#include "ErrorReporting.h"
#include "Registry.h"
#include "StringTable.h"

#include <cstring>

namespace {

constexpr const char* kAppsKeyPath = "AppEvents\\Schemes\\Apps";
constexpr DWORD kNameLength = 260;
constexpr DWORD kValueLength = 260;

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

} // namespace

void SuppressSystemSounds(bool suppress, SystemSoundsState& state)
{
    if (suppress && !state.soundsSuppressed)
        SwitchOff(state);
    else if (!suppress && state.soundsSuppressed)
        Restore(state);
}
