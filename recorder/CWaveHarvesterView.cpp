#include "CWaveHarvesterView.h"

#include "DialogTemplates.h"
#include "ResourceIds.h"
#include "WindowMessages.h"

#include <glib-unix.h>
#include <wx/bmpbuttn.h>
#include <wx/dcclient.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/settings.h>
#include <wx/slider.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <algorithm>

namespace {

constexpr int kFormFontPoints = 8;

// Serves the process's window messages on the GUI loop. The source may recurse, so that
// messages keep arriving while a handler shows a modal box or dialog.
gboolean ServeWindowMessages(gint, GIOCondition, gpointer)
{
    DispatchPendingMessages();
    return G_SOURCE_CONTINUE;
}

wxColour SystemColour(wxSystemColour colour) { return wxSystemSettings::GetColour(colour); }

} // namespace

wxBitmap LoadProgramBitmap(UINT id, bool lit)
{
    const char* const* xpm = BitmapXpm(id);
    if (xpm == nullptr)
        return wxBitmap();
    wxImage image{wxBitmap(xpm).ConvertToImage()};
    const wxColour face = SystemColour(wxSYS_COLOUR_BTNFACE);
    const wxColour shadow = SystemColour(wxSYS_COLOUR_BTNSHADOW);
    // The light grey takes the button face, the dark grey the shadow where the desktop's shadow
    // is dark enough to be seen on the face; a lit image's white background takes the face.
    image.Replace(192, 192, 192, face.Red(), face.Green(), face.Blue());
    if (face.GetLuminance() - shadow.GetLuminance() > 0.3)
        image.Replace(128, 128, 128, shadow.Red(), shadow.Green(), shadow.Blue());
    if (lit)
        image.Replace(255, 255, 255, face.Red(), face.Green(), face.Blue());
    return wxBitmap(image);
}

CWaveHarvesterView::CWaveHarvesterView(wxWindow* parent, ApplicationCore& application)
    : wxPanel(parent, wxID_ANY), m_application(application), m_view(application, *this)
{
    LoadStateBitmaps();
    CreateControls();
    m_hWnd = CreateMessageWindow(kViewWindowClassName, [this](HWND, UINT message, WPARAM wParam, LPARAM lParam) {
        return WindowProc(message, wParam, lParam);
    });
    const int descriptor = MessageQueueDescriptor();
    if (descriptor >= 0) {
        GSource* source = g_unix_fd_source_new(descriptor, G_IO_IN);
        g_source_set_callback(source, reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(ServeWindowMessages)),
                              nullptr, nullptr);
        g_source_set_can_recurse(source, TRUE);
        m_watch = g_source_attach(source, nullptr);
        g_source_unref(source);
    }
    Bind(wxEVT_BUTTON, &CWaveHarvesterView::OnButton, this);
    Bind(wxEVT_SCROLL_TOP, &CWaveHarvesterView::OnScroll, this);
    Bind(wxEVT_SCROLL_BOTTOM, &CWaveHarvesterView::OnScroll, this);
    Bind(wxEVT_SCROLL_LINEUP, &CWaveHarvesterView::OnScroll, this);
    Bind(wxEVT_SCROLL_LINEDOWN, &CWaveHarvesterView::OnScroll, this);
    Bind(wxEVT_SCROLL_PAGEUP, &CWaveHarvesterView::OnScroll, this);
    Bind(wxEVT_SCROLL_PAGEDOWN, &CWaveHarvesterView::OnScroll, this);
    Bind(wxEVT_SCROLL_THUMBTRACK, &CWaveHarvesterView::OnScroll, this);
    Bind(wxEVT_SCROLL_THUMBRELEASE, &CWaveHarvesterView::OnScroll, this);
    Bind(wxEVT_SCROLL_CHANGED, &CWaveHarvesterView::OnScroll, this);
    Bind(wxEVT_SYS_COLOUR_CHANGED, &CWaveHarvesterView::OnSysColourChanged, this);
    m_created = true;
}

CWaveHarvesterView::~CWaveHarvesterView()
{
    m_view.StopPlayback();
    m_view.StopRecording();
    m_created = false;
    if (m_watch != 0)
        g_source_remove(m_watch);
    if (m_hWnd != 0)
        DestroyWindow(m_hWnd);
}

wxPoint CWaveHarvesterView::ToPixels(int x, int y) const
{
    return wxPoint(static_cast<int>(x * m_unitX + 0.5), static_cast<int>(y * m_unitY + 0.5));
}

wxSize CWaveHarvesterView::ToPixels(const wxSize& size) const
{
    return wxSize(static_cast<int>(size.x * m_unitX + 0.5), static_cast<int>(size.y * m_unitY + 0.5));
}

void CWaveHarvesterView::CreateControls()
{
    const DialogTemplate& form = MainFormTemplate();
    wxFont font(wxFontInfo(kFormFontPoints).Family(wxFONTFAMILY_SWISS));
    SetFont(font);

    // Dialog units from the form's font; widened where a text of the template would not fit
    // its rectangle with the desktop's font.
    wxClientDC dc(this);
    dc.SetFont(font);
    m_unitX = GetCharWidth() / 4.0;
    m_unitY = GetCharHeight() / 8.0;
    for (const TemplateControl& control : form.controls) {
        if (control.text == nullptr || control.kind == TemplateControl::slider ||
            control.kind == TemplateControl::bitmapButton)
            continue;
        const int margin = control.kind == TemplateControl::groupBox ? 16 : 2;
        const wxSize extent = dc.GetTextExtent(wxString::FromUTF8(control.text));
        m_unitX = std::max(m_unitX, (extent.x + margin) / static_cast<double>(control.rect.width));
        m_unitY = std::max(m_unitY, extent.y / static_cast<double>(control.rect.height));
    }

    for (const TemplateControl& control : form.controls) {
        const wxPoint position = ToPixels(control.rect.x, control.rect.y);
        const wxSize size = ToPixels(wxSize(control.rect.width, control.rect.height));
        const int id = control.id == IDC_STATIC ? wxID_ANY : static_cast<int>(control.id);
        const wxString text = control.text != nullptr ? wxString::FromUTF8(control.text) : wxString();
        wxWindow* window = nullptr;
        switch (control.kind) {
        case TemplateControl::staticText:
            window = new wxStaticText(this, id, text, position, size, wxALIGN_LEFT | wxST_NO_AUTORESIZE);
            break;
        case TemplateControl::staticCentered:
        case TemplateControl::statusText:
            window = new wxStaticText(this, id, text, position, size, wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
            break;
        case TemplateControl::staticRight:
            window = new wxStaticText(this, id, text, position, size, wxALIGN_RIGHT | wxST_NO_AUTORESIZE);
            break;
        case TemplateControl::groupBox:
            window = new wxStaticBox(this, id, text, position, size);
            break;
        case TemplateControl::slider:
        {
            // The toolkit's slider needs more height than the template's 11 units: centre it on
            // the template's rectangle.
            m_slider = new wxSlider(this, id, 0, 0, kSliderMax, position, wxDefaultSize, wxSL_HORIZONTAL);
            const int height = std::max(size.y, m_slider->GetBestSize().y);
            m_slider->SetSize(position.x, position.y + (size.y - height) / 2, size.x, height);
            window = m_slider;
        }
            break;
        case TemplateControl::bitmapButton: {
            auto* button = new wxBitmapButton(this, id, m_images[static_cast<std::size_t>(StateImage::playOff)],
                                              position, size);
            button->SetToolTip(text);
            window = button;
            break;
        }
        case TemplateControl::lamp:
            window = new wxStaticBitmap(this, id, LoadProgramBitmap(control.bitmap, false), position, size);
            break;
        case TemplateControl::icon:
        case TemplateControl::pushButton:
        default:
            break;
        }
        if (window != nullptr && control.id != IDC_STATIC)
            m_controls[control.id] = window;
    }
    m_formSize = ToPixels(wxSize(form.size.width, form.size.height));
    SetMinSize(m_formSize);
    SetSize(m_formSize);
}

void CWaveHarvesterView::LoadStateBitmaps()
{
    for (const StateImageSource& source : StateImageSources())
        m_images[static_cast<std::size_t>(source.image)] = LoadProgramBitmap(source.bitmap, source.lit);
    // Show the reloaded images where they are in use.
    for (const auto& [id, image] : m_shownImages) {
        auto found = m_controls.find(id);
        if (found == m_controls.end())
            continue;
        if (auto* button = dynamic_cast<wxBitmapButton*>(found->second))
            button->SetBitmap(m_images[static_cast<std::size_t>(image)]);
        else if (auto* lamp = dynamic_cast<wxStaticBitmap*>(found->second))
            lamp->SetBitmap(m_images[static_cast<std::size_t>(image)]);
    }
}

void CWaveHarvesterView::SetButtonImage(UINT id, StateImage image)
{
    auto found = m_controls.find(id);
    if (found == m_controls.end())
        return;
    auto* button = dynamic_cast<wxBitmapButton*>(found->second);
    if (button == nullptr)
        return;
    auto shown = m_shownImages.find(id);
    if (shown != m_shownImages.end() && shown->second == image)
        return;
    m_shownImages[id] = image;
    button->SetBitmap(m_images[static_cast<std::size_t>(image)]);
    button->SetBitmapDisabled(m_images[static_cast<std::size_t>(image)]);
}

void CWaveHarvesterView::SetLampImage(UINT id, StateImage image)
{
    auto found = m_controls.find(id);
    if (found == m_controls.end())
        return;
    auto* lamp = dynamic_cast<wxStaticBitmap*>(found->second);
    if (lamp == nullptr)
        return;
    auto shown = m_shownImages.find(id);
    if (shown != m_shownImages.end() && shown->second == image)
        return;
    m_shownImages[id] = image;
    lamp->SetBitmap(m_images[static_cast<std::size_t>(image)]);
}

void CWaveHarvesterView::EnableControl(UINT id, bool enabled)
{
    auto found = m_controls.find(id);
    if (found != m_controls.end() && found->second->IsEnabled() != enabled)
        found->second->Enable(enabled);
}

void CWaveHarvesterView::SetText(UINT id, const std::string& text)
{
    auto found = m_controls.find(id);
    if (found == m_controls.end())
        return;
    const wxString label = wxString::FromUTF8(text);
    if (found->second->GetLabel() != label)
        found->second->SetLabel(label);
}

void CWaveHarvesterView::SetUnsavedLabelColour(bool canRecord)
{
    auto found = m_controls.find(IDC_UNSAVED);
    if (found == m_controls.end())
        return;
    const wxColour colour = canRecord ? wxColour(128, 0, 0) : SystemColour(wxSYS_COLOUR_BTNSHADOW);
    if (found->second->GetForegroundColour() != colour) {
        found->second->SetForegroundColour(colour);
        found->second->Refresh();
    }
}

void CWaveHarvesterView::SetupSlider(int minimum, int maximum, int lineSize, int pageSize)
{
    if (m_slider == nullptr)
        return;
    m_slider->SetRange(minimum, maximum);
    m_slider->SetLineSize(lineSize);
    m_slider->SetPageSize(pageSize);
}

void CWaveHarvesterView::SetSliderPos(int position)
{
    if (m_slider != nullptr && m_slider->GetValue() != position)
        m_slider->SetValue(position);
}

int CWaveHarvesterView::GetSliderPos() const { return m_slider != nullptr ? m_slider->GetValue() : 0; }

void CWaveHarvesterView::SetLabelFont()
{
    auto found = m_controls.find(IDC_UNSAVED);
    if (found == m_controls.end())
        return;
    // The form's font without its face name (the desktop's default), at five sixths of its size.
    const wxFont font(wxFontInfo(GetFont().GetFractionalPointSize() * 5 / 6).Family(wxFONTFAMILY_DEFAULT));
    found->second->SetFont(font);
}

void CWaveHarvesterView::ResizeParentToFit()
{
    wxWindow* parent = GetParent();
    if (parent == nullptr)
        return;
    wxSize client = parent->GetClientSize();
    client.x = std::min(client.x, m_formSize.x);
    client.y = std::min(client.y, m_formSize.y);
    parent->SetClientSize(client);
    SetSize(m_formSize);
}

void CWaveHarvesterView::OnButton(wxCommandEvent& event)
{
    switch (event.GetId()) {
    case IDC_TO_START: m_view.OnCommand(ID_TO_START); break;
    case IDC_PLAY: m_view.OnCommand(ID_PLAY); break;
    case IDC_PAUSE: m_view.OnCommand(ID_PAUSE); break;
    case IDC_STOP: m_view.OnCommand(ID_STOP); break;
    case IDC_RECORD: m_view.OnCommand(ID_RECORD); break;
    default: event.Skip(); break;
    }
}

void CWaveHarvesterView::OnScroll(wxScrollEvent& event)
{
    if (event.GetEventObject() != m_slider) {
        event.Skip();
        return;
    }
    // A finished movement is the end of tracking; everything before it only moves the thumb.
    const wxEventType type = event.GetEventType();
    m_view.OnSliderChanged(type == wxEVT_SCROLL_CHANGED ? TB_ENDTRACK : 0);
}

void CWaveHarvesterView::OnSysColourChanged(wxSysColourChangedEvent& event)
{
    m_view.WindowProc(WM_SYSCOLORCHANGE, 0, 0);
    event.Skip();
}

LRESULT CWaveHarvesterView::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    m_view.WindowProc(message, wParam, lParam);
    return 0;
}
