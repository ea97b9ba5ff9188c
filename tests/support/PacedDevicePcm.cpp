// A sound card stand-in for playback tests, an ALSA external PCM plugin of type "whpaced": it
// consumes samples at the real-time rate of the stream's format and appends exactly the bytes it
// has played to a file, so that what was dropped (by a stop or a reset) never arrives there.
// Options:
//   file "<path>"     where the played bytes go (appended)
//   lock "<path>"     the device is one process's at a time: a second open gets EBUSY
//   stats "<path>"    written on close: "first_write_ns <monotonic ns of the first samples>\n"
//                     "underruns <times it ran dry and more sound came later>\n"
//                     "played_bytes <bytes played>\n"
//   rate <n>          the only rate it takes (any from 4000 to 192000 without it)
//   pause no          a device that cannot pause (a pause stops it, as a reset does)
//   fail_after <n>    the device goes away (ENODEV) once it has taken n frames
// It pauses (the clock stops) and never stops by itself when it runs dry: it waits for more.
// Its poll descriptor becomes ready once a period.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr long kFirstTickNanoseconds = 5000000;

struct PacedPcm {
    snd_pcm_ioplug_t io{};
    int outputFd = -1;
    int lockFd = -1;
    int timerFd = -1;
    std::string statsPath;
    unsigned frameBytes = 0;
    std::vector<char> pending;       // transferred, not yet played
    std::uint64_t transferred = 0;   // frames
    std::uint64_t consumed = 0;      // frames played
    bool running = false;
    bool dry = false;                // ran out of samples while running
    std::uint64_t clockStartNs = 0;  // when consumption at clockStartFrames began
    std::uint64_t clockStartFrames = 0;
    std::uint64_t firstWriteNs = 0;
    std::uint64_t playedBytes = 0;
    unsigned underruns = 0;
    long failAfter = 0;
};

std::uint64_t NowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000ull + static_cast<std::uint64_t>(now.tv_nsec);
}

void Rebase(PacedPcm* pcm)
{
    pcm->clockStartNs = NowNs();
    pcm->clockStartFrames = pcm->consumed;
}

// Plays what the clock says has sounded since the last call.
void Advance(PacedPcm* pcm)
{
    if (!pcm->running)
        return;
    const std::uint64_t elapsed = NowNs() - pcm->clockStartNs;
    std::uint64_t target = pcm->clockStartFrames + elapsed * pcm->io.rate / 1000000000ull;
    if (target > pcm->transferred) {
        target = pcm->transferred;
        pcm->dry = true;
    }
    if (target <= pcm->consumed)
        return;
    const std::size_t bytes = static_cast<std::size_t>(target - pcm->consumed) * pcm->frameBytes;
    pcm->playedBytes += bytes;
    if (pcm->outputFd >= 0) {
        std::size_t done = 0;
        while (done < bytes) {
            ssize_t written = ::write(pcm->outputFd, pcm->pending.data() + done, bytes - done);
            if (written <= 0)
                break;
            done += static_cast<std::size_t>(written);
        }
    }
    pcm->pending.erase(pcm->pending.begin(), pcm->pending.begin() + static_cast<std::ptrdiff_t>(bytes));
    pcm->consumed = target;
}

int PacedStart(snd_pcm_ioplug_t* io)
{
    auto* pcm = static_cast<PacedPcm*>(io->private_data);
    pcm->running = true;
    pcm->dry = false;
    Rebase(pcm);
    return 0;
}

int PacedStop(snd_pcm_ioplug_t* io)
{
    auto* pcm = static_cast<PacedPcm*>(io->private_data);
    Advance(pcm);
    pcm->running = false;
    pcm->dry = false;
    pcm->pending.clear();
    pcm->transferred = pcm->consumed;
    return 0;
}

snd_pcm_sframes_t PacedPointer(snd_pcm_ioplug_t* io)
{
    auto* pcm = static_cast<PacedPcm*>(io->private_data);
    Advance(pcm);
    return static_cast<snd_pcm_sframes_t>(pcm->consumed % io->buffer_size);
}

snd_pcm_sframes_t PacedTransfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas, snd_pcm_uframes_t offset,
                                snd_pcm_uframes_t size)
{
    auto* pcm = static_cast<PacedPcm*>(io->private_data);
    Advance(pcm);
    if (pcm->failAfter > 0 && pcm->transferred >= static_cast<std::uint64_t>(pcm->failAfter))
        return -ENODEV;
    if (pcm->firstWriteNs == 0 && size > 0)
        pcm->firstWriteNs = NowNs();
    if (pcm->dry && pcm->running && size > 0) {
        // It had run dry while playing: the sound had a gap.
        ++pcm->underruns;
        pcm->dry = false;
        Rebase(pcm);
    }
    const char* data = static_cast<const char*>(areas[0].addr) + (areas[0].first + areas[0].step * offset) / 8;
    pcm->pending.insert(pcm->pending.end(), data, data + size * pcm->frameBytes);
    pcm->transferred += size;
    return static_cast<snd_pcm_sframes_t>(size);
}

int PacedPrepare(snd_pcm_ioplug_t* io)
{
    auto* pcm = static_cast<PacedPcm*>(io->private_data);
    pcm->frameBytes = static_cast<unsigned>(snd_pcm_format_physical_width(io->format) / 8 * io->channels);
    pcm->pending.clear();
    pcm->transferred = 0;
    pcm->consumed = 0;
    pcm->running = false;
    pcm->dry = false;
    // It wakes its user once a period, as a sound card's interrupt does.
    const long period = static_cast<long>(io->period_size * 1000000000ull / io->rate);
    itimerspec tick{{period / 1000000000, period % 1000000000}, {0, kFirstTickNanoseconds}};
    ::timerfd_settime(pcm->timerFd, 0, &tick, nullptr);
    return 0;
}

int PacedPause(snd_pcm_ioplug_t* io, int enable)
{
    auto* pcm = static_cast<PacedPcm*>(io->private_data);
    if (enable) {
        Advance(pcm);
        pcm->running = false;
    } else {
        pcm->running = true;
        Rebase(pcm);
    }
    return 0;
}

int PacedPollRevents(snd_pcm_ioplug_t* io, struct pollfd* fds, unsigned int, unsigned short* revents)
{
    auto* pcm = static_cast<PacedPcm*>(io->private_data);
    std::uint64_t ticks = 0;
    [[maybe_unused]] ssize_t got = ::read(fds[0].fd, &ticks, sizeof ticks);
    Advance(pcm);
    *revents = POLLOUT;
    return 0;
}

int PacedClose(snd_pcm_ioplug_t* io)
{
    auto* pcm = static_cast<PacedPcm*>(io->private_data);
    if (!pcm->statsPath.empty()) {
        if (std::FILE* stats = std::fopen(pcm->statsPath.c_str(), "w")) {
            std::fprintf(stats, "first_write_ns %llu\nunderruns %u\nplayed_bytes %llu\n",
                         static_cast<unsigned long long>(pcm->firstWriteNs), pcm->underruns,
                         static_cast<unsigned long long>(pcm->playedBytes));
            std::fclose(stats);
        }
    }
    if (pcm->outputFd >= 0)
        ::close(pcm->outputFd);
    if (pcm->timerFd >= 0)
        ::close(pcm->timerFd);
    if (pcm->lockFd >= 0)
        ::close(pcm->lockFd);
    delete pcm;
    return 0;
}

const snd_pcm_ioplug_callback_t kCallbacks = [] {
    snd_pcm_ioplug_callback_t callbacks{};
    callbacks.start = PacedStart;
    callbacks.stop = PacedStop;
    callbacks.pointer = PacedPointer;
    callbacks.transfer = PacedTransfer;
    callbacks.close = PacedClose;
    callbacks.prepare = PacedPrepare;
    callbacks.pause = PacedPause;
    callbacks.poll_revents = PacedPollRevents;
    return callbacks;
}();

const snd_pcm_ioplug_callback_t kCallbacksWithoutPause = [] {
    snd_pcm_ioplug_callback_t callbacks = kCallbacks;
    callbacks.pause = nullptr;
    return callbacks;
}();

} // namespace

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(whpaced)
{
    std::string file, lock, stats;
    long onlyRate = 0;
    bool canPause = true;
    long failAfter = 0;
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf)
    {
        snd_config_t* node = snd_config_iterator_entry(i);
        const char* id = nullptr;
        if (snd_config_get_id(node, &id) < 0)
            continue;
        const std::string key = id;
        if (key == "comment" || key == "type" || key == "hint")
            continue;
        const char* text = nullptr;
        if (key == "file" && snd_config_get_string(node, &text) == 0)
            file = text;
        else if (key == "lock" && snd_config_get_string(node, &text) == 0)
            lock = text;
        else if (key == "stats" && snd_config_get_string(node, &text) == 0)
            stats = text;
        else if (key == "rate" && snd_config_get_integer(node, &onlyRate) == 0)
            continue;
        else if (key == "fail_after" && snd_config_get_integer(node, &failAfter) == 0)
            continue;
        else if (key == "pause" && snd_config_get_string(node, &text) == 0)
            canPause = std::string(text) != "no";
        else {
            SNDERR("Unknown field %s", id);
            return -EINVAL;
        }
    }
    if (stream != SND_PCM_STREAM_PLAYBACK)
        return -EINVAL;

    auto* pcm = new PacedPcm;
    pcm->statsPath = stats;
    pcm->failAfter = failAfter;
    if (!lock.empty()) {
        pcm->lockFd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (pcm->lockFd < 0 || ::flock(pcm->lockFd, LOCK_EX | LOCK_NB) != 0) {
            if (pcm->lockFd >= 0)
                ::close(pcm->lockFd);
            delete pcm;
            return -EBUSY;
        }
    }
    if (!file.empty())
        pcm->outputFd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    pcm->timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);

    pcm->io.version = SND_PCM_IOPLUG_VERSION;
    pcm->io.name = "WaveHarvester paced test device";
    pcm->io.callback = canPause ? &kCallbacks : &kCallbacksWithoutPause;
    pcm->io.private_data = pcm;
    pcm->io.poll_fd = pcm->timerFd;
    pcm->io.poll_events = POLLIN;
    pcm->io.mmap_rw = 0;
    int err = snd_pcm_ioplug_create(&pcm->io, name, stream, mode);
    if (err < 0) {
        PacedClose(&pcm->io);
        return err;
    }
    static const unsigned accesses[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    static const unsigned formats[] = {SND_PCM_FORMAT_U8, SND_PCM_FORMAT_S16_LE, SND_PCM_FORMAT_S24_3LE,
                                       SND_PCM_FORMAT_S32_LE};
    if ((err = snd_pcm_ioplug_set_param_list(&pcm->io, SND_PCM_IOPLUG_HW_ACCESS, 1, accesses)) < 0 ||
        (err = snd_pcm_ioplug_set_param_list(&pcm->io, SND_PCM_IOPLUG_HW_FORMAT, 4, formats)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 8)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_RATE,
                                                onlyRate > 0 ? static_cast<unsigned>(onlyRate) : 4000,
                                                onlyRate > 0 ? static_cast<unsigned>(onlyRate) : 192000)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1 << 20)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, 256, 4 << 20)) < 0) {
        snd_pcm_ioplug_delete(&pcm->io);
        return err;
    }
    *pcmp = pcm->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(whpaced);
}
