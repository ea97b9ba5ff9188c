#include "CDeviceChooserWindow.h"

#include "DeviceChooser.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/frame.h>
#include <wx/listbox.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <vector>

namespace {

constexpr const char* kPreferredMark = "  (preferred)";
constexpr const char* kUnavailableMark = "  (not available)";

// The list of playback devices with the preferred one marked; "Make preferred" (or a double
// click, or Enter) makes the selected one the preferred device.
class CDeviceChooserFrame : public wxFrame {
public:
    CDeviceChooserFrame() : wxFrame(nullptr, wxID_ANY, wxString::FromUTF8(kDeviceChooserTitle))
    {
        auto* panel = new wxPanel(this);
        auto* column = new wxBoxSizer(wxVERTICAL);
        column->Add(new wxStaticText(panel, wxID_ANY,
                                     "Programs play through the preferred playback device. To record them with\n"
                                     "WaveHarvester, make \"Playback through WaveHarvester\" the preferred device."),
                    0, wxALL, 8);
        m_list = new wxListBox(panel, wxID_ANY, wxDefaultPosition, wxSize(420, 160));
        column->Add(m_list, 1, wxEXPAND | wxLEFT | wxRIGHT, 8);
        m_status = new wxStaticText(panel, wxID_ANY, "", wxDefaultPosition, wxSize(420, panel->GetCharHeight() * 3),
                                    wxST_NO_AUTORESIZE);
        column->Add(m_status, 0, wxEXPAND | wxALL, 8);
        auto* buttons = new wxBoxSizer(wxHORIZONTAL);
        auto* choose = new wxButton(panel, wxID_OK, "Make preferred");
        buttons->Add(choose, 0, wxRIGHT, 8);
        buttons->Add(new wxButton(panel, wxID_CLOSE, "Close"));
        column->Add(buttons, 0, wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, 8);
        panel->SetSizer(column);
        column->SetSizeHints(this);
        choose->SetDefault();

        choose->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Choose(); });
        Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Close(); }, wxID_CLOSE);
        m_list->Bind(wxEVT_LISTBOX_DCLICK, [this](wxCommandEvent&) { Choose(); });
        m_list->Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
            if (event.GetKeyCode() == WXK_RETURN || event.GetKeyCode() == WXK_NUMPAD_ENTER)
                Choose();
            else
                event.Skip();
        });
        Fill();
        m_list->SetFocus();
    }

private:
    void Fill()
    {
        std::string error;
        m_choices = PreferredDeviceChoices(&error);
        m_list->Clear();
        int preferred = -1;
        for (std::size_t i = 0; i < m_choices.size(); ++i) {
            std::string line = m_choices[i].productName + " [" + m_choices[i].pcmName + "]";
            if (m_choices[i].preferred) {
                line += kPreferredMark;
                preferred = static_cast<int>(i);
            }
            if (!m_choices[i].available)
                line += kUnavailableMark;
            m_list->Append(wxString::FromUTF8(line));
        }
        if (!m_choices.empty())
            m_list->SetSelection(preferred >= 0 ? preferred : 0);
        if (!error.empty())
            m_status->SetLabel(wxString::FromUTF8(error));
    }

    void Choose()
    {
        const int selected = m_list->GetSelection();
        if (selected == wxNOT_FOUND || static_cast<std::size_t>(selected) >= m_choices.size())
            return;
        std::string message;
        ChoosePreferredDevice(m_choices[static_cast<std::size_t>(selected)], &message);
        Fill();
        m_list->SetSelection(selected < static_cast<int>(m_list->GetCount()) ? selected : 0);
        m_status->SetLabel(wxString::FromUTF8(message));
        m_status->Wrap(420);
    }

    wxListBox* m_list = nullptr;
    wxStaticText* m_status = nullptr;
    std::vector<DeviceChoice> m_choices;
};

class CDeviceChooserApp : public wxApp {
public:
    bool OnInit() override
    {
        auto* frame = new CDeviceChooserFrame;
        frame->Show();
        return true;
    }
};

} // namespace

wxIMPLEMENT_APP_NO_MAIN(CDeviceChooserApp);

int RunDeviceChooser(int argc, char** argv)
{
    return wxEntry(argc, argv);
}
