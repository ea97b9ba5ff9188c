#include "CAboutBox.h"

#include "CWaveHarvesterView.h"
#include "DialogTemplates.h"
#include "StringTable.h"

#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <algorithm>

CAboutBox::CAboutBox(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, AboutBoxTemplate().caption, wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX)
{
    const DialogTemplate& about = AboutBoxTemplate();
    SetFont(wxFont(wxFontInfo(about.fontPoints).Family(wxFONTFAMILY_SWISS)));
    double unitX = GetCharWidth() / 4.0, unitY = GetCharHeight() / 8.0;
    wxClientDC dc(this);
    dc.SetFont(GetFont());
    for (const TemplateControl& control : about.controls)
        if (control.text != nullptr) {
            const wxSize extent = dc.GetTextExtent(control.text);
            unitX = std::max(unitX, (extent.x + 2) / static_cast<double>(control.rect.width));
        }
    auto pixels = [&](int x, int y) { return wxPoint(static_cast<int>(x * unitX + 0.5), static_cast<int>(y * unitY + 0.5)); };
    for (const TemplateControl& control : about.controls) {
        const wxPoint position = pixels(control.rect.x, control.rect.y);
        const wxPoint corner = pixels(control.rect.x + control.rect.width, control.rect.y + control.rect.height);
        const wxSize size(corner.x - position.x, corner.y - position.y);
        switch (control.kind) {
        case TemplateControl::icon:
            new wxStaticBitmap(this, wxID_ANY, LoadProgramBitmap(control.bitmap, false), position);
            break;
        case TemplateControl::staticText:
            new wxStaticText(this, wxID_ANY, control.text, position, size, wxST_NO_AUTORESIZE);
            break;
        case TemplateControl::pushButton: {
            auto* ok = new wxButton(this, wxID_OK, control.text, position, size);
            ok->SetDefault();
            ok->SetFocus();
            break;
        }
        default: break;
        }
    }
    const wxPoint corner = pixels(about.size.width, about.size.height);
    SetClientSize(corner.x, corner.y);
    CentreOnParent();
}
