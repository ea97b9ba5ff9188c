// Prints the capture path's throughput by what reaches the reader: buffers delivered per second
// from MapBuffer in one or four writer processes to the reader having taken every block, for
// 4096-byte buffers. Refused buffers (the area was full) are counted apart and never in a rate.
// Unpaced writers play as fast as they can for two seconds; paced writers play at a fixed total rate, as
// programs play sound. Last, the highest paced rate at which nothing is refused is searched
// for, for one and four writers. The bare memcpy of the same bytes is the reference.
#include "CaptureArea.h"
#include "CaptureBridge.h"
#include "CaptureReader.h"
#include "FileMapping.h"
#include "HandleTable.h"
#include "Semaphore.h"
#include "WindowMessages.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kBufferSize = 4096;
constexpr double kUnpacedSeconds = 2.0;
constexpr int kPacedBuffers = 60000;
constexpr double kPacedRate = 20000.0; // buffers per second

struct Result {
    double seconds = 0;     // from the start signal until the reader has taken every block
    double playSeconds = 0; // the longest time a writer took for its calls
    unsigned long stored = 0;
    unsigned long refused = 0;
    unsigned long taken = 0;
};

// A writer process: waits for the start signal, plays its buffers, reports what was stored.
// An unpaced writer plays for kUnpacedSeconds instead of a number of buffers.
pid_t StartWriter(int go, int report, int buffers, double pacedRate)
{
    pid_t child = ::fork();
    if (child != 0)
        return child;
    void* library = ::dlopen(BRIDGE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    auto start = reinterpret_cast<StartMappingFunction>(::dlsym(library, "StartMapping"));
    auto stop = reinterpret_cast<StopMappingFunction>(::dlsym(library, "StopMapping"));
    auto map = reinterpret_cast<MapBufferFunction>(::dlsym(library, "MapBuffer"));
    const BYTE format[20] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 0, 0, 0, 0};
    std::vector<BYTE> samples(kBufferSize, 0x5A);
    CaptureBufferHeader header{samples.data(), kBufferSize, 0, 0, 0, 0};
    if (start() != 1)
        ::_exit(2);
    char signal;
    if (::read(go, &signal, 1) != 1)
        ::_exit(3);
    unsigned long counts[3] = {0, 0, 0};
    const auto begin = Clock::now();
    const auto unpacedEnd = begin + std::chrono::duration<double>(kUnpacedSeconds);
    for (int i = 0; pacedRate > 0 ? i < buffers : (i % 64 != 0 || Clock::now() < unpacedEnd); ++i) {
        if (pacedRate > 0) {
            // Plays like a program: buffer i is due at i / rate seconds.
            const auto due = begin + std::chrono::duration<double>(i / pacedRate);
            while (Clock::now() < due)
                ::usleep(20);
        }
        ++counts[map(format, &header) == 1 ? 0 : 1];
    }
    counts[2] = static_cast<unsigned long>(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begin).count());
    stop();
    (void)::write(report, counts, sizeof counts);
    ::_exit(0);
}

Result Run(int writers, int buffers, double pacedRate, BYTE* area, HANDLE lock, HWND window,
           unsigned long& taken)
{
    int go[2], report[2];
    if (::pipe(go) != 0 || ::pipe(report) != 0)
        std::exit(1);
    std::vector<pid_t> children;
    for (int i = 0; i < writers; ++i)
        children.push_back(StartWriter(go[0], report[1], buffers, pacedRate));
    ::usleep(200000); // let every writer map the area
    bool capturing = false;
    CaptureReader(area, lock).StartRecording(window, capturing);
    taken = 0;
    auto start = Clock::now();
    for (int i = 0; i < writers; ++i)
        (void)::write(go[1], "g", 1);
    Result result;
    int ended = 0;
    while (ended < writers) {
        pollfd waiting[2] = {{MessageQueueDescriptor(), POLLIN, 0}, {report[0], POLLIN, 0}};
        ::poll(waiting, 2, 100);
        DispatchPendingMessages();
        if (waiting[1].revents & POLLIN) {
            unsigned long counts[3];
            if (::read(report[0], counts, sizeof counts) == sizeof counts) {
                result.stored += counts[0];
                result.refused += counts[1];
                result.playSeconds = std::max(result.playSeconds, counts[2] / 1e6);
                ++ended;
            }
        }
    }
    std::int32_t peak = 56;
    while (taken < result.stored)
        taken += CaptureReader(area, lock).Drain(peak, [](const CapturedBlock&) {});
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.taken = taken;
    CaptureReader(area, lock).StopRecording(peak);
    for (pid_t child : children)
        ::waitpid(child, nullptr, 0);
    ::close(go[0]);
    ::close(go[1]);
    ::close(report[0]);
    ::close(report[1]);
    return result;
}

double MemcpyBuffersPerSecond(unsigned long buffers)
{
    std::vector<BYTE> source(kBufferSize, 0x5A);
    std::vector<BYTE> ring(kCaptureAreaSize);
    auto start = Clock::now();
    std::size_t position = 0;
    for (unsigned long i = 0; i < buffers; ++i) {
        if (position + kBufferSize > ring.size())
            position = 0;
        std::memcpy(ring.data() + position, source.data(), kBufferSize);
        position += kBufferSize;
        asm volatile("" : : "r"(ring.data()) : "memory");
    }
    return buffers / std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main()
{
    namespace fs = std::filesystem;
    const fs::path runtime = fs::temp_directory_path() / ("wh-bench-capture-" + std::to_string(::getpid()));
    // The runtime folder must be private to the user.
    ::mkdir(runtime.c_str(), 0700);
    ::setenv("WAVEHARVESTER_RUNTIME_DIR", runtime.c_str(), 1);
    ::setenv("WAVEHARVESTER_OBJECT_SCOPE", ("bench" + std::to_string(::getpid())).c_str(), 1);

    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        kCaptureAreaSize, kCaptureAreaName);
    BYTE* area = static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kCaptureAreaSize));
    HANDLE lock = CreateSemaphoreA(nullptr, 1, 1, kCaptureSemaphoreName);
    UINT message = RegisterWindowMessageA(kCaptureMessageName);
    unsigned long taken = 0;
    std::int32_t peak = 56;
    HWND window = CreateMessageWindow("bench view", [&](HWND, UINT received, WPARAM, LPARAM) {
        if (received == message)
            taken += CaptureReader(area, lock).Drain(peak, [](const CapturedBlock&) {});
        return LRESULT{0};
    });
    if (area == nullptr || lock == nullptr || message == 0 || window == 0) {
        std::fprintf(stderr, "cannot create the capture objects\n");
        return 1;
    }
    auto run = [&](int writers, int buffersPerWriter, double totalRate) {
        return Run(writers, buffersPerWriter, totalRate > 0 ? totalRate / writers : 0, area, lock, window, taken);
    };
    auto report = [](const std::string& name, const Result& result, bool reference) {
        const double delivered = result.taken / result.seconds;
        if (reference) {
            const double memcpyRate = MemcpyBuffersPerSecond(result.stored + result.refused);
            std::printf("%s_delivered: %.0f buffers/s (reference memcpy_4096_byte_buffers: %.0f buffers/s, ratio %.3f)\n",
                        name.c_str(), delivered, memcpyRate, delivered / memcpyRate);
        } else {
            std::printf("%s_delivered: %.0f buffers/s\n", name.c_str(), delivered);
        }
        std::printf("%s_delivered_bytes: %.1f MB/s\n", name.c_str(), delivered * kBufferSize / 1e6);
        std::printf("%s_refused: %lu buffers of %lu\n", name.c_str(), result.refused, result.stored + result.refused);
        std::printf("%s_calls: %.0f calls/s\n", name.c_str(), (result.stored + result.refused) / result.playSeconds);
    };
    struct Scenario {
        const char* name;
        int writers;
        int buffersPerWriter;
        double totalRate; // buffers per second over all writers; 0 for unpaced
    };
    const Scenario scenarios[] = {
        {"capture_1_writer_unpaced", 1, 0, 0},
        {"capture_4_writers_unpaced", 4, 0, 0},
        {"capture_1_writer_paced_20000_per_s", 1, kPacedBuffers, kPacedRate},
        {"capture_4_writers_paced_20000_per_s", 4, kPacedBuffers / 4, kPacedRate},
    };
    for (const Scenario& scenario : scenarios)
        report(scenario.name, run(scenario.writers, scenario.buffersPerWriter, scenario.totalRate),
               scenario.totalRate == 0);

    // The highest paced rate without a refused buffer: doubling, then halving the step, each
    // rate played for half a second.
    for (int writers : {1, 4}) {
        double good = 0;
        double rate = 10000;
        double step = 0;
        for (int trial = 0; trial < 12 && rate < 2e6; ++trial) {
            const int buffers = std::max(1000, static_cast<int>(rate / 2 / writers));
            const Result result = run(writers, buffers, rate);
            const bool kept = result.refused == 0 && result.playSeconds < 0.5 * 1.2;
            if (kept)
                good = std::max(good, rate);
            if (step == 0 && kept) {
                rate *= 2;
                continue;
            }
            if (step == 0)
                step = rate / 4;
            else
                step /= 2;
            rate = kept ? rate + step : rate - step;
        }
        std::printf("capture_%d_writer%s_highest_paced_rate_without_refusal: %.0f buffers/s\n", writers,
                    writers == 1 ? "" : "s", good);
    }
    DestroyWindow(window);
    UnmapViewOfFile(area);
    CloseHandle(mapping);
    CloseHandle(lock);
    fs::remove_all(runtime);
    return 0;
}
