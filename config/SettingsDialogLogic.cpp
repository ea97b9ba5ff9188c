#include "SettingsDialogLogic.h"

#include "CProtocolWriter.h"
#include "ErrorReporting.h"
#include "Files.h"
#include "HandleTable.h"
#include "LastError.h"
#include "ResourceIds.h"
#include "StringTable.h"
#include "TempCaptureFile.h"
#include "WaveOut.h"

#include <cstring>
#include <strings.h>

namespace {

// The text becomes its full path when one of at most 259 characters can be made of it;
// otherwise (the empty text, a failure, a longer path) it stays.
void ReplaceByFullPath(std::string& text)
{
    char full[kSettingsPathBufferSize];
    const DWORD length = GetFullPathNameA(text.c_str(), kSettingsPathBufferSize, full, nullptr);
    if (length >= 1 && length < kSettingsPathBufferSize)
        text.assign(full, length);
}

std::string ProductName(const WAVEOUTCAPSA& caps)
{
    return std::string(caps.szPname, strnlen(caps.szPname, MAXPNAMELEN));
}

// The device name of a list item "<n>. <name>": the text after its first space.
std::string ItemDeviceName(const std::string& item)
{
    const std::string::size_type space = item.find(' ');
    return space == std::string::npos ? std::string() : item.substr(space + 1);
}

} // namespace

SettingsDialogLogic::SettingsDialogLogic(ApplicationCore& application, SettingsDialogControls& controls)
    : m_application(application), m_controls(controls)
{
}

bool SettingsDialogLogic::OnInitDialog()
{
    m_controls.UpdateData(false);

    const UINT count = waveOutGetNumDevs();
    int number = 1;
    for (UINT id = 0; id < count; ++id) {
        WAVEOUTCAPSA caps;
        const MMRESULT result = waveOutGetDevCapsA(id, &caps, sizeof caps);
        if (result != MMSYSERR_NOERROR) {
            ReportMultimediaError(result, "waveOutGetDevCaps");
            m_controls.PostClose();
            return true;
        }
        const std::string name = ProductName(caps);
        if (name == kVirtualDeviceName)
            continue;
        m_controls.AddDeviceItem(FormatText("%i. %s", number++, name.c_str()));
    }

    const CRecorderSettings& settings = m_application.settings;
    m_bSoundsOff = settings.SysSounds == 0;

    int selection = 0;
    if (!settings.RealDevice.empty()) {
        const int items = m_controls.DeviceItemCount();
        for (int item = 1; item < items; ++item)
            if (ItemDeviceName(m_controls.DeviceItemText(item)) == settings.RealDevice) {
                selection = item;
                break;
            }
    }
    m_controls.SetDeviceSelection(selection);

    m_strTmpDir = settings.TmpDir;
    m_nDefDirChoice = settings.SaveDirType == 1 ? 0 : 1;
    EnableDefaultFolder(m_nDefDirChoice == 1);
    m_strDefDir = settings.DefDir;

    m_bProtocolOn = settings.RMPIsOn != 0;
    m_strProtocolFile = settings.RMPNameSave;
    EnableProtocolFile(m_bProtocolOn);

    m_controls.UpdateData(false);
    return true;
}

void SettingsDialogLogic::EnableDefaultFolder(bool enabled)
{
    m_controls.EnableControl(IDC_DEF_DIR, enabled);
    m_controls.EnableControl(IDC_DEF_DIR_BROWSE, enabled);
}

void SettingsDialogLogic::EnableProtocolFile(bool enabled)
{
    m_controls.EnableControl(IDC_PROTOCOL_FILE, enabled);
    m_controls.EnableControl(IDC_PROTOCOL_BROWSE, enabled);
}

void SettingsDialogLogic::OnLastUsedFolder() { EnableDefaultFolder(false); }

void SettingsDialogLogic::OnThisFolder() { EnableDefaultFolder(true); }

void SettingsDialogLogic::OnBrowseTmpDir()
{
    m_controls.UpdateData(true);
    BrowseForFolder(m_strTmpDir);
    m_controls.UpdateData(false);
}

void SettingsDialogLogic::OnBrowseDefDir()
{
    m_controls.UpdateData(true);
    BrowseForFolder(m_strDefDir);
    m_controls.UpdateData(false);
}

void SettingsDialogLogic::BrowseForFolder(std::string& text)
{
    std::string folder = text.substr(0, kSettingsPathBufferSize - 1);
    if (m_controls.BrowseForFolder(folder) && !folder.empty())
        text = folder;
}

void SettingsDialogLogic::OnProtocolSwitch()
{
    m_controls.UpdateData(true);
    EnableProtocolFile(m_bProtocolOn);
}

void SettingsDialogLogic::OnBrowseProtocolFile()
{
    m_controls.UpdateData(true);
    // This platform's chooser has no fixed name buffer: a longer text is offered whole.
    std::string name = m_strProtocolFile.empty() ? std::string(kDefaultProtocolFileName) : m_strProtocolFile;
    if (m_controls.ChooseProtocolFile(name))
        m_strProtocolFile = name;
    m_controls.UpdateData(false);
}

bool SettingsDialogLogic::TestProtocolFile()
{
    const char* path = m_strProtocolFile.c_str();
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        ShowMessage(FormatResourceString(IDS_CANNOT_CREATE_PROTOCOL, path, static_cast<unsigned long>(error),
                                         SystemErrorText(error).c_str()));
        return false;
    }
    // Only a file this test created is removed again: the user's own file stays.
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    CloseHandle(file);
    auto removeCreated = [&] {
        if (!existed)
            DeleteFileA(path);
    };

    char shortPath[kProtocolShortPathBufferSize] = "";
    const DWORD length = GetShortPathNameA(path, shortPath, kProtocolShortPathBufferSize);
    if (length == 0) {
        const DWORD error = GetLastError();
        removeCreated();
        ReportSystemError(error, "GetShortPathName " + m_strProtocolFile);
        return false;
    }
    if (length >= kProtocolShortPathBufferSize) {
        removeCreated();
        ShowMessage(FormatResourceString(IDS_TOO_LONG_FILENAME, path));
        return false;
    }
    if (strcasecmp(shortPath, path) != 0) {
        removeCreated();
        m_strProtocolFile = shortPath;
        m_controls.UpdateData(false);
        ShowResourceMessage(IDS_PROTOCOL_SHORT_FILENAME);
        return false;
    }
    return true;
}

std::string SettingsDialogLogic::ChosenDevice() const
{
    const int selection = m_controls.DeviceSelection();
    if (selection <= 0)
        return "";
    return ItemDeviceName(m_controls.DeviceItemText(selection));
}

void SettingsDialogLogic::OnOK()
{
    m_controls.UpdateData(true);
    CRecorderSettings previous;
    previous.CopyFrom(m_application.settings);

    ReplaceByFullPath(m_strTmpDir);
    ReplaceByFullPath(m_strDefDir);
    ReplaceByFullPath(m_strProtocolFile);
    m_controls.UpdateData(false);

    // The temporary folder must take a capture file; the first one made becomes the
    // program's when it has none, any other goes again at once.
    std::string tempName;
    HANDLE tempFile = CreateTempCaptureFile(m_strTmpDir, &tempName);
    if (tempFile == INVALID_HANDLE_VALUE)
        return;
    if (m_application.captureReady && !m_application.TempFileOpen())
        m_application.AdoptTempFile(tempFile, tempName);
    else
        CloseHandle(tempFile);

    if (m_nDefDirChoice == 1 && !SetCurrentDirectoryA(m_strDefDir.c_str())) {
        const DWORD error = GetLastError();
        ShowMessage(FormatResourceString(IDS_INVALID_FOLDER, m_strDefDir.c_str(), static_cast<unsigned long>(error),
                                         SystemErrorText(error).c_str()));
        return;
    }

    bool writeHeader = false;
    if (m_bProtocolOn && (previous.RMPIsOn == 0 || m_strProtocolFile != previous.RMPFileName)) {
        if (!TestProtocolFile())
            return;
        writeHeader = true;
    }

    CRecorderSettings& settings = m_application.settings;
    settings.RealDevice = ChosenDevice();
    settings.SysSounds = m_bSoundsOff ? 0 : 1;
    settings.TmpDir = m_strTmpDir;
    settings.DefDir = m_strDefDir;
    settings.SaveDirType = m_nDefDirChoice == 0 ? 1 : 0;
    settings.RMPIsOn = m_bProtocolOn ? 1 : 0;
    settings.RMPNameSave = m_strProtocolFile;
    settings.RMPFileName = m_bProtocolOn ? m_strProtocolFile : std::string();
    settings.Save(previous);

    SuppressSystemSounds(m_bSoundsOff != FALSE, m_application.sounds);

    if (writeHeader) {
        const CaptureConnection& connection = m_application.connection;
        ProtocolHeaderValues values;
        values.driverFound = m_application.driverFound;
        values.captureReady = m_application.captureReady;
        values.driverReply = connection.driverReply;
        values.workWindow = connection.workWindow;
        values.captureMessage = connection.captureMessage;
        values.captureSemaphore = connection.captureSemaphore;
        values.captureArea = connection.captureArea;
        values.peakAreaUse = static_cast<DWORD>(m_application.peakAreaUse);
        CProtocolWriter writer;
        writer.WriteHeader(values);
    }

    if ((settings.RealDevice != previous.RealDevice || settings.RMPFileName != previous.RMPFileName) &&
        m_application.connection.workWindow != 0 && m_application.connection.captureMessage != 0)
        m_application.connection.NotifyDriverSettingsChanged();

    m_controls.EndDialog(IDOK);
}
