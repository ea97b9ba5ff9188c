// A waveOut device for tests of the playback engine: it keeps the queued headers and gives them
// back only when the test says so, as the device of the program would (MM_WOM_DONE to the
// view's window procedure, here called directly). What it "played" is the bytes of every
// header completed, in order; a reset returns the queued headers without playing them.
#pragma once

#include "TransportView.h"
#include "WaveOutPlayback.h"

#include <deque>
#include <string>
#include <vector>

class FakeWaveOut : public WaveOutBackend {
public:
    MMRESULT Open(LPHWAVEOUT handle, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR,
                  DWORD flags) override
    {
        calls.push_back("open");
        openedFormat = *format;
        openedDevice = deviceId;
        openedCallback = callback;
        openedFlags = flags;
        if (openResult != MMSYSERR_NOERROR)
            return openResult;
        open = true;
        paused = false;
        *handle = reinterpret_cast<HWAVEOUT>(this);
        return MMSYSERR_NOERROR;
    }
    MMRESULT Close(HWAVEOUT handle) override
    {
        calls.push_back("close");
        if (!Valid(handle))
            return MMSYSERR_INVALHANDLE;
        if (!queue.empty())
            return WAVERR_STILLPLAYING;
        open = false;
        return MMSYSERR_NOERROR;
    }
    MMRESULT PrepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size) override
    {
        if (!Valid(handle) || size != sizeof(WAVEHDR))
            return MMSYSERR_INVALHANDLE;
        if (prepareFailAt >= 0 && prepares++ == prepareFailAt)
            return prepareResult;
        header->dwFlags |= WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }
    MMRESULT UnprepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT) override
    {
        if (!Valid(handle))
            return MMSYSERR_INVALHANDLE;
        if (header->dwFlags & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        header->dwFlags &= ~WHDR_PREPARED;
        ++unprepares;
        return MMSYSERR_NOERROR;
    }
    MMRESULT Write(HWAVEOUT handle, LPWAVEHDR header, UINT size) override
    {
        if (!Valid(handle) || size != sizeof(WAVEHDR))
            return MMSYSERR_INVALHANDLE;
        if (writeFailAt >= 0 && writes == writeFailAt) {
            ++writes;
            return writeResult;
        }
        ++writes;
        if (!(header->dwFlags & WHDR_PREPARED))
            return WAVERR_UNPREPARED;
        if (header->dwFlags & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        header->dwFlags = (header->dwFlags | WHDR_INQUEUE) & ~WHDR_DONE;
        queue.push_back(header);
        written.push_back(header->dwBufferLength);
        return MMSYSERR_NOERROR;
    }
    MMRESULT Pause(HWAVEOUT handle) override
    {
        calls.push_back("pause");
        if (!Valid(handle))
            return MMSYSERR_INVALHANDLE;
        paused = true;
        return pauseResult;
    }
    MMRESULT Restart(HWAVEOUT handle) override
    {
        calls.push_back("restart");
        if (!Valid(handle))
            return MMSYSERR_INVALHANDLE;
        paused = false;
        return pauseResult;
    }
    MMRESULT Reset(HWAVEOUT handle) override
    {
        calls.push_back("reset");
        if (!Valid(handle))
            return MMSYSERR_INVALHANDLE;
        while (!queue.empty()) {
            Finish(queue.front());
            queue.pop_front();
        }
        return MMSYSERR_NOERROR;
    }

    // Plays the oldest `count` queued headers (fewer when fewer are queued) and holds their
    // returns until Deliver.
    void Complete(int count = 1)
    {
        for (; count > 0 && !queue.empty() && !paused; --count) {
            WAVEHDR* header = queue.front();
            queue.pop_front();
            played.append(header->lpData, header->dwBufferLength);
            Finish(header);
        }
    }
    // Hands every held return to the view, oldest first, as MM_WOM_DONE.
    void Deliver(TransportView& view)
    {
        while (!returned.empty()) {
            WAVEHDR* header = returned.front();
            returned.pop_front();
            view.WindowProc(MM_WOM_DONE, reinterpret_cast<WPARAM>(this), reinterpret_cast<LPARAM>(header));
        }
    }
    // Hands over held returns, then plays and returns one header at a time until nothing is
    // queued.
    void PlayToEnd(TransportView& view)
    {
        Deliver(view);
        for (int guard = 0; !queue.empty() && guard < 100000; ++guard) {
            Complete(1);
            Deliver(view);
        }
    }

    std::vector<std::string> calls;
    WAVEFORMATEX openedFormat{};
    UINT openedDevice = 0;
    DWORD_PTR openedCallback = 0;
    DWORD openedFlags = 0;
    bool open = false;
    bool paused = false;
    std::deque<WAVEHDR*> queue;
    std::deque<WAVEHDR*> returned;
    std::string played;
    std::vector<DWORD> written; // dwBufferLength of every header written, in order
    int writes = 0;
    int prepares = 0;
    int unprepares = 0;

    MMRESULT openResult = MMSYSERR_NOERROR;
    int prepareFailAt = -1;
    MMRESULT prepareResult = MMSYSERR_NOMEM;
    int writeFailAt = -1;
    MMRESULT writeResult = MMSYSERR_NOMEM;
    MMRESULT pauseResult = MMSYSERR_NOERROR;

private:
    bool Valid(HWAVEOUT handle) const { return open && handle == reinterpret_cast<HWAVEOUT>(const_cast<FakeWaveOut*>(this)); }
    void Finish(WAVEHDR* header)
    {
        header->dwFlags = (header->dwFlags | WHDR_DONE) & ~WHDR_INQUEUE;
        returned.push_back(header);
    }
};
