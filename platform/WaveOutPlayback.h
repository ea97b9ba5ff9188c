// Playback through the wave mapper, over ALSA: waveOutOpen on WAVE_MAPPER opens ALSA's "default"
// PCM in exactly the format asked for, with a window callback. A worker thread per open device
// writes the queued headers in order and posts MM_WOM_DONE (lParam = the header) to the callback
// window once the device has played each one; a reset drops what is queued and returns every
// header the same way. Completions are posted in order and never dropped while the window
// lives. The calls may be made from any one thread at a time per handle (the program's GUI
// thread); tests replace the whole implementation with their own (SetWaveOutBackend).
#pragma once

#include "WaveOut.h"

#include <memory>

using DWORD_PTR = std::uintptr_t;
using HWAVEOUT = struct HWAVEOUT__*;
using LPHWAVEOUT = HWAVEOUT*;

constexpr UINT WAVE_MAPPER = static_cast<UINT>(-1);
constexpr DWORD CALLBACK_WINDOW = 0x00010000;
constexpr UINT MM_WOM_DONE = 0x3BD;

constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

// Header flags.
constexpr DWORD WHDR_DONE = 0x00000001;
constexpr DWORD WHDR_PREPARED = 0x00000002;
constexpr DWORD WHDR_BEGINLOOP = 0x00000004;
constexpr DWORD WHDR_ENDLOOP = 0x00000008;
constexpr DWORD WHDR_INQUEUE = 0x00000010;

#pragma pack(push, 1)
// The multimedia wave format record (18 bytes); the document's 20-byte format record starts
// with it.
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

// One buffer of samples handed to the device. The device owns dwFlags while the header is
// queued (WHDR_INQUEUE): it sets WHDR_DONE and clears WHDR_INQUEUE before posting MM_WOM_DONE.
struct WAVEHDR {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    DWORD_PTR reserved;
};
using LPWAVEHDR = WAVEHDR*;

// What waveOut does. The ALSA implementation is the default; a test installs its own.
class WaveOutBackend {
public:
    virtual ~WaveOutBackend() = default;
    virtual MMRESULT Open(LPHWAVEOUT handle, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                          DWORD_PTR instance, DWORD flags) = 0;
    virtual MMRESULT Close(HWAVEOUT handle) = 0;
    virtual MMRESULT PrepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size) = 0;
    virtual MMRESULT UnprepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size) = 0;
    virtual MMRESULT Write(HWAVEOUT handle, LPWAVEHDR header, UINT size) = 0;
    virtual MMRESULT Pause(HWAVEOUT handle) = 0;
    virtual MMRESULT Restart(HWAVEOUT handle) = 0;
    virtual MMRESULT Reset(HWAVEOUT handle) = 0;
};

// Replaces the implementation (nullptr: back to ALSA's). Not while a device is open.
void SetWaveOutBackend(std::shared_ptr<WaveOutBackend> backend);

// MMSYSERR_ALLOCATED when another program holds the device, MMSYSERR_NODRIVER when there is no
// usable default device, WAVERR_BADFORMAT when the device cannot take the format exactly.
MMRESULT waveOutOpen(LPHWAVEOUT handle, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags);
// WAVERR_STILLPLAYING while headers are queued.
MMRESULT waveOutClose(HWAVEOUT handle);
MMRESULT waveOutPrepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size);
// WAVERR_STILLPLAYING for a queued header.
MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size);
// WAVERR_UNPREPARED for a header that is not prepared; queues it behind the others.
// MMSYSERR_NODRIVER once the device has failed (it went away; it has then returned every
// header). The first of write, pause, restart and reset after the failure says so; pause,
// restart and reset after that succeed, so that stopping goes through.
MMRESULT waveOutWrite(HWAVEOUT handle, LPWAVEHDR header, UINT size);
// Stops the sound at once; a restart goes on from the same sample.
MMRESULT waveOutPause(HWAVEOUT handle);
MMRESULT waveOutRestart(HWAVEOUT handle);
// Stops at once, drops what is queued and returns every queued header (MM_WOM_DONE each);
// a paused device stays paused.
MMRESULT waveOutReset(HWAVEOUT handle);
