// What the document asks of its one view: stop playback and recording before a file is opened
// or saved, recompute the controls after the file commands, and set itself up for a new or
// opened document.
#pragma once

class DocumentView {
public:
    virtual ~DocumentView() = default;
    virtual void StopPlayback() = 0;
    virtual void StopRecording() = 0;
    virtual void UpdateControls() = 0;
    virtual void OnInitialUpdate() = 0;
};
