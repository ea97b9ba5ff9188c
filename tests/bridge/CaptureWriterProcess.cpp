// A program that plays through the bridge library as the capture driver would: it loads
// libcapbrg32.so with dlopen and appends recognisable buffers.
//   capture_writer_process LIBRARY play WRITER STREAMS BUFFERS MIN MAX
//     each buffer: writer, stream, sequence (3 x 32 bits), then bytes derived from them;
//     prints "stored S refused R refusedBytes B starts T" when done.
//     a ninth argument "keep" leaves the area mapped at exit (no StopMapping), as a player that
//     ends without closing the device.
//   capture_writer_process LIBRARY hold
//     takes the capture lock, prints "holding" and waits to be killed.
//   capture_writer_process LIBRARY flood WRITER SIZE
//     plays buffers of SIZE bytes (sequences 0 to 7 over and over) until it is killed.
//   capture_writer_process LIBRARY crash WRITER SIZE READABLE
//     plays one buffer of SIZE bytes of which only the first READABLE can be read: the process
//     dies of SIGSEGV inside MapBuffer, halfway through the copy, holding the lock.
//   capture_writer_process LIBRARY truncate
//     opens the area as every user does and tries to shrink it to nothing, as a clumsy
//     program of the user might; prints "truncated T refused R".
//   capture_writer_process LIBRARY scribble ROUNDS SEED
//     flips header fields and block links of the area between sound and damaged values for
//     ROUNDS rounds, as a clumsy or hostile program of the user would; prints "scribbled".
#include "CaptureAreaLayout.h"
#include "CaptureBridge.h"
#include "Semaphore.h"

#include "CaptureArea.h"
#include "FileMapping.h"
#include "HandleTable.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

BYTE PatternByte(std::uint32_t writer, std::uint32_t stream, std::uint32_t sequence, std::size_t i)
{
    return static_cast<BYTE>(writer * 31 + stream * 17 + sequence * 7 + i);
}

void FillPattern(BYTE* buffer, std::size_t size, std::uint32_t writer, std::uint32_t stream, std::uint32_t sequence)
{
    std::uint32_t ids[3] = {writer, stream, sequence};
    std::memcpy(buffer, ids, sizeof ids);
    for (std::size_t i = sizeof ids; i < size; ++i)
        buffer[i] = PatternByte(writer, stream, sequence, i);
}

// 44,100 Hz, 16-bit stereo; the last two bytes carry the writer.
void FillFormat(BYTE* format, std::uint32_t writer)
{
    const BYTE cd[20] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 0, 0, 0, 0x5A};
    std::memcpy(format, cd, sizeof cd);
    format[18] = static_cast<BYTE>(writer);
}

struct BridgeFunctions {
    StartMappingFunction start = nullptr;
    StopMappingFunction stop = nullptr;
    MapBufferFunction map = nullptr;
};

bool LoadBridge(const char* path, BridgeFunctions& bridge)
{
    void* library = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "%s\n", ::dlerror());
        return false;
    }
    bridge.start = reinterpret_cast<StartMappingFunction>(::dlsym(library, "StartMapping"));
    bridge.stop = reinterpret_cast<StopMappingFunction>(::dlsym(library, "StopMapping"));
    bridge.map = reinterpret_cast<MapBufferFunction>(::dlsym(library, "MapBuffer"));
    return bridge.start != nullptr && bridge.stop != nullptr && bridge.map != nullptr;
}

int Flood(const BridgeFunctions& bridge, std::uint32_t writer, std::size_t size)
{
    BYTE format[20];
    FillFormat(format, writer);
    std::vector<std::vector<BYTE>> buffers(8, std::vector<BYTE>(size));
    for (std::uint32_t sequence = 0; sequence < buffers.size(); ++sequence)
        FillPattern(buffers[sequence].data(), size, writer, 0, sequence);
    if (bridge.start() != 1)
        return 5;
    std::printf("flooding\n");
    std::fflush(stdout);
    for (std::size_t i = 0;; ++i) {
        const std::vector<BYTE>& buffer = buffers[i % buffers.size()];
        CaptureBufferHeader header{buffer.data(), static_cast<std::uint32_t>(size), 0, 0, 0, 0};
        if (bridge.map(format, &header) != 1)
            ::usleep(200); // the area is full: give the reader a moment
    }
}

int Crash(const BridgeFunctions& bridge, std::uint32_t writer, std::size_t size, std::size_t readable)
{
    BYTE format[20];
    FillFormat(format, writer);
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t readablePages = (readable + page - 1) / page;
    auto* region = static_cast<BYTE*>(::mmap(nullptr, (readablePages + 1) * page, PROT_READ | PROT_WRITE,
                                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (region == MAP_FAILED)
        return 6;
    // Dies of the signal itself, also where a sanitizer runtime would catch it.
    ::signal(SIGSEGV, SIG_DFL);
    BYTE* guard = region + readablePages * page;
    BYTE* buffer = guard - readable;
    std::vector<BYTE> whole(size);
    FillPattern(whole.data(), size, writer, 0, 0);
    std::memcpy(buffer, whole.data(), readable);
    ::mprotect(guard, page, PROT_NONE);
    if (bridge.start() != 1)
        return 5;
    CaptureBufferHeader header{buffer, static_cast<std::uint32_t>(size), 0, 0, 0, 0};
    bridge.map(format, &header);
    return 7; // not reached: the copy runs into the guard page
}

int Truncate()
{
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kCaptureAreaSize,
                                        kCaptureAreaName);
    if (mapping == nullptr)
        return 8;
    int truncated = 0, refused = 0;
    DIR* descriptors = ::opendir("/proc/self/fd");
    while (dirent* entry = descriptors != nullptr ? ::readdir(descriptors) : nullptr) {
        const int fd = std::atoi(entry->d_name);
        struct stat info;
        if (entry->d_name[0] == '.' || ::fstat(fd, &info) != 0 || info.st_size != kCaptureAreaSize)
            continue;
        if (::ftruncate(fd, 0) == 0)
            ++truncated;
        else
            ++refused;
    }
    if (descriptors != nullptr)
        ::closedir(descriptors);
    std::printf("truncated %d refused %d\n", truncated, refused);
    std::fflush(stdout);
    CloseHandle(mapping);
    return 0;
}

int Scribble(unsigned long rounds, unsigned seed)
{
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kCaptureAreaSize,
                                        kCaptureAreaName);
    auto* area = mapping ? static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kCaptureAreaSize))
                         : nullptr;
    if (area == nullptr)
        return 8;
    std::uint64_t state = seed * 6364136223846793005ull + 1442695040888963407ull;
    auto random = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<DWORD>(state >> 33);
    };
    const DWORD damaged[] = {0, 8, 20, 55, kCaptureAreaSize - 10, kCaptureAreaSize, 0x7FFFFFF0u, 0xFFFFFFFFu};
    const DWORD headerFields[] = {12, 16, 20, 52};
    for (unsigned long round = 0; round < rounds; ++round) {
        DWORD field = headerFields[random() % 4];
        if (random() % 2 == 0) {
            // A link or the length of a block of the list, found by walking a few steps.
            DWORD block = CaptureArea::Load32(area, 16);
            for (DWORD steps = random() % 4; steps > 0 && block >= 56 && block < kCaptureAreaSize - 36; --steps)
                block = CaptureArea::Load32(area, block);
            if (block < 56 || block >= kCaptureAreaSize - 36)
                continue;
            const DWORD blockFields[] = {0, 4, 32};
            field = block + blockFields[random() % 3];
        }
        const DWORD sound = CaptureArea::Load32(area, field);
        CaptureArea::Store32(area, field, damaged[random() % 8]);
        for (int spin = static_cast<int>(random() % 200); spin > 0; --spin)
            asm volatile("");
        if (random() % 16 != 0)
            CaptureArea::Store32(area, field, sound); // mostly put back; sometimes the damage stays
    }
    std::printf("scribbled\n");
    std::fflush(stdout);
    UnmapViewOfFile(area);
    CloseHandle(mapping);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 64;
    if (std::strcmp(argv[2], "hold") == 0) {
        HANDLE lock = CreateSemaphoreA(nullptr, 1, 1, kCaptureSemaphoreName);
        if (lock == nullptr || WaitForSingleObject(lock, INFINITE) != WAIT_OBJECT_0)
            return 2;
        std::printf("holding\n");
        std::fflush(stdout);
        for (;;)
            ::pause();
    }
    if (argc == 3 && std::strcmp(argv[2], "truncate") == 0)
        return Truncate();
    if (argc == 5 && std::strcmp(argv[2], "scribble") == 0)
        return Scribble(std::strtoul(argv[3], nullptr, 10), static_cast<unsigned>(std::atoi(argv[4])));
    BridgeFunctions bridge;
    if (!LoadBridge(argv[1], bridge))
        return 3;
    if (argc == 5 && std::strcmp(argv[2], "flood") == 0)
        return Flood(bridge, static_cast<std::uint32_t>(std::atoi(argv[3])), std::strtoul(argv[4], nullptr, 10));
    if (argc == 6 && std::strcmp(argv[2], "crash") == 0)
        return Crash(bridge, static_cast<std::uint32_t>(std::atoi(argv[3])), std::strtoul(argv[4], nullptr, 10),
                     std::strtoul(argv[5], nullptr, 10));
    if (argc < 8 || std::strcmp(argv[2], "play") != 0)
        return 64;
    auto start = bridge.start;
    auto stop = bridge.stop;
    auto map = bridge.map;
    const bool keep = argc > 8 && std::strcmp(argv[8], "keep") == 0;
    const std::uint32_t writer = static_cast<std::uint32_t>(std::atoi(argv[3]));
    const int streams = std::atoi(argv[4]);
    const int buffers = std::atoi(argv[5]);
    const std::size_t minimum = static_cast<std::size_t>(std::atoi(argv[6]));
    const std::size_t maximum = static_cast<std::size_t>(std::atoi(argv[7]));

    BYTE format[20];
    FillFormat(format, writer);
    std::vector<BYTE> buffer(maximum);
    unsigned long stored = 0, refused = 0, refusedBytes = 0, starts = 0;
    for (int stream = 0; stream < streams; ++stream) {
        starts += start() == 1;
        for (int sequence = 0; sequence < buffers; ++sequence) {
            std::size_t size = minimum + (static_cast<std::size_t>(sequence) * 7919u) % (maximum - minimum + 1);
            FillPattern(buffer.data(), size, writer, static_cast<std::uint32_t>(stream),
                        static_cast<std::uint32_t>(sequence));
            CaptureBufferHeader header{buffer.data(), static_cast<std::uint32_t>(size), 0, 0, 0, 0};
            if (map(format, &header) == 1) {
                ++stored;
            } else {
                ++refused;
                refusedBytes += size;
            }
        }
        if (!keep || stream + 1 < streams)
            stop();
    }
    std::printf("stored %lu refused %lu refusedBytes %lu starts %lu\n", stored, refused, refusedBytes, starts);
    return 0;
}
