// Small players for the driver's tests, each playing a raw file the way some programs do:
//   wh_test_player MODE DEVICE FILE FORMAT CHANNELS RATE [BUFFER PERIOD]
// MODE: whole (one blocking writei of the whole file), onebuffer (exactly one buffer per
// writei), chunks (a period per writei, noting snd_pcm_delay against the wall clock), mmap,
// poll (non-blocking writes with poll), pause (pauses half-way for 300 ms), rewind (writes a
// buffer ending in two periods of garbage, rewinds them and writes the file on from there).
// Prints key=value lines; exits 0 when everything was played, 1 with a message otherwise.
#include <alsa/asoundlib.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int Fail(const char* what, int error)
{
    std::printf("error=%s: %s\n", what, snd_strerror(error));
    return 1;
}

struct Player {
    snd_pcm_t* pcm = nullptr;
    std::vector<char> data;
    unsigned frameBytes = 0;
    unsigned rate = 0;
    snd_pcm_uframes_t frames = 0, buffer = 0, period = 0;

    const char* At(snd_pcm_uframes_t frame) const { return data.data() + frame * frameBytes; }

    // Blocking writes of `chunk` frames from `from` to `to`, retrying after an underrun.
    int Write(snd_pcm_uframes_t from, snd_pcm_uframes_t to, snd_pcm_uframes_t chunk)
    {
        while (from < to) {
            snd_pcm_sframes_t done = snd_pcm_writei(pcm, At(from), std::min(chunk, to - from));
            if (done == -EPIPE || done == -ESTRPIPE) {
                std::printf("xrun=1\n");
                snd_pcm_recover(pcm, static_cast<int>(done), 1);
                continue;
            }
            if (done < 0)
                return Fail("writei", static_cast<int>(done));
            from += static_cast<snd_pcm_uframes_t>(done);
        }
        return 0;
    }
};

int PlayMmap(Player& player)
{
    snd_pcm_uframes_t done = 0;
    while (done < player.frames) {
        snd_pcm_sframes_t avail = snd_pcm_avail_update(player.pcm);
        if (avail < 0) {
            snd_pcm_recover(player.pcm, static_cast<int>(avail), 1);
            continue;
        }
        if (static_cast<snd_pcm_uframes_t>(avail) < player.period && player.frames - done > static_cast<snd_pcm_uframes_t>(avail)) {
            if (snd_pcm_state(player.pcm) == SND_PCM_STATE_PREPARED)
                snd_pcm_start(player.pcm);
            snd_pcm_wait(player.pcm, 1000);
            continue;
        }
        const snd_pcm_channel_area_t* areas = nullptr;
        snd_pcm_uframes_t offset = 0;
        snd_pcm_uframes_t count = std::min<snd_pcm_uframes_t>(player.frames - done, static_cast<snd_pcm_uframes_t>(avail));
        if (int error = snd_pcm_mmap_begin(player.pcm, &areas, &offset, &count); error < 0)
            return Fail("mmap_begin", error);
        char* target = static_cast<char*>(areas[0].addr) + (areas[0].first + areas[0].step * offset) / 8;
        std::memcpy(target, player.At(done), count * player.frameBytes);
        snd_pcm_sframes_t committed = snd_pcm_mmap_commit(player.pcm, offset, count);
        if (committed < 0)
            return Fail("mmap_commit", static_cast<int>(committed));
        done += static_cast<snd_pcm_uframes_t>(committed);
    }
    return 0;
}

int PlayPoll(Player& player)
{
    snd_pcm_nonblock(player.pcm, 1);
    const int count = snd_pcm_poll_descriptors_count(player.pcm);
    std::vector<pollfd> descriptors(static_cast<std::size_t>(count));
    snd_pcm_poll_descriptors(player.pcm, descriptors.data(), static_cast<unsigned>(count));
    double longestWrite = 0;
    int again = 0;
    snd_pcm_uframes_t done = 0;
    while (done < player.frames) {
        const Clock::time_point before = Clock::now();
        snd_pcm_sframes_t written = snd_pcm_writei(player.pcm, player.At(done), std::min(player.period * 2, player.frames - done));
        longestWrite = std::max(longestWrite, Since(before));
        if (written == -EAGAIN) {
            ++again;
            unsigned short revents = 0;
            do {
                ::poll(descriptors.data(), descriptors.size(), 1000);
                snd_pcm_poll_descriptors_revents(player.pcm, descriptors.data(), descriptors.size(), &revents);
            } while (!(revents & (POLLOUT | POLLERR)));
            continue;
        }
        if (written < 0) {
            if (snd_pcm_recover(player.pcm, static_cast<int>(written), 1) < 0)
                return Fail("writei", static_cast<int>(written));
            std::printf("xrun=1\n");
            continue;
        }
        if (snd_pcm_state(player.pcm) == SND_PCM_STATE_PREPARED)
            snd_pcm_start(player.pcm);
        done += static_cast<snd_pcm_uframes_t>(written);
    }
    std::printf("eagain=%d\nlongest_write=%.4f\n", again, longestWrite);
    // A non-blocking drain says -EAGAIN until the device has played everything.
    int error = snd_pcm_drain(player.pcm);
    std::printf("nonblocking_drain=%d\n", error);
    while (error == -EAGAIN && snd_pcm_state(player.pcm) == SND_PCM_STATE_DRAINING) {
        ::poll(descriptors.data(), descriptors.size(), 100);
        unsigned short revents = 0;
        snd_pcm_poll_descriptors_revents(player.pcm, descriptors.data(), descriptors.size(), &revents);
        snd_pcm_avail(player.pcm); // brings the state up to date, as a poller does
    }
    snd_pcm_nonblock(player.pcm, 0);
    return 0;
}

int PlayPausing(Player& player)
{
    const snd_pcm_uframes_t half = player.frames / 2;
    if (int error = player.Write(0, half, player.period))
        return error;
    snd_pcm_sframes_t before = 0, during = 0;
    if (int error = snd_pcm_pause(player.pcm, 1); error < 0)
        return Fail("pause", error);
    snd_pcm_delay(player.pcm, &before);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    snd_pcm_delay(player.pcm, &during);
    std::printf("paused_state=%d\ndelay_paused_start=%ld\ndelay_paused_end=%ld\n", snd_pcm_state(player.pcm),
                static_cast<long>(before), static_cast<long>(during));
    if (int error = snd_pcm_pause(player.pcm, 0); error < 0)
        return Fail("resume", error);
    return player.Write(half, player.frames, player.period);
}

int PlayRewinding(Player& player)
{
    const snd_pcm_uframes_t kept = player.buffer - 2 * player.period;
    if (int error = player.Write(0, kept, player.period))
        return error;
    const std::vector<char> garbage(2 * player.period * player.frameBytes, 0x55);
    if (snd_pcm_sframes_t done = snd_pcm_writei(player.pcm, garbage.data(), 2 * player.period); done < 0)
        return Fail("writei", static_cast<int>(done));
    const snd_pcm_sframes_t rewound = snd_pcm_rewind(player.pcm, 2 * player.period);
    std::printf("rewound=%ld\n", static_cast<long>(rewound));
    if (rewound < 0)
        return Fail("rewind", static_cast<int>(rewound));
    return player.Write(kept + 2 * player.period - static_cast<snd_pcm_uframes_t>(rewound), player.frames,
                        player.period);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 7) {
        std::fprintf(stderr, "usage: %s MODE DEVICE FILE FORMAT CHANNELS RATE [BUFFER PERIOD]\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    Player player;
    std::ifstream in(argv[3], std::ios::binary);
    player.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const snd_pcm_format_t format = snd_pcm_format_value(argv[4]);
    const unsigned channels = static_cast<unsigned>(std::atoi(argv[5]));
    player.rate = static_cast<unsigned>(std::atoi(argv[6]));
    player.frameBytes = static_cast<unsigned>(snd_pcm_format_physical_width(format)) * channels / 8;
    player.frames = player.data.size() / player.frameBytes;
    player.buffer = argc > 7 ? std::strtoul(argv[7], nullptr, 10) : player.rate / 4;
    player.period = argc > 8 ? std::strtoul(argv[8], nullptr, 10) : player.buffer / 4;

    int error = snd_pcm_open(&player.pcm, argv[2], SND_PCM_STREAM_PLAYBACK, 0);
    if (error < 0)
        return Fail("open", error);
    snd_pcm_hw_params_t* params = nullptr;
    snd_pcm_hw_params_alloca(&params);
    unsigned rate = player.rate;
    if ((error = snd_pcm_hw_params_any(player.pcm, params)) < 0 ||
        (error = snd_pcm_hw_params_set_access(player.pcm, params,
                                              mode == "mmap" ? SND_PCM_ACCESS_MMAP_INTERLEAVED
                                                             : SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
        (error = snd_pcm_hw_params_set_format(player.pcm, params, format)) < 0 ||
        (error = snd_pcm_hw_params_set_channels(player.pcm, params, channels)) < 0 ||
        (error = snd_pcm_hw_params_set_rate_near(player.pcm, params, &rate, nullptr)) < 0 ||
        (error = snd_pcm_hw_params_set_buffer_size_near(player.pcm, params, &player.buffer)) < 0 ||
        (error = snd_pcm_hw_params_set_period_size_near(player.pcm, params, &player.period, nullptr)) < 0 ||
        (error = snd_pcm_hw_params(player.pcm, params)) < 0)
        return Fail("hw_params", error);
    snd_pcm_hw_params_get_buffer_size(params, &player.buffer);
    snd_pcm_hw_params_get_period_size(params, &player.period, nullptr);
    std::printf("buffer=%lu\nperiod=%lu\ncan_pause=%d\n", player.buffer, player.period,
                snd_pcm_hw_params_can_pause(params));

    const Clock::time_point start = Clock::now();
    if (mode == "whole") {
        error = player.Write(0, player.frames, player.frames);
    } else if (mode == "onebuffer") {
        error = player.Write(0, player.frames, player.buffer);
    } else if (mode == "chunks") {
        // After each period: the delay the device reports, and what the wall clock says is
        // left to play (frames written minus the time since the first write).
        for (snd_pcm_uframes_t done = 0; done < player.frames && error == 0; done += player.period) {
            error = player.Write(done, std::min(done + player.period, player.frames), player.period);
            snd_pcm_sframes_t delay = 0;
            const double elapsed = Since(start);
            if (snd_pcm_delay(player.pcm, &delay) == 0 && done > player.buffer)
                std::printf("delay=%ld expected=%.0f avail=%ld state=%d\n", static_cast<long>(delay),
                            static_cast<double>(std::min(done + player.period, player.frames)) - elapsed * player.rate,
                            static_cast<long>(snd_pcm_avail(player.pcm)), snd_pcm_state(player.pcm));
        }
    } else if (mode == "mmap") {
        error = PlayMmap(player);
    } else if (mode == "poll") {
        error = PlayPoll(player);
    } else if (mode == "pause") {
        error = PlayPausing(player);
    } else if (mode == "rewind") {
        error = PlayRewinding(player);
    } else {
        std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
        return 2;
    }
    if (error != 0)
        return error;
    const double written = Since(start);
    if ((error = snd_pcm_drain(player.pcm)) < 0)
        return Fail("drain", error);
    std::printf("written_after=%.4f\ndrained_after=%.4f\nseconds_of_sound=%.4f\n", written, Since(start),
                static_cast<double>(player.frames) / player.rate);
    snd_pcm_close(player.pcm);
    return 0;
}
