#include "ServerSink.h"

#include "CaptureBridge.h"
#include "CaptureFormatRecord.h"
#include "InstalledPaths.h"
#include "ServerRoute.h"
#include "ServerSinks.h"
#include "VirtualDevice.h"
#include "WaveOut.h"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <thread>
#include <vector>

// libpulse's record of a sample format, rate and channel count.
using SampleFormat = pa_sample_spec;

namespace {

constexpr const char* kClientName = "WaveHarvester capture driver";
constexpr const char* kMonitorName = "waveharvester.monitor";
constexpr auto kRetryInterval = std::chrono::milliseconds(500);
// The monitor's sound comes in fragments of this many frames, and forwarding keeps at most two
// of them queued for the real sink: few wake-ups a second, and under 50 ms added to what the
// user hears. A power of two, since PipeWire runs its graph in quanta of the smallest fragment
// asked for, rounded down to one.
constexpr uint32_t kCaptureFrames = 1024;

// No sound (only silence, or nothing) from the sink for this long ends the stream, also where the
// server never suspends an idle sink.
constexpr pa_usec_t kIdleUsec = 2 * PA_USEC_PER_SEC;
constexpr int kOperationSeconds = 5;

void Log(const std::string& text)
{
    std::fprintf(stderr, "capdrv: %s\n", text.c_str());
}

struct SinkEntry {
    std::string name;
    std::string description;
    uint32_t index = PA_INVALID_INDEX;
    uint32_t ownerModule = PA_INVALID_INDEX;
    SampleFormat sampleFormat{};
    pa_channel_map map{};
};

// The bridge library, loaded as the ALSA virtual device loads it.
struct Bridge {
    void* library = nullptr;
    StartMappingFunction start = nullptr;
    StopMappingFunction stop = nullptr;
    MapBufferFunction map = nullptr;

    void Load()
    {
        const char* path = std::getenv("WAVEHARVESTER_BRIDGE_LIBRARY");
        std::string file = path != nullptr && *path != '\0' ? path : FileBeside(OwnExecutable(), WH_BRIDGE_BESIDE_CAPDRV);
        if (file.empty())
            file = WH_BRIDGE_LIBRARY_PATH;
        library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            Log(std::string("cannot load the bridge library: ") + ::dlerror());
            return;
        }
        start = reinterpret_cast<StartMappingFunction>(::dlsym(library, "StartMapping"));
        stop = reinterpret_cast<StopMappingFunction>(::dlsym(library, "StopMapping"));
        map = reinterpret_cast<MapBufferFunction>(::dlsym(library, "MapBuffer"));
        if (start == nullptr || stop == nullptr || map == nullptr) {
            Log("the bridge library lacks StartMapping, StopMapping or MapBuffer");
            start = nullptr;
        }
    }
    bool Usable() const { return start != nullptr; }
};

// The integer format the sink's sound reaches the bridge in: the sink's own where the capture
// area takes it, else 32-bit (float) or 16-bit (other byte orders and encodings).
pa_sample_format_t CaptureFormatOf(pa_sample_format_t format)
{
    switch (format) {
    case PA_SAMPLE_U8:
    case PA_SAMPLE_S16LE:
    case PA_SAMPLE_S24LE:
    case PA_SAMPLE_S32LE: return format;
    case PA_SAMPLE_FLOAT32LE:
    case PA_SAMPLE_FLOAT32BE:
    case PA_SAMPLE_S32BE:
    case PA_SAMPLE_S24_32LE:
    case PA_SAMPLE_S24_32BE: return PA_SAMPLE_S32LE;
    case PA_SAMPLE_S24BE: return PA_SAMPLE_S24LE;
    default: return PA_SAMPLE_S16LE;
    }
}

// The null sink's arguments. Without rewinds: a sink that rewinds to mix a new player in at once
// renders that player's first fragment again after its monitor already passed the silence there,
// so the monitor (and the recording) would miss the first sound.
std::string ModuleArguments(const SampleFormat& sample, const pa_channel_map& map, bool noRewinds)
{
    char mapText[PA_CHANNEL_MAP_SNPRINT_MAX];
    pa_channel_map_snprint(mapText, sizeof mapText, &map);
    return std::string("sink_name=") + kVirtualSinkName + " sink_properties='device.description=\"" +
           kVirtualDeviceName + "\"' format=" + pa_sample_format_to_string(sample.format) +
           " rate=" + std::to_string(sample.rate) + " channels=" + std::to_string(sample.channels) +
           " channel_map=" + mapText + (noRewinds ? " norewinds=1" : "");
}

bool AllZero(const void* data, std::size_t bytes)
{
    const auto* at = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < bytes; ++i)
        if (at[i] != 0)
            return false;
    return true;
}

} // namespace

// One connection to the server at a time, on a threaded main loop; the controller thread
// (Run) connects, sets up the sink and waits; the streams' data flows in the loop's thread.
class ServerSink::Worker {
public:
    Worker() = default;

    ~Worker()
    {
        if (m_loop != nullptr)
            pa_threaded_mainloop_free(m_loop);
    }

    bool Start(const std::string& realDevice, std::string* error)
    {
        m_loop = pa_threaded_mainloop_new();
        if (m_loop == nullptr || pa_threaded_mainloop_start(m_loop) < 0) {
            *error = "cannot start the sound server's main loop";
            return false;
        }
        m_bridge.Load(); // only the running sink hands sound to the bridge
        m_realDevice = realDevice;
        m_controller = std::thread([this] { Run(); });
        return true;
    }

    void SetRealDevice(const std::string& realDevice)
    {
        pa_threaded_mainloop_lock(m_loop);
        m_realDevice = realDevice;
        m_routeChanged = true;
        pa_threaded_mainloop_signal(m_loop, 0);
        pa_threaded_mainloop_unlock(m_loop);
    }

    void Stop()
    {
        if (!m_controller.joinable())
            return;
        pa_threaded_mainloop_lock(m_loop);
        m_stopping = true;
        pa_threaded_mainloop_signal(m_loop, 0);
        pa_threaded_mainloop_unlock(m_loop);
        {
            std::lock_guard lock(m_retryMutex);
            m_retryWake.notify_all();
        }
        m_controller.join();
        pa_threaded_mainloop_stop(m_loop);
    }

    // Used by RemoveServerSink: connects once and removes a sink left behind.
    bool RemoveLeftover(std::string* message)
    {
        m_loop = pa_threaded_mainloop_new();
        if (m_loop == nullptr || pa_threaded_mainloop_start(m_loop) < 0) {
            *message = "cannot start the sound server's main loop";
            return false;
        }
        pa_threaded_mainloop_lock(m_loop);
        bool ok = true;
        if (!Connect()) {
            *message = "no sound server runs; no sink to remove";
            Disconnect();
        } else {
            SinkEntry ours;
            if (!FindSink(kVirtualSinkName, &ours)) {
                *message = "the sound server holds no sink \"" + std::string(kVirtualSinkName) + "\"";
            } else {
                m_module = ours.ownerModule;
                m_sink = ours;
                ok = RemoveSink(message);
            }
            Disconnect();
        }
        pa_threaded_mainloop_unlock(m_loop);
        pa_threaded_mainloop_stop(m_loop);
        return ok;
    }

private:
    // --- controller thread ------------------------------------------------------------------

    void Run()
    {
        bool reported = false;
        pa_threaded_mainloop_lock(m_loop);
        while (!m_stopping) {
            if (!Connect() || !SetUpSink()) {
                Disconnect();
                if (!reported)
                    Log("no sound server to keep the sink \"" + std::string(kVirtualSinkName) + "\" in; trying again");
                reported = true;
                pa_threaded_mainloop_unlock(m_loop);
                {
                    std::unique_lock lock(m_retryMutex);
                    m_retryWake.wait_for(lock, kRetryInterval);
                }
                pa_threaded_mainloop_lock(m_loop);
                continue;
            }
            reported = false;
            Log("sink \"" + std::string(kVirtualSinkName) + "\" ready in the sound server " +
                pa_context_get_server(m_context) + ", forwarding to \"" + m_forwardSink + "\"");
            while (!m_stopping && ContextGood()) {
                if (m_routeChanged) {
                    // Route waits on the server itself and may take the signal of a stop or
                    // of another change: look again before waiting.
                    m_routeChanged = false;
                    Route();
                    continue;
                }
                pa_threaded_mainloop_wait(m_loop);
            }
            if (m_stopping) {
                std::string message;
                if (ContextGood()) {
                    RemoveSink(&message);
                    Log(message);
                }
            } else {
                Log("lost the sound server; waiting for it to come back");
            }
            Disconnect();
        }
        pa_threaded_mainloop_unlock(m_loop);
    }

    bool ContextGood() const
    {
        return m_context != nullptr && pa_context_get_state(m_context) == PA_CONTEXT_READY;
    }

    // Waits (loop locked) until `done` holds, the connection goes or kOperationSeconds pass, so
    // that a stuck server never holds capdrv. Every callback of ours signals the loop; a timer
    // wakes the wait at the time limit.
    template <typename Done>
    bool WaitFor(Done done)
    {
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
        struct timeval at;
        pa_gettimeofday(&at);
        pa_timeval_add(&at, kOperationSeconds * PA_USEC_PER_SEC);
        bool late = false;
        struct Deadline {
            Worker* worker;
            bool* late;
        } deadline{this, &late};
        pa_time_event* timer = api->time_new(
            api, &at,
            [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
                auto* d = static_cast<Deadline*>(data);
                *d->late = true;
                d->worker->Signal();
            },
            &deadline);
        while (!done() && !late)
            pa_threaded_mainloop_wait(m_loop);
        api->time_free(timer);
        return done();
    }

    // Waits for an operation to end; false when it failed, the connection went or it took too
    // long.
    bool Wait(pa_operation* operation)
    {
        if (operation == nullptr)
            return false;
        pa_operation_set_state_callback(
            operation, [](pa_operation*, void* self) { static_cast<Worker*>(self)->Signal(); }, this);
        WaitFor([&] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING || !ContextGood(); });
        const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
        if (!done)
            pa_operation_cancel(operation);
        pa_operation_set_state_callback(operation, nullptr, nullptr);
        pa_operation_unref(operation);
        return done && ContextGood();
    }

    bool Connect()
    {
        m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), kClientName);
        if (m_context == nullptr)
            return false;
        pa_context_set_state_callback(
            m_context, [](pa_context*, void* self) { static_cast<Worker*>(self)->Signal(); }, this);
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return false;
        if (!WaitFor([&] {
                const pa_context_state_t state = pa_context_get_state(m_context);
                return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
            }) ||
            !ContextGood())
            return false;
        pa_context_set_subscribe_callback(
            m_context,
            [](pa_context*, pa_subscription_event_type_t, uint32_t, void* self) {
                auto* worker = static_cast<Worker*>(self);
                worker->m_routeChanged = true;
                worker->Signal();
            },
            this);
        pa_operation* subscribe = pa_context_subscribe(
            m_context, static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER),
            nullptr, nullptr);
        return Wait(subscribe);
    }

    void Disconnect()
    {
        EndStreams();
        if (m_context != nullptr) {
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
            m_context = nullptr;
        }
        m_module = PA_INVALID_INDEX;
        m_sink = SinkEntry{};
    }

    void Signal() { pa_threaded_mainloop_signal(m_loop, 0); }

    // The server's sinks and its default sink.
    bool ReadServer(std::vector<SinkEntry>* sinks, std::string* defaultSink)
    {
        struct Reading {
            Worker* worker;
            std::vector<SinkEntry>* sinks;
            std::string* defaultSink;
        } reading{this, sinks, defaultSink};
        sinks->clear();
        pa_operation* server = pa_context_get_server_info(
            m_context,
            [](pa_context*, const pa_server_info* info, void* data) {
                auto* r = static_cast<Reading*>(data);
                if (info != nullptr && info->default_sink_name != nullptr)
                    *r->defaultSink = info->default_sink_name;
                r->worker->Signal();
            },
            &reading);
        if (!Wait(server))
            return false;
        pa_operation* list = pa_context_get_sink_info_list(
            m_context,
            [](pa_context*, const pa_sink_info* info, int eol, void* data) {
                auto* r = static_cast<Reading*>(data);
                if (eol == 0 && info != nullptr) {
                    SinkEntry entry;
                    entry.name = info->name != nullptr ? info->name : "";
                    entry.description = info->description != nullptr ? info->description : "";
                    entry.index = info->index;
                    entry.ownerModule = info->owner_module;
                    entry.sampleFormat = info->sample_spec;
                    entry.map = info->channel_map;
                    r->sinks->push_back(std::move(entry));
                }
                r->worker->Signal();
            },
            &reading);
        return Wait(list);
    }

    bool FindSink(const std::string& name, SinkEntry* found)
    {
        std::vector<SinkEntry> sinks;
        std::string defaultSink;
        if (!ReadServer(&sinks, &defaultSink))
            return false;
        for (const SinkEntry& sink : sinks)
            if (sink.name == name) {
                *found = sink;
                return true;
            }
        return false;
    }

    // The sink the sound goes on to: the one RealDevice names (its name, "pulse:<name>" or the
    // name the device list shows), else "(Auto select)": the sink that was the default before
    // ours, else the first other sink.
    const SinkEntry* ForwardTarget(const std::vector<SinkEntry>& sinks) const
    {
        const std::string setting =
            m_realDevice.rfind("pulse:", 0) == 0 ? m_realDevice.substr(std::strlen("pulse:")) : m_realDevice;
        auto others = [&](auto&& match) -> const SinkEntry* {
            for (const SinkEntry& sink : sinks)
                if (sink.name != kVirtualSinkName && match(sink))
                    return &sink;
            return nullptr;
        };
        if (!setting.empty()) {
            if (const SinkEntry* named = others([&](const SinkEntry& sink) {
                    return sink.name == setting || DeviceListName(sink.description) == setting;
                }))
                return named;
        }
        // The default before ours as seen here, else as the device chooser kept it.
        for (const std::string& earlier : {m_earlierDefault, ReadEarlierDefaultSink()})
            if (!earlier.empty())
                if (const SinkEntry* sink = others([&](const SinkEntry& entry) { return entry.name == earlier; }))
                    return sink;
        return others([](const SinkEntry&) { return true; });
    }

    // Finds or makes our sink and starts recording and forwarding it.
    bool SetUpSink()
    {
        std::vector<SinkEntry> sinks;
        std::string defaultSink;
        if (!ReadServer(&sinks, &defaultSink))
            return false;
        NoteDefault(defaultSink);
        const SinkEntry* target = ForwardTarget(sinks);
        SinkEntry ours;
        bool found = false;
        for (const SinkEntry& sink : sinks)
            if (sink.name == kVirtualSinkName) {
                ours = sink;
                found = true;
            }
        if (found) {
            Log("taking over the sink \"" + std::string(kVirtualSinkName) + "\" already in the server");
        } else {
            SampleFormat sample{PA_SAMPLE_S16LE, 44100, 2};
            pa_channel_map map;
            pa_channel_map_init_stereo(&map);
            if (target != nullptr) {
                sample = target->sampleFormat;
                map = target->map;
            }
            // A server whose null sink knows no "norewinds" refuses it; then without.
            uint32_t module = LoadModule(ModuleArguments(sample, map, true));
            if (module == PA_INVALID_INDEX)
                module = LoadModule(ModuleArguments(sample, map, false));
            if (module == PA_INVALID_INDEX) {
                Log(std::string("the sound server did not load module-null-sink: ") +
                    pa_strerror(pa_context_errno(m_context)));
                return false;
            }
            if (!FindSink(kVirtualSinkName, &ours)) {
                Log("the sound server did not show the new sink \"" + std::string(kVirtualSinkName) + "\"");
                return false;
            }
        }
        m_sink = ours;
        m_module = ours.ownerModule;
        if (!StartRecording())
            return false;
        Route();
        return true;
    }

    uint32_t LoadModule(const std::string& arguments)
    {
        m_loaded = PA_INVALID_INDEX;
        pa_operation* load = pa_context_load_module(
            m_context, "module-null-sink", arguments.c_str(),
            [](pa_context*, uint32_t index, void* self) {
                static_cast<Worker*>(self)->m_loaded = index;
                static_cast<Worker*>(self)->Signal();
            },
            this);
        return Wait(load) ? m_loaded : PA_INVALID_INDEX;
    }

    void NoteDefault(const std::string& defaultSink)
    {
        if (!defaultSink.empty() && defaultSink != kVirtualSinkName)
            m_earlierDefault = defaultSink;
    }

    // Follows the server's changes: default sink, sinks coming and going, RealDevice.
    void Route()
    {
        std::vector<SinkEntry> sinks;
        std::string defaultSink;
        if (!ReadServer(&sinks, &defaultSink))
            return;
        NoteDefault(defaultSink);
        bool oursThere = false;
        for (const SinkEntry& sink : sinks)
            oursThere = oursThere || sink.index == m_sink.index;
        if (!oursThere) {
            // Someone unloaded our sink: make it again.
            Log("the sink \"" + std::string(kVirtualSinkName) + "\" went; making it again");
            EndStreams();
            m_module = PA_INVALID_INDEX;
            if (!SetUpSink())
                pa_context_disconnect(m_context);
            return;
        }
        const SinkEntry* target = ForwardTarget(sinks);
        const std::string name = target != nullptr ? target->name : "";
        const bool forwarding = m_forward != nullptr && pa_stream_get_state(m_forward) == PA_STREAM_READY;
        if (name == m_forwardSink && (forwarding || name.empty()))
            return;
        // A new stream into the new sink: ours never moves, so the server cannot move it into
        // our own sink when its sink goes (the sound would go round in circles).
        EndForward();
        m_forwardSink = name;
        if (!name.empty())
            StartForward();
        else
            Log("no other sink to forward the sound to");
    }

    bool StartRecording()
    {
        SampleFormat sample = m_sink.sampleFormat;
        sample.format = CaptureFormatOf(sample.format);
        m_captureFormat = sample;
        MakeCaptureFormatRecord(sample.channels, sample.rate, static_cast<unsigned>(pa_sample_size(&sample)) * 8, m_format);
        m_record = pa_stream_new(m_context, "WaveHarvester capture", &sample, &m_sink.map);
        if (m_record == nullptr)
            return false;
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(kCaptureFrames * pa_frame_size(&sample));
        pa_stream_set_read_callback(
            m_record, [](pa_stream*, size_t, void* self) { static_cast<Worker*>(self)->OnCaptured(); }, this);
        pa_stream_set_suspended_callback(
            m_record,
            [](pa_stream* stream, void* self) {
                if (pa_stream_is_suspended(stream) == 1)
                    static_cast<Worker*>(self)->EndStream();
            },
            this);
        pa_stream_set_state_callback(
            m_record, [](pa_stream*, void* self) { static_cast<Worker*>(self)->Signal(); }, this);
        // The monitor keeps our sink from being suspended: a sink that wakes up from suspension
        // renders its first fragment before its monitor runs again, and that sound would be lost.
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
        if (pa_stream_connect_record(m_record, kMonitorName, &attr, flags) < 0)
            return false;
        WaitFor([&] { return pa_stream_get_state(m_record) != PA_STREAM_CREATING || !ContextGood(); });
        if (pa_stream_get_state(m_record) != PA_STREAM_READY) {
            Log(std::string("cannot record the sink's monitor: ") + pa_strerror(pa_context_errno(m_context)));
            return false;
        }
        m_idleTimer = pa_threaded_mainloop_get_api(m_loop)->time_new(
            pa_threaded_mainloop_get_api(m_loop), nullptr,
            [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
                static_cast<Worker*>(self)->CheckIdle();
            },
            this);
        ArmIdleTimer();
        return true;
    }

    bool StartForward()
    {
        // The real sink gets the sound as it was recorded for the bridge (integers where the
        // sink mixes in float); the server converts it back exactly.
        m_forward = pa_stream_new(m_context, "WaveHarvester forwarding", &m_captureFormat, &m_sink.map);
        if (m_forward == nullptr)
            return false;
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        // Forwarding starts once a fragment and a half is queued: room for one that comes late.
        const auto frame = static_cast<uint32_t>(pa_frame_size(&m_captureFormat));
        attr.tlength = 2 * kCaptureFrames * frame;
        attr.prebuf = (kCaptureFrames + kCaptureFrames / 2) * frame;
        attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(-1);
        pa_stream_set_state_callback(
            m_forward, [](pa_stream*, void* self) { static_cast<Worker*>(self)->Signal(); }, this);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED |
                                                          PA_STREAM_DONT_MOVE);
        if (pa_stream_connect_playback(m_forward, m_forwardSink.c_str(), &attr, flags, nullptr, nullptr) < 0)
            return false;
        WaitFor([&] { return pa_stream_get_state(m_forward) != PA_STREAM_CREATING || !ContextGood(); });
        if (pa_stream_get_state(m_forward) != PA_STREAM_READY) {
            Log("cannot play into \"" + m_forwardSink + "\": " + pa_strerror(pa_context_errno(m_context)));
            EndForward();
            return false;
        }
        m_forwardCorked = true;
        m_startQueued = 0;
        WriteServerForwardSink(m_forwardSink);
        Log("forwarding to \"" + m_forwardSink + "\"");
        return true;
    }

    void EndForward()
    {
        if (m_forward == nullptr)
            return;
        WriteServerForwardSink("");
        pa_stream_set_state_callback(m_forward, nullptr, nullptr);
        pa_stream_disconnect(m_forward);
        pa_stream_unref(m_forward);
        m_forward = nullptr;
    }

    void EndStreams()
    {
        EndStream();
        EndForward();
        if (m_idleTimer != nullptr) {
            pa_threaded_mainloop_get_api(m_loop)->time_free(m_idleTimer);
            m_idleTimer = nullptr;
        }
        if (m_record != nullptr) {
            pa_stream_set_read_callback(m_record, nullptr, nullptr);
            pa_stream_set_suspended_callback(m_record, nullptr, nullptr);
            pa_stream_set_state_callback(m_record, nullptr, nullptr);
            pa_stream_disconnect(m_record);
            pa_stream_unref(m_record);
            m_record = nullptr;
        }
        m_forwardSink.clear();
    }

    // Gives the earlier default back where ours is the default, then unloads our sink.
    bool RemoveSink(std::string* message)
    {
        EndStreams();
        std::vector<SinkEntry> sinks;
        std::string defaultSink;
        if (!ReadServer(&sinks, &defaultSink)) {
            *message = "the sound server did not answer; the sink stays";
            return false;
        }
        std::string given;
        if (defaultSink == kVirtualSinkName) {
            m_realDevice.clear(); // the earlier default, else the first other sink
            if (const SinkEntry* earlier = ForwardTarget(sinks)) {
                given = earlier->name;
                Wait(pa_context_set_default_sink(m_context, given.c_str(), nullptr, nullptr));
            }
        }
        if (m_module == PA_INVALID_INDEX) {
            *message = "the sink \"" + std::string(kVirtualSinkName) + "\" has no module to unload";
            return false;
        }
        int success = 0;
        struct Unloading {
            Worker* worker;
            int* success;
        } unloading{this, &success};
        pa_operation* unload = pa_context_unload_module(
            m_context, m_module,
            [](pa_context*, int ok, void* data) {
                auto* u = static_cast<Unloading*>(data);
                *u->success = ok;
                u->worker->Signal();
            },
            &unloading);
        if (!Wait(unload) || !success) {
            *message = "the sound server did not remove the sink \"" + std::string(kVirtualSinkName) + "\"";
            return false;
        }
        m_module = PA_INVALID_INDEX;
        *message = "removed the sink \"" + std::string(kVirtualSinkName) + "\" from the sound server" +
                   (given.empty() ? std::string() : "; the default sink is \"" + given + "\" again");
        return true;
    }

    // --- main loop thread -------------------------------------------------------------------

    void Cork(bool cork)
    {
        if (m_forward == nullptr || m_forwardCorked == cork || pa_stream_get_state(m_forward) != PA_STREAM_READY)
            return;
        m_forwardCorked = cork;
        if (pa_operation* operation = pa_stream_cork(m_forward, cork ? 1 : 0, nullptr, nullptr))
            pa_operation_unref(operation);
    }

    void ArmIdleTimer()
    {
        if (m_idleTimer != nullptr) {
            struct timeval at;
            pa_gettimeofday(&at);
            pa_timeval_add(&at, kIdleUsec / 2);
            pa_threaded_mainloop_get_api(m_loop)->time_restart(m_idleTimer, &at);
        }
    }

    void CheckIdle()
    {
        if (m_flowing && pa_rtclock_now() - m_lastSound >= kIdleUsec)
            EndStream();
        ArmIdleTimer();
    }

    // The sink went idle: the stream ends for the bridge and forwarding rests.
    void EndStream()
    {
        if (!m_flowing)
            return;
        m_flowing = false;
        if (m_mapping && m_bridge.Usable())
            m_bridge.stop();
        m_mapping = false;
        Cork(true);
    }

    void OnCaptured()
    {
        const void* data = nullptr;
        size_t bytes = 0;
        while (m_record != nullptr && pa_stream_readable_size(m_record) > 0) {
            if (pa_stream_peek(m_record, &data, &bytes) < 0 || bytes == 0)
                return;
            if (data == nullptr) {
                // A hole in the monitor's sound: silence of that length.
                m_silence.assign(bytes, 0);
                data = m_silence.data();
            }
            Take(data, bytes);
            pa_stream_drop(m_record);
        }
    }

    void Take(const void* data, size_t bytes)
    {
        const bool silent = AllZero(data, bytes);
        if (!m_flowing) {
            if (silent)
                return; // an idle sink's silence is no stream yet
            m_flowing = true;
            m_lastSound = pa_rtclock_now();
            m_mapping = m_bridge.Usable() && m_bridge.start() == 1;
            m_startQueued = 0;
        }
        if (!silent)
            m_lastSound = pa_rtclock_now();
        Forward(data, bytes, silent);
        if (m_mapping) {
            CaptureBufferHeader header{data, static_cast<std::uint32_t>(bytes), 0, 0, 0, 0};
            m_bridge.map(m_format, &header);
        }
    }

    // Plays the sound on into the real sink. Where that sink's clock runs slower than ours the
    // queue grows past its target; then silence is left out, never sound.
    void Forward(const void* data, size_t bytes, bool silent)
    {
        if (m_forward == nullptr || pa_stream_get_state(m_forward) != PA_STREAM_READY)
            return;
        if (silent && pa_stream_writable_size(m_forward) == 0)
            return;
        pa_stream_write(m_forward, data, bytes, nullptr, 0, PA_SEEK_RELATIVE);
        // A resting stream plays again once a fragment and a half is queued (not every server
        // holds a stream back until its start level): room for a fragment that comes late.
        m_startQueued += bytes;
        if (m_forwardCorked && m_startQueued >= (kCaptureFrames + kCaptureFrames / 2) * pa_frame_size(&m_captureFormat))
            Cork(false);
    }

    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    std::thread m_controller;
    std::mutex m_retryMutex;
    std::condition_variable m_retryWake;
    std::atomic<bool> m_stopping{false};
    bool m_routeChanged = false;
    std::string m_realDevice;
    std::string m_earlierDefault;

    SinkEntry m_sink;
    uint32_t m_module = PA_INVALID_INDEX;
    uint32_t m_loaded = PA_INVALID_INDEX;
    pa_stream* m_record = nullptr;
    pa_stream* m_forward = nullptr;
    std::string m_forwardSink;
    bool m_forwardCorked = true;
    size_t m_startQueued = 0; // bytes queued since the forwarding stream last rested
    pa_time_event* m_idleTimer = nullptr;
    SampleFormat m_captureFormat{};
    unsigned char m_format[kCaptureFormatRecordSize] = {};
    std::vector<unsigned char> m_silence;

    Bridge m_bridge;
    bool m_flowing = false;
    bool m_mapping = false;
    pa_usec_t m_lastSound = 0;
};

ServerSink::ServerSink() = default;

ServerSink::~ServerSink()
{
    Stop();
}

bool ServerSink::Start(const std::string& realDevice, std::string* error)
{
    m_worker = std::make_unique<Worker>();
    if (!m_worker->Start(realDevice, error)) {
        m_worker.reset();
        return false;
    }
    return true;
}

void ServerSink::SetRealDevice(const std::string& realDevice)
{
    if (m_worker)
        m_worker->SetRealDevice(realDevice);
}

void ServerSink::Stop()
{
    if (m_worker) {
        m_worker->Stop();
        m_worker.reset();
    }
}

bool RemoveServerSink(std::string* message)
{
    ServerSink::Worker worker;
    return worker.RemoveLeftover(message);
}
