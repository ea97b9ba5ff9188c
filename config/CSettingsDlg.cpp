#include "CSettingsDlg.h"

#include "Automation.h"
#include "DialogTemplates.h"
#include "ResourceIds.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/dcclient.h>
#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/textctrl.h>

#include <algorithm>

namespace {

// A closed drop-down list is one line high; the template's height includes the open list.
constexpr int kClosedListHeight = 14;

// OK and Cancel take the toolkit's own identifiers, so that Enter, Escape and the close box
// behave as the toolkit's users expect.
int WxId(UINT id)
{
    switch (id) {
    case IDC_STATIC: return wxID_ANY;
    case IDOK: return wxID_OK;
    case IDCANCEL: return wxID_CANCEL;
    default: return static_cast<int>(id);
    }
}

wxString FromUtf8(const std::string& text) { return wxString::FromUTF8(text); }

} // namespace

CSettingsDlg::CSettingsDlg(wxWindow* parent, ApplicationCore& application)
    : wxDialog(parent, wxID_ANY, FromUtf8(SettingsDialogTemplate().caption), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX),
      m_logic(application, *this)
{
    CreateControls();
    Bind(wxEVT_INIT_DIALOG, &CSettingsDlg::OnInitDialog, this);
    Bind(wxEVT_BUTTON, &CSettingsDlg::OnButton, this);
    Bind(wxEVT_RADIOBUTTON, &CSettingsDlg::OnRadio, this);
    Bind(wxEVT_CHECKBOX, &CSettingsDlg::OnCheckBox, this);
}

void CSettingsDlg::CreateControls()
{
    const DialogTemplate& dialog = SettingsDialogTemplate();
    SetFont(wxFont(wxFontInfo(dialog.fontPoints).Family(wxFONTFAMILY_SWISS)));

    // Group boxes first, so that the controls inside them lie above; the others in template
    // order, which is the tab order.
    std::vector<const TemplateControl*> order;
    for (const TemplateControl& control : dialog.controls)
        if (control.kind == TemplateControl::groupBox)
            order.push_back(&control);
    for (const TemplateControl& control : dialog.controls)
        if (control.kind != TemplateControl::groupBox)
            order.push_back(&control);

    std::vector<std::pair<const TemplateControl*, wxWindow*>> created;
    for (const TemplateControl* control : order) {
        const int id = WxId(control->id);
        const wxString text = control->text != nullptr ? FromUtf8(control->text) : wxString();
        wxWindow* window = nullptr;
        switch (control->kind) {
        case TemplateControl::groupBox:
            window = new wxStaticBox(this, id, text);
            break;
        case TemplateControl::defaultPushButton: {
            auto* button = new wxButton(this, id, text);
            button->SetDefault();
            window = button;
            break;
        }
        case TemplateControl::pushButton:
            window = new wxButton(this, id, text);
            break;
        case TemplateControl::dropDownList:
            m_deviceList = new wxChoice(this, id);
            for (const ComboInitialData& data : SettingsDialogInitialData())
                if (data.id == control->id)
                    m_deviceList->Append(FromUtf8(data.text));
            window = m_deviceList;
            break;
        case TemplateControl::edit:
            window = new wxTextCtrl(this, id, "", wxDefaultPosition, wxDefaultSize, wxBORDER_SUNKEN);
            break;
        case TemplateControl::radioGroupStart:
            window = new wxRadioButton(this, id, text, wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
            break;
        case TemplateControl::radioButton:
            window = new wxRadioButton(this, id, text);
            break;
        case TemplateControl::checkBox:
            window = new wxCheckBox(this, id, text);
            break;
        default:
            break;
        }
        if (window == nullptr)
            continue;
        created.emplace_back(control, window);
        if (control->id != IDC_STATIC)
            m_controls[control->id] = window;
    }
    m_tmpDir = static_cast<wxTextCtrl*>(m_controls.at(IDC_TMP_DIR));
    m_defDir = static_cast<wxTextCtrl*>(m_controls.at(IDC_DEF_DIR));
    m_protocolFile = static_cast<wxTextCtrl*>(m_controls.at(IDC_PROTOCOL_FILE));
    m_lastUsedFolder = static_cast<wxRadioButton*>(m_controls.at(IDC_LAST_USED_DIR));
    m_thisFolder = static_cast<wxRadioButton*>(m_controls.at(IDC_THIS_DIR));
    m_protocolOn = static_cast<wxCheckBox*>(m_controls.at(IDC_PROTOCOL_ON));
    m_soundsOff = static_cast<wxCheckBox*>(m_controls.at(IDC_SOUNDS_OFF));

    // Dialog units from the font. The toolkit's controls need more room than the template's
    // rectangles give at that size, so both units grow by one factor until every control's
    // natural size fits its rectangle: the layout keeps its proportions.
    const double unitX = GetCharWidth() / 4.0, unitY = GetCharHeight() / 8.0;
    wxClientDC dc(this);
    dc.SetFont(GetFont());
    double scale = 1.0;
    for (const auto& [control, window] : created) {
        const wxSize best = window->GetBestSize();
        const int height = control->kind == TemplateControl::dropDownList ? kClosedListHeight : control->rect.height;
        if (control->kind == TemplateControl::groupBox) {
            const wxSize label = dc.GetTextExtent(FromUtf8(control->text));
            scale = std::max(scale, (label.x + 24) / (control->rect.width * unitX));
            continue;
        }
        if (control->text != nullptr)
            scale = std::max(scale, best.x / (control->rect.width * unitX));
        scale = std::max(scale, best.y / (height * unitY));
    }
    auto pixels = [&](int x, int y) {
        return wxPoint(static_cast<int>(x * unitX * scale + 0.5), static_cast<int>(y * unitY * scale + 0.5));
    };
    for (const auto& [control, window] : created) {
        const DialogRect& rect = control->rect;
        const int height = control->kind == TemplateControl::dropDownList ? kClosedListHeight : rect.height;
        const wxPoint position = pixels(rect.x, rect.y);
        const wxPoint corner = pixels(rect.x + rect.width, rect.y + height);
        window->SetSize(position.x, position.y, corner.x - position.x, corner.y - position.y);
    }
    const wxPoint corner = pixels(dialog.size.width, dialog.size.height);
    SetClientSize(corner.x, corner.y);
}

int CSettingsDlg::DoModal()
{
    CentreOnParent();
    return ShowModal() == wxID_OK ? IDOK : IDCANCEL;
}

void CSettingsDlg::OnInitDialog(wxInitDialogEvent&)
{
    if (m_logic.OnInitDialog())
        m_controls.at(IDOK)->SetFocus();
}

void CSettingsDlg::OnButton(wxCommandEvent& event)
{
    if (event.GetId() == wxID_OK) {
        m_logic.OnOK();
        return;
    }
    switch (static_cast<UINT>(event.GetId())) {
    case IDC_TMP_DIR_BROWSE: m_logic.OnBrowseTmpDir(); break;
    case IDC_DEF_DIR_BROWSE: m_logic.OnBrowseDefDir(); break;
    case IDC_PROTOCOL_BROWSE: m_logic.OnBrowseProtocolFile(); break;
    default: event.Skip(); break; // Cancel: the toolkit ends the dialog, nothing changes
    }
}

void CSettingsDlg::OnRadio(wxCommandEvent& event)
{
    if (event.GetId() == static_cast<int>(IDC_LAST_USED_DIR))
        m_logic.OnLastUsedFolder();
    else if (event.GetId() == static_cast<int>(IDC_THIS_DIR))
        m_logic.OnThisFolder();
}

void CSettingsDlg::OnCheckBox(wxCommandEvent& event)
{
    if (event.GetId() == static_cast<int>(IDC_PROTOCOL_ON))
        m_logic.OnProtocolSwitch();
}

void CSettingsDlg::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        m_logic.m_strTmpDir = m_tmpDir->GetValue().utf8_string();
        m_logic.m_nDefDirChoice = m_lastUsedFolder->GetValue() ? 0 : m_thisFolder->GetValue() ? 1 : -1;
        m_logic.m_bProtocolOn = m_protocolOn->GetValue() ? TRUE : FALSE;
        m_logic.m_bSoundsOff = m_soundsOff->GetValue() ? TRUE : FALSE;
        m_logic.m_strDefDir = m_defDir->GetValue().utf8_string();
        m_logic.m_strProtocolFile = m_protocolFile->GetValue().utf8_string();
        return;
    }
    m_tmpDir->ChangeValue(FromUtf8(m_logic.m_strTmpDir));
    if (m_logic.m_nDefDirChoice == 0)
        m_lastUsedFolder->SetValue(true);
    else if (m_logic.m_nDefDirChoice == 1)
        m_thisFolder->SetValue(true);
    m_protocolOn->SetValue(m_logic.m_bProtocolOn != FALSE);
    m_soundsOff->SetValue(m_logic.m_bSoundsOff != FALSE);
    m_defDir->ChangeValue(FromUtf8(m_logic.m_strDefDir));
    m_protocolFile->ChangeValue(FromUtf8(m_logic.m_strProtocolFile));
}

void CSettingsDlg::AddDeviceItem(const std::string& text) { m_deviceList->Append(FromUtf8(text)); }

int CSettingsDlg::DeviceItemCount() const { return static_cast<int>(m_deviceList->GetCount()); }

std::string CSettingsDlg::DeviceItemText(int index) const
{
    return m_deviceList->GetString(static_cast<unsigned>(index)).utf8_string();
}

void CSettingsDlg::SetDeviceSelection(int index) { m_deviceList->SetSelection(index); }

int CSettingsDlg::DeviceSelection() const { return m_deviceList->GetSelection(); }

void CSettingsDlg::EnableControl(UINT id, bool enabled)
{
    auto found = m_controls.find(id);
    if (found != m_controls.end())
        found->second->Enable(enabled);
}

bool CSettingsDlg::BrowseForFolder(std::string& folder)
{
    if (AutomationScripted(kFileDialogAnswersVariable))
        return NextScriptedPath(kFileDialogAnswersVariable, folder);
    wxDirDialog dialog(this, wxDirSelectorPromptStr, FromUtf8(folder), wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
    if (dialog.ShowModal() != wxID_OK)
        return false;
    folder = dialog.GetPath().utf8_string();
    return true;
}

bool CSettingsDlg::ChooseProtocolFile(std::string& path)
{
    if (AutomationScripted(kFileDialogAnswersVariable))
        return NextScriptedPath(kFileDialogAnswersVariable, path);
    const std::string::size_type slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // Save-style, no filter and no default extension; an existing file is taken without asking.
    wxFileDialog dialog(this, "Save As", FromUtf8(folder), FromUtf8(name), "*", wxFD_SAVE);
    if (dialog.ShowModal() != wxID_OK)
        return false;
    path = dialog.GetPath().utf8_string();
    return true;
}

void CSettingsDlg::PostClose()
{
    CallAfter([this] {
        if (IsModal())
            EndModal(wxID_CANCEL);
    });
}

void CSettingsDlg::EndDialog(int result) { EndModal(result == IDOK ? wxID_OK : wxID_CANCEL); }
