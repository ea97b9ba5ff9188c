// What the settings dialog's logic needs of its window: the data exchange of the six values,
// the device list, enabling of controls, the folder browser and the protocol file chooser, and
// ending the dialog. CSettingsDlg implements it with wx controls; tests with plain fields.
#pragma once

#include "Win32Types.h"

#include <string>

class SettingsDialogControls {
public:
    virtual ~SettingsDialogControls() = default;

    // true: the controls' values go to the logic's exchange values; false: the other way.
    virtual void UpdateData(bool saveAndValidate) = 0;

    // The device list (combo box 1015), "(Auto select)" being item 0 from the template.
    virtual void AddDeviceItem(const std::string& text) = 0;
    virtual int DeviceItemCount() const = 0;
    virtual std::string DeviceItemText(int index) const = 0;
    virtual void SetDeviceSelection(int index) = 0;
    virtual int DeviceSelection() const = 0;

    virtual void EnableControl(UINT id, bool enabled) = 0;

    // The folder browser preselecting the folder; true with the chosen folder's path in it.
    virtual bool BrowseForFolder(std::string& folder) = 0;
    // The Save-style chooser of the protocol file, starting at the name, without a prompt
    // for an existing file; true with the chosen full path in it.
    virtual bool ChooseProtocolFile(std::string& path) = 0;

    // Closes the dialog as cancelled once the current handler has returned.
    virtual void PostClose() = 0;
    // Ends the dialog with IDOK or IDCANCEL.
    virtual void EndDialog(int result) = 0;
};
