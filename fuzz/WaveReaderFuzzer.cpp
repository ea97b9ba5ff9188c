// Fuzz target for the wave file reader: any bytes must give a verdict without a crash, a hang,
// a leak or a read outside the input.
#include "MemoryWaveIo.h"
#include "WaveFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    MemoryWaveIo file(std::string(reinterpret_cast<const char*>(data), size));
    WaveFileDescription description;
    try {
        ReadWaveFile(file, description);
    } catch (const CFileException&) {
        return 0; // a memory file never ends early; a throw here would be a fault
    }
    if (description.formatValid) {
        // A valid verdict must describe bytes that lie inside the input.
        if (std::uint64_t{description.dataOffset} + description.dataSize > size ||
            description.fileSize != size || description.dataSize == 0)
            __builtin_trap();
    }
    return 0;
}
