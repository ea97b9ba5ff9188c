// A program that plays through the bridge library as the capture driver would: it loads
// libcapbrg32.so with dlopen and appends recognisable buffers.
//   capture_writer_process LIBRARY play WRITER STREAMS BUFFERS MIN MAX
//     each buffer: writer, stream, sequence (3 x 32 bits), then bytes derived from them;
//     prints "stored S refused R refusedBytes B starts T" when done.
//   capture_writer_process LIBRARY hold
//     takes the capture lock, prints "holding" and waits to be killed.
#include "CaptureAreaLayout.h"
#include "CaptureBridge.h"
#include "Semaphore.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

BYTE PatternByte(std::uint32_t writer, std::uint32_t stream, std::uint32_t sequence, std::size_t i)
{
    return static_cast<BYTE>(writer * 31 + stream * 17 + sequence * 7 + i);
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
    if (argc < 8 || std::strcmp(argv[2], "play") != 0)
        return 64;
    void* library = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "%s\n", ::dlerror());
        return 3;
    }
    auto start = reinterpret_cast<StartMappingFunction>(::dlsym(library, "StartMapping"));
    auto stop = reinterpret_cast<StopMappingFunction>(::dlsym(library, "StopMapping"));
    auto map = reinterpret_cast<MapBufferFunction>(::dlsym(library, "MapBuffer"));
    if (start == nullptr || stop == nullptr || map == nullptr)
        return 4;
    const std::uint32_t writer = static_cast<std::uint32_t>(std::atoi(argv[3]));
    const int streams = std::atoi(argv[4]);
    const int buffers = std::atoi(argv[5]);
    const std::size_t minimum = static_cast<std::size_t>(std::atoi(argv[6]));
    const std::size_t maximum = static_cast<std::size_t>(std::atoi(argv[7]));

    // 44,100 Hz, 16-bit stereo; the last two bytes carry the writer.
    BYTE format[20] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 0, 0,
                       static_cast<BYTE>(writer), 0x5A};
    std::vector<BYTE> buffer(maximum);
    unsigned long stored = 0, refused = 0, refusedBytes = 0, starts = 0;
    for (int stream = 0; stream < streams; ++stream) {
        starts += start() == 1;
        for (int sequence = 0; sequence < buffers; ++sequence) {
            std::size_t size = minimum + (static_cast<std::size_t>(sequence) * 7919u) % (maximum - minimum + 1);
            std::uint32_t ids[3] = {writer, static_cast<std::uint32_t>(stream),
                                    static_cast<std::uint32_t>(sequence)};
            std::memcpy(buffer.data(), ids, sizeof ids);
            for (std::size_t i = sizeof ids; i < size; ++i)
                buffer[i] = PatternByte(writer, ids[1], ids[2], i);
            CaptureBufferHeader header{buffer.data(), static_cast<std::uint32_t>(size), 0, 0, 0, 0};
            if (map(format, &header) == 1) {
                ++stored;
            } else {
                ++refused;
                refusedBytes += size;
            }
        }
        stop();
    }
    std::printf("stored %lu refused %lu refusedBytes %lu starts %lu\n", stored, refused, refusedBytes, starts);
    return 0;
}
