// The reference of the start-up benchmark: the smallest wx program that shows a frame.
#include <wx/app.h>
#include <wx/frame.h>

class MinimalFrameApp : public wxApp {
public:
    bool OnInit() override
    {
        auto* frame = new wxFrame(nullptr, wxID_ANY, "Minimal frame");
        frame->Show(true);
        return true;
    }
};

wxIMPLEMENT_APP(MinimalFrameApp);
