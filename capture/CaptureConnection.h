// The program's connection to the capture driver: the three named capture objects, the
// detection of the driver's virtual device and work window at start-up, and the notice to the
// driver when the user changed its settings. The application object owns one of these for the
// whole run; its fields are set once at start-up.
#pragma once

#include "CaptureAreaLayout.h"
#include "VirtualDevice.h"

// The work window's answers to the greeting.
constexpr DWORD kDriverReply95 = 0x23DF949B;
constexpr DWORD kDriverReplyNT = 0x23DF949C;
// wParam of the capture message sent to the work window.
constexpr WPARAM kGreetingWParam = 1;
constexpr WPARAM kSettingsChangedWParam = 2;

class CaptureConnection {
public:
    // Creates the area (and maps it), registers the message and creates the lock; each failure
    // is reported with message 129 and leaves its field empty.
    void OpenCaptureObjects();

    // Sets and returns driverFound: true when exactly one virtual device of the right version and at least one real device
    // exist and the work window answers the greeting as it must. Shows at most one message.
    bool DetectCaptureDriver();

    // Unmaps the area and closes its mapping; the lock goes with the process.
    void CloseCaptureObjects();

    // Tells the work window that RealDevice or RMPFileName changed, then reads every device's
    // capabilities.
    void NotifyDriverSettingsChanged();

    HANDLE captureMapping = nullptr;
    BYTE* captureArea = nullptr;
    UINT captureMessage = 0;
    HANDLE captureSemaphore = nullptr;
    HWND workWindow = 0;
    DWORD driverReply = 0;
    bool driverFound = false;

private:
    bool Detect();
};
