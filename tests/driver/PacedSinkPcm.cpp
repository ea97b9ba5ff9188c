// A "real" playback device for the driver's tests: an ALSA I/O plugin of type "pacedsink" that
// consumes frames at the sample rate like a sound card (its pointer, delay and poll wake-ups
// follow the wall clock), appends every frame it is handed to a file, and pauses. When it runs
// dry it waits for more instead of stopping (the tests run on a busy machine).
// Fields: file "path" (required), pause false (cannot pause), nofloat true (no FLOAT_LE),
// busy true (every open fails with EBUSY, a device that exists but cannot be opened),
// maxbytes N (the largest buffer it takes, in bytes).
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

namespace {

struct Sink {
    snd_pcm_ioplug_t io{};
    int output = -1;
    int timer = -1;
    unsigned frameBytes = 0;
    snd_pcm_uframes_t boundary = 0;
    snd_pcm_uframes_t availMin = 1;
    unsigned long long handed = 0; // frames since prepare
    unsigned long long played = 0;
    unsigned long long basePlayed = 0;
    timespec base{};
    bool running = false;
    bool paused = false;
};

double Seconds(const timespec& from, const timespec& to)
{
    return static_cast<double>(to.tv_sec - from.tv_sec) + static_cast<double>(to.tv_nsec - from.tv_nsec) / 1e9;
}

void Update(Sink* sink)
{
    if (!sink->running || sink->paused)
        return;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto played = sink->basePlayed + static_cast<unsigned long long>(Seconds(sink->base, now) * sink->io.rate);
    if (played >= sink->handed) {
        // Ran dry: the clock waits for the next frames.
        sink->played = sink->handed;
        sink->basePlayed = sink->handed;
        sink->base = now;
    } else {
        sink->played = played;
    }
}

void Rebase(Sink* sink)
{
    clock_gettime(CLOCK_MONOTONIC, &sink->base);
    sink->basePlayed = sink->played;
}

void ArmTimer(Sink* sink, bool on)
{
    itimerspec timerSetting{};
    if (on && sink->io.rate != 0) {
        const long nanoseconds = static_cast<long>(1e9 * static_cast<double>(sink->io.period_size) / sink->io.rate);
        timerSetting.it_interval.tv_sec = nanoseconds / 1000000000L;
        timerSetting.it_interval.tv_nsec = std::max(nanoseconds % 1000000000L, 1000L);
        timerSetting.it_value = timerSetting.it_interval;
    }
    timerfd_settime(sink->timer, 0, &timerSetting, nullptr);
}

int Start(snd_pcm_ioplug_t* io)
{
    auto* sink = static_cast<Sink*>(io->private_data);
    sink->running = true;
    Rebase(sink);
    return 0;
}

int Stop(snd_pcm_ioplug_t* io)
{
    static_cast<Sink*>(io->private_data)->running = false;
    return 0;
}

snd_pcm_sframes_t Pointer(snd_pcm_ioplug_t* io)
{
    auto* sink = static_cast<Sink*>(io->private_data);
    Update(sink);
    return static_cast<snd_pcm_sframes_t>(sink->boundary != 0 ? sink->played % sink->boundary : sink->played);
}

int Delay(snd_pcm_ioplug_t* io, snd_pcm_sframes_t* delay)
{
    auto* sink = static_cast<Sink*>(io->private_data);
    Update(sink);
    *delay = static_cast<snd_pcm_sframes_t>(sink->handed - sink->played);
    return 0;
}

snd_pcm_sframes_t Transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas, snd_pcm_uframes_t offset,
                           snd_pcm_uframes_t size)
{
    auto* sink = static_cast<Sink*>(io->private_data);
    const char* data = static_cast<const char*>(areas->addr) + (areas->first + areas->step * offset) / 8;
    std::size_t left = size * sink->frameBytes;
    while (left > 0) {
        ssize_t done = ::write(sink->output, data, left);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return -EIO;
        data += done;
        left -= static_cast<std::size_t>(done);
    }
    sink->handed += size;
    return static_cast<snd_pcm_sframes_t>(size);
}

int Prepare(snd_pcm_ioplug_t* io)
{
    auto* sink = static_cast<Sink*>(io->private_data);
    sink->handed = sink->played = sink->basePlayed = 0;
    sink->running = sink->paused = false;
    ArmTimer(sink, true);
    return 0;
}

int HwParams(snd_pcm_ioplug_t* io, snd_pcm_hw_params_t*)
{
    auto* sink = static_cast<Sink*>(io->private_data);
    sink->frameBytes = static_cast<unsigned>(snd_pcm_format_physical_width(io->format)) * io->channels / 8;
    return 0;
}

int SwParams(snd_pcm_ioplug_t* io, snd_pcm_sw_params_t* params)
{
    auto* sink = static_cast<Sink*>(io->private_data);
    snd_pcm_sw_params_get_boundary(params, &sink->boundary);
    snd_pcm_sw_params_get_avail_min(params, &sink->availMin);
    return 0;
}

int Pause(snd_pcm_ioplug_t* io, int enable)
{
    auto* sink = static_cast<Sink*>(io->private_data);
    Update(sink);
    sink->paused = enable != 0;
    if (!sink->paused)
        Rebase(sink);
    return 0;
}

int PollRevents(snd_pcm_ioplug_t* io, struct pollfd* descriptors, unsigned int, unsigned short* revents)
{
    auto* sink = static_cast<Sink*>(io->private_data);
    unsigned long long expirations = 0;
    if (descriptors[0].revents & POLLIN)
        (void)!::read(sink->timer, &expirations, sizeof expirations);
    Update(sink);
    const unsigned long long queued = sink->handed - sink->played;
    const unsigned long long avail = queued < io->buffer_size ? io->buffer_size - queued : 0;
    if (io->state == SND_PCM_STATE_DRAINING && queued > 0 && queued < io->period_size) {
        // The last wake-up of a drain comes when the last frame has been played.
        itimerspec timerSetting{};
        timerSetting.it_value.tv_nsec = static_cast<long>(1e9 * static_cast<double>(queued) / io->rate) + 100000L;
        timerfd_settime(sink->timer, 0, &timerSetting, nullptr);
    }
    *revents = static_cast<unsigned short>(
        avail >= sink->availMin || (io->state == SND_PCM_STATE_DRAINING && queued == 0) ? POLLOUT : 0);
    return 0;
}

int Close(snd_pcm_ioplug_t* io)
{
    auto* sink = static_cast<Sink*>(io->private_data);
    ::close(sink->output);
    ::close(sink->timer);
    delete sink;
    return 0;
}

snd_pcm_ioplug_callback_t MakeCallbacks(bool canPause)
{
    snd_pcm_ioplug_callback_t callbacks{};
    callbacks.start = Start;
    callbacks.stop = Stop;
    callbacks.pointer = Pointer;
    callbacks.transfer = Transfer;
    callbacks.close = Close;
    callbacks.hw_params = HwParams;
    callbacks.sw_params = SwParams;
    callbacks.prepare = Prepare;
    callbacks.pause = canPause ? Pause : nullptr;
    callbacks.poll_revents = PollRevents;
    callbacks.delay = Delay;
    return callbacks;
}

const snd_pcm_ioplug_callback_t kPausing = MakeCallbacks(true);
const snd_pcm_ioplug_callback_t kNotPausing = MakeCallbacks(false);

bool Flag(snd_config_t* node)
{
    return snd_config_get_bool(node) > 0;
}

} // namespace

#pragma GCC visibility push(default)
extern "C" SND_PCM_PLUGIN_DEFINE_FUNC(pacedsink)
{
    (void)root;
    std::string file;
    bool canPause = true, noFloat = false, busy = false;
    long maxBytes = 1L << 24;
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf)
    {
        snd_config_t* node = snd_config_iterator_entry(i);
        const char* id = nullptr;
        const char* text = nullptr;
        if (snd_config_get_id(node, &id) < 0)
            continue;
        if (std::strcmp(id, "comment") == 0 || std::strcmp(id, "type") == 0 || std::strcmp(id, "hint") == 0)
            continue;
        if (std::strcmp(id, "file") == 0 && snd_config_get_string(node, &text) == 0)
            file = text;
        else if (std::strcmp(id, "pause") == 0)
            canPause = Flag(node);
        else if (std::strcmp(id, "nofloat") == 0)
            noFloat = Flag(node);
        else if (std::strcmp(id, "busy") == 0)
            busy = Flag(node);
        else if (std::strcmp(id, "maxbytes") == 0 && snd_config_get_integer(node, &maxBytes) == 0)
            continue;
        else
            return -EINVAL;
    }
    if (busy)
        return -EBUSY;
    if (stream != SND_PCM_STREAM_PLAYBACK || file.empty())
        return -EINVAL;
    auto* sink = new Sink;
    sink->output = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    sink->timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (sink->output < 0 || sink->timer < 0) {
        ::close(sink->output);
        ::close(sink->timer);
        delete sink;
        return -EIO;
    }
    sink->io.version = SND_PCM_IOPLUG_VERSION;
    sink->io.name = "paced test sink";
    sink->io.flags = SND_PCM_IOPLUG_FLAG_BOUNDARY_WA;
    sink->io.callback = canPause ? &kPausing : &kNotPausing;
    sink->io.private_data = sink;
    sink->io.poll_fd = sink->timer;
    sink->io.poll_events = POLLIN;
    int error = snd_pcm_ioplug_create(&sink->io, name, stream, mode);
    if (error < 0) {
        Close(&sink->io);
        return error;
    }
    static const unsigned accesses[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    static const unsigned formats[] = {SND_PCM_FORMAT_U8, SND_PCM_FORMAT_S16_LE, SND_PCM_FORMAT_S24_3LE,
                                       SND_PCM_FORMAT_S32_LE, SND_PCM_FORMAT_FLOAT_LE};
    const unsigned formatCount = noFloat ? 4 : 5;
    if ((error = snd_pcm_ioplug_set_param_list(&sink->io, SND_PCM_IOPLUG_HW_ACCESS, 1, accesses)) < 0 ||
        (error = snd_pcm_ioplug_set_param_list(&sink->io, SND_PCM_IOPLUG_HW_FORMAT, formatCount, formats)) < 0 ||
        (error = snd_pcm_ioplug_set_param_minmax(&sink->io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 32)) < 0 ||
        (error = snd_pcm_ioplug_set_param_minmax(&sink->io, SND_PCM_IOPLUG_HW_RATE, 4000, 384000)) < 0 ||
        (error = snd_pcm_ioplug_set_param_minmax(&sink->io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 16, 1 << 22)) < 0 ||
        (error = snd_pcm_ioplug_set_param_minmax(&sink->io, SND_PCM_IOPLUG_HW_PERIODS, 2, 1024)) < 0 ||
        (error = snd_pcm_ioplug_set_param_minmax(&sink->io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, 32,
                                                 static_cast<unsigned>(maxBytes))) < 0) {
        snd_pcm_ioplug_delete(&sink->io);
        return error;
    }
    *pcmp = sink->io.pcm;
    return 0;
}

extern "C" {
SND_PCM_PLUGIN_SYMBOL(pacedsink);
}
#pragma GCC visibility pop
