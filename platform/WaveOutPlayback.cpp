#include "WaveOutPlayback.h"

#include "WindowMessages.h"

#include <alsa/asoundlib.h>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned kBufferMicroseconds = 500000; // the device's own ring, behind the queued headers
constexpr unsigned kPeriodMicroseconds = 100000; // how often the worker wakes while playing
constexpr int kMaxPollDescriptors = 8;

void SetFlags(WAVEHDR* header, DWORD set, DWORD clear)
{
    std::atomic_ref<DWORD> flags(header->dwFlags);
    DWORD old = flags.load();
    while (!flags.compare_exchange_weak(old, (old | set) & ~clear)) {
    }
}

DWORD Flags(const WAVEHDR* header)
{
    return std::atomic_ref<DWORD>(const_cast<WAVEHDR*>(header)->dwFlags).load();
}

snd_pcm_format_t AlsaFormat(const WAVEFORMATEX& format)
{
    switch (format.wBitsPerSample) {
    case 8: return SND_PCM_FORMAT_U8;
    case 16: return SND_PCM_FORMAT_S16_LE;
    case 24: return SND_PCM_FORMAT_S24_3LE;
    case 32: return SND_PCM_FORMAT_S32_LE;
    default: return SND_PCM_FORMAT_UNKNOWN;
    }
}

// A PCM record that describes itself consistently.
bool PlainPcm(const WAVEFORMATEX& format)
{
    return format.wFormatTag == 1 && format.nChannels > 0 && format.nSamplesPerSec > 0 &&
           AlsaFormat(format) != SND_PCM_FORMAT_UNKNOWN &&
           format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8;
}

// One open device: ALSA's PCM driven by a worker thread. The calling thread queues headers
// and hands over requests; only the worker touches the PCM.
class AlsaWaveOut {
public:
    AlsaWaveOut(snd_pcm_t* pcm, HWND window, UINT frameBytes, UINT rate, bool canPause)
        : m_pcm(pcm), m_window(window), m_frameBytes(frameBytes), m_rate(rate), m_canPause(canPause)
    {
        m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_worker = std::thread([this] { Run(); });
    }

    ~AlsaWaveOut()
    {
        Request(Command::quit);
        m_worker.join();
        ::close(m_wakeFd);
        snd_pcm_close(m_pcm);
    }

    bool Busy()
    {
        std::lock_guard lock(m_mutex);
        return !m_queue.empty();
    }

    // False once the device has failed (it went away): nothing is queued any more.
    bool Queue(WAVEHDR* header)
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_failed) {
                m_failureReported = true;
                return false;
            }
            SetFlags(header, WHDR_INQUEUE, WHDR_DONE);
            m_queue.push_back({header, 0, 0, false});
            // A worker still writing earlier headers takes this one when the device has room;
            // only one that has written everything may be waiting without the device.
            if (m_writeIndex + 1 < m_queue.size())
                return true;
        }
        Wake();
        return true;
    }

    enum class Command { none, pause, restart, reset, quit };

    // Hands a request to the worker and waits until it is carried out. False when the device
    // had failed and no call has said so yet (a failure is reported once).
    bool Request(Command command)
    {
        std::unique_lock lock(m_mutex);
        const unsigned long ticket = ++m_requested;
        m_commands.push_back(command);
        lock.unlock();
        Wake();
        lock.lock();
        m_done.wait(lock, [&] { return m_served >= ticket; });
        if (m_failed && !m_failureReported) {
            m_failureReported = true;
            return false;
        }
        return true;
    }

private:
    struct Entry {
        WAVEHDR* header;
        std::uint64_t startFrame; // device frame where its first sample went
        std::uint64_t endFrame;   // device frame after its last sample, once fully written
        bool written;
    };

    void Wake()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(m_wakeFd, &one, sizeof one);
    }

    // Carries out the requests waiting now; false once asked to quit. Lock held.
    bool ServeCommands()
    {
        bool running = true;
        while (!m_commands.empty()) {
            const Command command = m_commands.front();
            m_commands.pop_front();
            switch (command) {
            case Command::pause: DoPause(); break;
            case Command::restart: DoRestart(); break;
            case Command::reset: DoReset(); break;
            case Command::quit: running = false; break;
            case Command::none: break;
            }
            ++m_served;
        }
        m_done.notify_all();
        return running;
    }

    void DoPause()
    {
        if (m_paused)
            return;
        m_paused = true;
        const snd_pcm_state_t state = snd_pcm_state(m_pcm);
        if (state != SND_PCM_STATE_RUNNING)
            return; // nothing sounds yet: stop writing, keep what the device holds
        if (m_canPause && snd_pcm_pause(m_pcm, 1) == 0) {
            m_hardwarePaused = true;
            return;
        }
        // Without a pause of its own the device is stopped, and what it had not played yet is
        // written again on restart.
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(m_pcm, &delay) < 0 || delay < 0)
            delay = 0;
        snd_pcm_drop(m_pcm);
        snd_pcm_prepare(m_pcm);
        RewindTo(m_writtenFrames - std::min<std::uint64_t>(static_cast<std::uint64_t>(delay), m_writtenFrames - m_playedBase));
    }

    void DoRestart()
    {
        if (!m_paused)
            return;
        m_paused = false;
        if (m_hardwarePaused) {
            m_hardwarePaused = false;
            if (snd_pcm_pause(m_pcm, 0) < 0)
                snd_pcm_prepare(m_pcm);
        }
    }

    // The device cannot go on: every header comes back, and later writes are refused.
    void Fail()
    {
        m_failed = true;
        snd_pcm_drop(m_pcm);
        for (const Entry& entry : m_queue)
            Return(entry.header);
        m_queue.clear();
        m_writeIndex = 0;
        m_writeOffset = 0;
    }

    void DoReset()
    {
        snd_pcm_drop(m_pcm);
        snd_pcm_prepare(m_pcm);
        m_hardwarePaused = false;
        for (const Entry& entry : m_queue)
            Return(entry.header);
        m_queue.clear();
        m_writeIndex = 0;
        m_writeOffset = 0;
        m_playedBase = m_writtenFrames;
    }

    // Makes frame `frame` the next one to write, within the headers still queued.
    void RewindTo(std::uint64_t frame)
    {
        m_writtenFrames = frame;
        m_playedBase = frame;
        for (std::size_t i = 0; i < m_queue.size(); ++i) {
            Entry& entry = m_queue[i];
            const bool started = i < m_writeIndex || (i == m_writeIndex && m_writeOffset > 0);
            if (!started)
                break;
            const std::uint64_t end = entry.written ? entry.endFrame : entry.startFrame + m_writeOffset / m_frameBytes;
            if (frame < end) {
                m_writeIndex = i;
                m_writeOffset = static_cast<std::size_t>(frame - entry.startFrame) * m_frameBytes;
                for (std::size_t j = i; j < m_queue.size(); ++j)
                    m_queue[j].written = false;
                return;
            }
        }
    }

    void Return(WAVEHDR* header)
    {
        SetFlags(header, WHDR_DONE, WHDR_INQUEUE);
        PostMessageInOrder(m_window, MM_WOM_DONE, reinterpret_cast<WPARAM>(this), reinterpret_cast<LPARAM>(header));
    }

    // Writes what the device takes now. Lock held; released around the ALSA calls.
    void WriteAvailable(std::unique_lock<std::mutex>& lock)
    {
        while (!m_paused && m_writeIndex < m_queue.size() && m_commands.empty()) {
            snd_pcm_state_t state = snd_pcm_state(m_pcm);
            if (state == SND_PCM_STATE_XRUN) {
                // The device ran dry while sound was still to come: it starts again.
                snd_pcm_prepare(m_pcm);
                m_playedBase = m_writtenFrames;
            }
            snd_pcm_sframes_t avail = snd_pcm_avail_update(m_pcm);
            if (avail < 0) {
                if (snd_pcm_recover(m_pcm, static_cast<int>(avail), 1) < 0)
                    Fail();
                continue;
            }
            if (avail == 0)
                return;
            Entry& entry = m_queue[m_writeIndex];
            if (m_writeOffset == 0)
                entry.startFrame = m_writtenFrames;
            const std::size_t frames = entry.header->dwBufferLength / m_frameBytes;
            const std::size_t left = frames - m_writeOffset / m_frameBytes;
            const char* data = entry.header->lpData + m_writeOffset;
            const snd_pcm_uframes_t count = std::min<snd_pcm_uframes_t>(left, static_cast<snd_pcm_uframes_t>(avail));
            snd_pcm_sframes_t written = 0;
            if (count > 0) {
                lock.unlock();
                written = snd_pcm_writei(m_pcm, data, count);
                lock.lock();
                if (written == -EAGAIN)
                    return;
                if (written < 0) {
                    if (snd_pcm_recover(m_pcm, static_cast<int>(written), 1) < 0)
                        Fail();
                    continue;
                }
            }
            m_writtenFrames += static_cast<std::uint64_t>(written);
            m_writeOffset += static_cast<std::size_t>(written) * m_frameBytes;
            if (m_writeOffset / m_frameBytes >= frames) {
                entry.endFrame = m_writtenFrames;
                entry.written = true;
                ++m_writeIndex;
                m_writeOffset = 0;
            }
        }
        // Everything queued is with the device: it must play even below its start threshold.
        if (!m_paused && m_writeIndex == m_queue.size() && snd_pcm_state(m_pcm) == SND_PCM_STATE_PREPARED &&
            m_writtenFrames > m_playedBase)
            snd_pcm_start(m_pcm);
    }

    // Returns the headers whose last sample the device has played. Lock held.
    void ReturnPlayed()
    {
        if (m_queue.empty())
            return;
        std::uint64_t played = m_playedBase;
        const snd_pcm_state_t state = snd_pcm_state(m_pcm);
        if (state == SND_PCM_STATE_DISCONNECTED) {
            Fail();
            return;
        }
        if (state == SND_PCM_STATE_XRUN) {
            played = m_writtenFrames;
        } else if (state == SND_PCM_STATE_RUNNING || state == SND_PCM_STATE_PAUSED || state == SND_PCM_STATE_DRAINING) {
            snd_pcm_sframes_t delay = 0;
            const int result = snd_pcm_delay(m_pcm, &delay);
            if (result == 0) {
                const std::uint64_t pending = static_cast<std::uint64_t>(std::max<snd_pcm_sframes_t>(delay, 0));
                played = m_writtenFrames > pending ? m_writtenFrames - pending : 0;
            } else if (result != -EPIPE && result != -EAGAIN && snd_pcm_recover(m_pcm, result, 1) < 0) {
                Fail();
                return;
            }
        }
        while (!m_queue.empty() && m_writeIndex > 0 && m_queue.front().written &&
               (m_queue.front().endFrame <= played || m_queue.front().endFrame <= m_playedBase)) {
            Return(m_queue.front().header);
            m_queue.pop_front();
            --m_writeIndex;
        }
        if (played > m_playedBase && state != SND_PCM_STATE_XRUN)
            m_playedBase = std::min(played, m_writtenFrames);
    }

    // Milliseconds until the oldest header written should have played; -1 for none.
    int WaitForPlayedMs() const
    {
        if (m_paused || m_queue.empty() || m_writeIndex == 0)
            return -1;
        const std::uint64_t end = m_queue.front().endFrame;
        const std::uint64_t ahead = end > m_playedBase ? end - m_playedBase : 0;
        const std::uint64_t ms = ahead * 1000 / m_rate + 1;
        return static_cast<int>(std::min<std::uint64_t>(ms, kPeriodMicroseconds / 1000));
    }

    void Run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (!ServeCommands())
                return;
            WriteAvailable(lock);
            ReturnPlayed();
            if (!m_commands.empty())
                continue;

            pollfd fds[kMaxPollDescriptors + 1];
            fds[0] = {m_wakeFd, POLLIN, 0};
            int count = 1;
            const bool writing = !m_paused && m_writeIndex < m_queue.size();
            if (writing) {
                const int pcmCount = snd_pcm_poll_descriptors(m_pcm, fds + 1, kMaxPollDescriptors);
                count += std::max(pcmCount, 0);
            }
            // While writing, the device's period wakes the worker, and played headers go back
            // then; with everything written, it wakes when the oldest should have sounded.
            const int timeout = writing ? static_cast<int>(kPeriodMicroseconds / 1000) + 5 : WaitForPlayedMs();
            lock.unlock();
            ::poll(fds, static_cast<nfds_t>(count), timeout);
            if (fds[0].revents & POLLIN) {
                std::uint64_t value;
                [[maybe_unused]] ssize_t got = ::read(m_wakeFd, &value, sizeof value);
            }
            if (count > 1) {
                unsigned short revents = 0;
                snd_pcm_poll_descriptors_revents(m_pcm, fds + 1, static_cast<unsigned>(count - 1), &revents);
            }
            lock.lock();
        }
    }

    snd_pcm_t* const m_pcm;
    const HWND m_window;
    const UINT m_frameBytes;
    const UINT m_rate;
    const bool m_canPause;
    int m_wakeFd = -1;
    std::thread m_worker;

    std::mutex m_mutex;
    std::condition_variable m_done;
    std::deque<Command> m_commands;
    unsigned long m_requested = 0;
    unsigned long m_served = 0;
    std::deque<Entry> m_queue; // every header with WHDR_INQUEUE, oldest first

    // Worker's side.
    std::size_t m_writeIndex = 0;   // the header being written; those before it are written
    std::size_t m_writeOffset = 0;  // bytes of it written
    std::uint64_t m_writtenFrames = 0;
    std::uint64_t m_playedBase = 0; // frames known played (the device was stopped there)
    bool m_paused = false;
    bool m_hardwarePaused = false;
    bool m_failed = false;
    bool m_failureReported = false;
};

MMRESULT OpenAlsa(AlsaWaveOut** device, const WAVEFORMATEX& format, HWND window)
{
    if (!PlainPcm(format))
        return WAVERR_BADFORMAT;
    snd_pcm_t* pcm = nullptr;
    int result = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (result == -EBUSY || result == -EAGAIN)
        return MMSYSERR_ALLOCATED;
    if (result < 0)
        return MMSYSERR_NODRIVER;
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    unsigned rate = format.nSamplesPerSec;
    unsigned bufferTime = kBufferMicroseconds, periodTime = kPeriodMicroseconds;
    if (snd_pcm_hw_params_any(pcm, hw) < 0 ||
        snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm, hw, AlsaFormat(format)) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, hw, format.nChannels) < 0 ||
        snd_pcm_hw_params_set_rate(pcm, hw, rate, 0) < 0) {
        snd_pcm_close(pcm);
        return WAVERR_BADFORMAT;
    }
    snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferTime, nullptr);
    snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodTime, nullptr);
    result = snd_pcm_hw_params(pcm, hw);
    if (result == -EBUSY) {
        snd_pcm_close(pcm);
        return MMSYSERR_ALLOCATED;
    }
    if (result < 0) {
        snd_pcm_close(pcm);
        return WAVERR_BADFORMAT;
    }
    const bool canPause = snd_pcm_hw_params_can_pause(hw) != 0;
    snd_pcm_uframes_t period = 0;
    snd_pcm_hw_params_get_period_size(hw, &period, nullptr);
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    if (snd_pcm_sw_params_current(pcm, sw) == 0) {
        snd_pcm_sw_params_set_avail_min(pcm, sw, period);
        snd_pcm_sw_params_set_start_threshold(pcm, sw, 1);
        snd_pcm_sw_params(pcm, sw);
    }
    if (snd_pcm_prepare(pcm) < 0) {
        snd_pcm_close(pcm);
        return MMSYSERR_NODRIVER;
    }
    *device = new AlsaWaveOut(pcm, window, format.nBlockAlign, rate, canPause);
    return MMSYSERR_NOERROR;
}

class AlsaBackend : public WaveOutBackend {
public:
    MMRESULT Open(LPHWAVEOUT handle, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR,
                  DWORD flags) override
    {
        if (handle == nullptr || format == nullptr || (flags & CALLBACK_WINDOW) == 0 || callback == 0)
            return MMSYSERR_INVALPARAM;
        if (deviceId != WAVE_MAPPER)
            return MMSYSERR_BADDEVICEID;
        AlsaWaveOut* device = nullptr;
        const MMRESULT result = OpenAlsa(&device, *format, static_cast<HWND>(callback));
        if (result != MMSYSERR_NOERROR)
            return result;
        std::lock_guard lock(m_mutex);
        m_devices.insert(device);
        *handle = reinterpret_cast<HWAVEOUT>(device);
        return MMSYSERR_NOERROR;
    }

    MMRESULT Close(HWAVEOUT handle) override
    {
        AlsaWaveOut* device = Find(handle);
        if (device == nullptr)
            return MMSYSERR_INVALHANDLE;
        if (device->Busy())
            return WAVERR_STILLPLAYING;
        {
            std::lock_guard lock(m_mutex);
            m_devices.erase(device);
        }
        delete device;
        return MMSYSERR_NOERROR;
    }

    MMRESULT PrepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size) override
    {
        if (Find(handle) == nullptr)
            return MMSYSERR_INVALHANDLE;
        if (header == nullptr || size < sizeof(WAVEHDR) || header->lpData == nullptr)
            return MMSYSERR_INVALPARAM;
        SetFlags(header, WHDR_PREPARED, 0);
        return MMSYSERR_NOERROR;
    }

    MMRESULT UnprepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size) override
    {
        if (Find(handle) == nullptr)
            return MMSYSERR_INVALHANDLE;
        if (header == nullptr || size < sizeof(WAVEHDR))
            return MMSYSERR_INVALPARAM;
        if (Flags(header) & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        SetFlags(header, 0, WHDR_PREPARED);
        return MMSYSERR_NOERROR;
    }

    MMRESULT Write(HWAVEOUT handle, LPWAVEHDR header, UINT size) override
    {
        AlsaWaveOut* device = Find(handle);
        if (device == nullptr)
            return MMSYSERR_INVALHANDLE;
        if (header == nullptr || size < sizeof(WAVEHDR))
            return MMSYSERR_INVALPARAM;
        const DWORD flags = Flags(header);
        if ((flags & WHDR_PREPARED) == 0)
            return WAVERR_UNPREPARED;
        if (flags & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        return device->Queue(header) ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
    }

    MMRESULT Pause(HWAVEOUT handle) override { return Run(handle, AlsaWaveOut::Command::pause); }
    MMRESULT Restart(HWAVEOUT handle) override { return Run(handle, AlsaWaveOut::Command::restart); }
    MMRESULT Reset(HWAVEOUT handle) override { return Run(handle, AlsaWaveOut::Command::reset); }

private:
    AlsaWaveOut* Find(HWAVEOUT handle)
    {
        std::lock_guard lock(m_mutex);
        auto* device = reinterpret_cast<AlsaWaveOut*>(handle);
        return m_devices.count(device) != 0 ? device : nullptr;
    }

    MMRESULT Run(HWAVEOUT handle, AlsaWaveOut::Command command)
    {
        AlsaWaveOut* device = Find(handle);
        if (device == nullptr)
            return MMSYSERR_INVALHANDLE;
        return device->Request(command) ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
    }

    std::mutex m_mutex;
    std::set<AlsaWaveOut*> m_devices;
};

std::mutex backendMutex;
std::shared_ptr<WaveOutBackend> installedBackend;

WaveOutBackend& Backend()
{
    static AlsaBackend alsa;
    std::lock_guard lock(backendMutex);
    return installedBackend ? *installedBackend : static_cast<WaveOutBackend&>(alsa);
}

} // namespace

void SetWaveOutBackend(std::shared_ptr<WaveOutBackend> backend)
{
    std::lock_guard lock(backendMutex);
    installedBackend = std::move(backend);
}

MMRESULT waveOutOpen(LPHWAVEOUT handle, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags)
{
    return Backend().Open(handle, deviceId, format, callback, instance, flags);
}

MMRESULT waveOutClose(HWAVEOUT handle) { return Backend().Close(handle); }

MMRESULT waveOutPrepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size)
{
    return Backend().PrepareHeader(handle, header, size);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size)
{
    return Backend().UnprepareHeader(handle, header, size);
}

MMRESULT waveOutWrite(HWAVEOUT handle, LPWAVEHDR header, UINT size) { return Backend().Write(handle, header, size); }
MMRESULT waveOutPause(HWAVEOUT handle) { return Backend().Pause(handle); }
MMRESULT waveOutRestart(HWAVEOUT handle) { return Backend().Restart(handle); }
MMRESULT waveOutReset(HWAVEOUT handle) { return Backend().Reset(handle); }
