// The logic of the settings dialog "WaveHarvester Configuration" (template 148): its exchange
// values, the initialisation with the device list, the enabling the radio buttons and the
// protocol box drive, the Browse buttons and the OK sequence that tests what was entered,
// applies it to the application at once, saves it and tells the capture driver. CSettingsDlg
// owns one and forwards its events; tests drive it with fake controls. User-interface thread
// only.
#pragma once

#include "ApplicationCore.h"
#include "SettingsDialogControls.h"

#include <string>

constexpr const char* kDefaultProtocolFileName = "WHDrvPrt.txt";
// The path buffers of the dialog: 260 characters with the terminator.
constexpr DWORD kSettingsPathBufferSize = 260;
// The short form of the protocol file must fit 64 characters: the driver's limit.
constexpr DWORD kProtocolShortPathBufferSize = 65;

class SettingsDialogLogic {
public:
    SettingsDialogLogic(ApplicationCore& application, SettingsDialogControls& controls);

    // Fills the device list and shows the settings; closes the dialog when a device's
    // capabilities cannot be read. True: the focus goes to the first control (OK).
    bool OnInitDialog();

    void OnLastUsedFolder();
    void OnThisFolder();
    void OnBrowseTmpDir();
    void OnBrowseDefDir();
    void OnProtocolSwitch();
    void OnBrowseProtocolFile();

    // Tests, applies and saves what was entered; the dialog stays open where a test fails.
    void OnOK();

    // The exchange values, with their values at construction.
    std::string m_strTmpDir;
    int m_nDefDirChoice = -1; // 0: "Last used folder", 1: "This folder:", -1: none
    BOOL m_bProtocolOn = FALSE;
    BOOL m_bSoundsOff = FALSE;
    std::string m_strDefDir;
    std::string m_strProtocolFile;

private:
    void BrowseForFolder(std::string& text);
    void EnableDefaultFolder(bool enabled);
    void EnableProtocolFile(bool enabled);
    // Creates the protocol file when missing and checks its short form; false after the
    // message when the file cannot serve. A file created here is removed again on failure.
    bool TestProtocolFile();
    std::string ChosenDevice() const;

    ApplicationCore& m_application;
    SettingsDialogControls& m_controls;
};
