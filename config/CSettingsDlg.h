// The settings dialog "WaveHarvester Configuration" (template 148) as a modal wx dialog with
// every control at its dialog-unit rectangle. It owns the dialog's logic (SettingsDialogLogic),
// forwards the buttons, radio buttons and check box to it and exchanges the values with it.
// The folder browser is a wxDirDialog, the protocol file chooser a Save-style wxFileDialog;
// for automation both answer from WAVEHARVESTER_FILE_DIALOG_ANSWERS.
#pragma once

#include "SettingsDialogLogic.h"

#include <wx/dialog.h>

#include <map>

class ApplicationCore;
class wxCheckBox;
class wxChoice;
class wxRadioButton;
class wxTextCtrl;

class CSettingsDlg : public wxDialog, public SettingsDialogControls {
public:
    CSettingsDlg(wxWindow* parent, ApplicationCore& application);

    // Shows the dialog modally; IDOK or IDCANCEL.
    int DoModal();

    // SettingsDialogControls
    void UpdateData(bool saveAndValidate) override;
    void AddDeviceItem(const std::string& text) override;
    int DeviceItemCount() const override;
    std::string DeviceItemText(int index) const override;
    void SetDeviceSelection(int index) override;
    int DeviceSelection() const override;
    void EnableControl(UINT id, bool enabled) override;
    bool BrowseForFolder(std::string& folder) override;
    bool ChooseProtocolFile(std::string& path) override;
    void PostClose() override;
    void EndDialog(int result) override;

private:
    void CreateControls();
    void OnInitDialog(wxInitDialogEvent& event);
    void OnButton(wxCommandEvent& event);
    void OnRadio(wxCommandEvent& event);
    void OnCheckBox(wxCommandEvent& event);

    SettingsDialogLogic m_logic;
    std::map<UINT, wxWindow*> m_controls;
    wxChoice* m_deviceList = nullptr;
    wxTextCtrl* m_tmpDir = nullptr;
    wxTextCtrl* m_defDir = nullptr;
    wxTextCtrl* m_protocolFile = nullptr;
    wxRadioButton* m_lastUsedFolder = nullptr;
    wxRadioButton* m_thisFolder = nullptr;
    wxCheckBox* m_protocolOn = nullptr;
    wxCheckBox* m_soundsOff = nullptr;
};
