// libcapbrg32.so: the writer's side of the capture area, called by the capture driver for every
// buffer played through the virtual device. It reports nothing to the user. Its state is per
// process; the driver does not call StartMapping or StopMapping while MapBuffer runs.
#include "CaptureBridge.h"

#include "CaptureArea.h"
#include "CaptureAreaLayout.h"
#include "CaptureWriter.h"
#include "FileMapping.h"
#include "HandleTable.h"
#include "LastError.h"
#include "Semaphore.h"
#include "UserPaths.h"
#include "WindowMessages.h"

#include "NamedSharedMemory.h"

#include <atomic>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

#define CAPTURE_BRIDGE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<bool> active{false};
// MapBuffer calls running now; the library is released at unload or exit only when none runs.
std::atomic<int> mapBuffersRunning{0};
HANDLE areaMapping = nullptr;
BYTE* areaView = nullptr;
UINT captureMessage = 0;
HANDLE captureLock = nullptr;
DWORD startCounter = 0;

// The next stream number. Every player process loads its own copy of this library, so the
// numbers come from one counter of the user's (a file in the runtime folder, under a lock):
// a new stream is told apart from the one before even when another process played that one.
DWORD NextStreamNumber(DWORD localCounter)
{
    const std::string runtime = RuntimeDirectory();
    if (runtime.empty())
        return localCounter;
    const std::string path = runtime + "/stream-counter";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return localCounter;
    DWORD number = 0;
    if (::flock(fd, LOCK_EX) == 0) {
        if (::pread(fd, &number, sizeof number, 0) != static_cast<ssize_t>(sizeof number))
            number = 0;
        ++number;
        if (::pwrite(fd, &number, sizeof number, 0) != static_cast<ssize_t>(sizeof number))
            number = localCounter;
    } else {
        number = localCounter;
    }
    ::close(fd);
    return number;
}

// Receives the failed call's name and error code; deliberately does nothing.
void TraceFailure(const char*, DWORD) {}

DWORD Fail(const char* call)
{
    TraceFailure(call, GetLastError());
    StopMapping();
    return 2;
}

class RunningMapBuffer {
public:
    RunningMapBuffer() { mapBuffersRunning.fetch_add(1); }
    ~RunningMapBuffer() { mapBuffersRunning.fetch_sub(1); }
};

// When the driver unloads the library, or the player ends, the capture objects go with it (the
// last user removes them). A MapBuffer still running on another thread of an ending player
// keeps the memory mapped: then only the objects' names are let go.
__attribute__((destructor)) void ReleaseCaptureObjects()
{
    active = false;
    constexpr int kWaitMilliseconds = 200;
    for (int waited = 0; waited < kWaitMilliseconds && mapBuffersRunning.load() != 0; ++waited)
        ::usleep(1000);
    if (mapBuffersRunning.load() != 0) {
        NamedSharedMemory::LetGoOfAll();
        return;
    }
    StopMapping();
    if (captureLock != nullptr) {
        CloseHandle(captureLock);
        captureLock = nullptr;
    }
}

} // namespace

CAPTURE_BRIDGE_EXPORT std::uint32_t StartMapping(void)
{
    startCounter = NextStreamNumber(startCounter + 1);
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};

    // A second start while started replaces the older view and mapping.
    if (areaView != nullptr || areaMapping != nullptr)
        StopMapping();
    areaMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                     kCaptureAreaSize, kCaptureAreaName);
    if (areaMapping == nullptr)
        return Fail("CreateFileMapping");
    areaView = static_cast<BYTE*>(MapViewOfFile(areaMapping, FILE_MAP_ALL_ACCESS, 0, 0, kCaptureAreaSize));
    if (areaView == nullptr)
        return Fail("MapViewOfFile");
    if (captureMessage == 0) {
        captureMessage = RegisterWindowMessageA(kCaptureMessageName);
        if (captureMessage == 0)
            return Fail("RegisterWindowMessage");
    }
    if (captureLock == nullptr) {
        captureLock = CreateSemaphoreA(&attributes, 1, 1, kCaptureSemaphoreName);
        if (captureLock == nullptr)
            return Fail("CreateSemaphore");
    }
    active = true;
    return 1;
}

CAPTURE_BRIDGE_EXPORT std::uint32_t StopMapping(void)
{
    active = false;
    if (areaView != nullptr) {
        UnmapViewOfFile(areaView);
        areaView = nullptr;
    }
    if (areaMapping != nullptr) {
        CloseHandle(areaMapping);
        areaMapping = nullptr;
    }
    return 1;
}

CAPTURE_BRIDGE_EXPORT std::uint32_t MapBuffer(const void* format, const CaptureBufferHeader* header)
{
    const RunningMapBuffer running;
    if (!active)
        return 2;
    if (CaptureArea::Header(areaView)->recordingEnabled == 0)
        return 1;
    // A driver must always pass a header; a missing one is refused rather than followed.
    if (header == nullptr || format == nullptr || (header->lpData == nullptr && header->dwBufferLength > 0))
        return 2;
    return CaptureWriter::Append(areaView, captureLock, captureMessage,
                                 static_cast<const BYTE*>(format), startCounter, header->lpData,
                                 header->dwBufferLength, TraceFailure);
}
