#include "CaptureConnection.h"

#include "ErrorReporting.h"
#include "FileMapping.h"
#include "HandleTable.h"
#include "LastError.h"
#include "Semaphore.h"
#include "StringTable.h"
#include "UserPaths.h"
#include "WaveOut.h"
#include "WindowMessages.h"

#include <cstdio>
#include <cstring>

void CaptureConnection::OpenCaptureObjects()
{
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};

    captureMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                        kCaptureAreaSize, kCaptureAreaName);
    if (captureMapping == nullptr) {
        const DWORD error = GetLastError();
        // A runtime folder that is not the user's own is refused; say which and why.
        const std::string problem = RuntimeDirectoryProblem();
        if (!problem.empty())
            std::fprintf(stderr, "WaveHarvester: %s\n", problem.c_str());
        ReportSystemError(error, "CreateFileMapping");
    } else {
        captureArea = static_cast<BYTE*>(
            MapViewOfFile(captureMapping, FILE_MAP_ALL_ACCESS, 0, 0, kCaptureAreaSize));
        if (captureArea == nullptr)
            ReportSystemError(GetLastError(), "MapViewOfFile");
    }
    captureMessage = RegisterWindowMessageA(kCaptureMessageName);
    if (captureMessage == 0)
        ReportSystemError(GetLastError(), "RegisterWindowMessage");
    captureSemaphore = CreateSemaphoreA(&attributes, 1, 1, kCaptureSemaphoreName);
    if (captureSemaphore == nullptr)
        ReportSystemError(GetLastError(), "CreateSemaphore");
}

bool CaptureConnection::DetectCaptureDriver()
{
    driverFound = Detect();
    return driverFound;
}

bool CaptureConnection::Detect()
{
    const UINT devices = waveOutGetNumDevs();
    if (devices == 0) {
        ShowResourceMessage(IDS_DRIVER_NOT_INSTALLED);
        return false;
    }
    int virtualDevices = 0;
    int realBefore = 0;
    int realAfter = 0;
    for (UINT id = 0; id < devices; ++id) {
        WAVEOUTCAPSA caps;
        MMRESULT result = waveOutGetDevCapsA(id, &caps, sizeof caps);
        if (result != MMSYSERR_NOERROR) {
            ReportMultimediaError(result, "waveOutGetDevCaps");
            return false;
        }
        caps.szPname[MAXPNAMELEN - 1] = '\0';
        if (std::strcmp(caps.szPname, kVirtualDeviceName) == 0) {
            ++virtualDevices;
            if (caps.vDriverVersion != kVirtualDeviceVersion) {
                ShowResourceMessage(IDS_INVALID_DRIVER_VERSION);
                return false;
            }
            if (virtualDevices == 2) {
                ShowResourceMessage(IDS_MORE_THAN_ONE_DRIVER);
                return false;
            }
        } else if (virtualDevices == 0) {
            ++realBefore;
        } else {
            ++realAfter;
        }
    }
    if (virtualDevices == 0) {
        ShowResourceMessage(IDS_DRIVER_NOT_INSTALLED);
        return false;
    }
    if (realBefore + realAfter == 0) {
        ShowResourceMessage(IDS_NO_REAL_WAVEOUT);
        return false;
    }
    workWindow = FindWindowA(kWorkWindowClassName, nullptr);
    if (workWindow != 0)
        driverReply = static_cast<DWORD>(SendMessageA(workWindow, captureMessage, kGreetingWParam, 0));
    if (driverReply == kDriverReply95)
        return true;
    if (driverReply == kDriverReplyNT) {
        if (realBefore == 0) {
            ShowResourceMessage(IDS_REINSTALL_DRIVER);
            return false;
        }
        if (realAfter > 0)
            ShowResourceMessage(IDS_RECOMMEND_REINSTALL);
        return true;
    }
    ShowResourceMessage(IDS_DRIVER_NOT_WORKING);
    return false;
}

void CaptureConnection::CloseCaptureObjects()
{
    if (captureArea != nullptr) {
        UnmapViewOfFile(captureArea);
        captureArea = nullptr;
    }
    if (captureMapping != nullptr) {
        CloseHandle(captureMapping);
        captureMapping = nullptr;
    }
}

void CaptureConnection::NotifyDriverSettingsChanged()
{
    SendMessageA(workWindow, captureMessage, kSettingsChangedWParam, 0);
    const UINT devices = waveOutGetNumDevs();
    for (UINT id = 0; id < devices; ++id) {
        WAVEOUTCAPSA caps;
        waveOutGetDevCapsA(id, &caps, sizeof caps);
    }
}
