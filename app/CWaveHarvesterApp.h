// The application object: start-up (InitInstance) and shutdown (ExitInstance) in their fixed
// order around the application core, the single document with its frame and view, the command
// line's wave file, and message boxes shown as real modal boxes on the GUI thread.
#pragma once

#include "ApplicationCore.h"
#include "CWaveHarvesterDoc.h"

#include <wx/app.h>

#include <memory>
#include <vector>

class CMainFrame;

class CWaveHarvesterApp : public wxApp {
public:
    bool OnInit() override { return InitInstance(); }
    int OnExit() override { return ExitInstance(); }

    // A toolkit assertion is reported on standard error, never in a box that stops the program.
    void OnAssertFailure(const wxChar* file, int line, const wxChar* function, const wxChar* condition,
                         const wxChar* message) override;

    bool InitInstance();
    int ExitInstance();

    ApplicationCore& Core() { return m_core; }

private:
    ApplicationCore m_core;
    CWaveHarvesterDoc m_document;
    CMainFrame* m_frame = nullptr;
    std::vector<unsigned> m_signalSources;
};
