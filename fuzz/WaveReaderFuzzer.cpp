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
        // A valid verdict must describe bytes that lie inside the input, in a plain PCM record
        // (extensible PCM is described as plain PCM).
        const FormatRecord& format = description.fileFormat;
        if (std::uint64_t{description.dataOffset} + description.dataSize > size ||
            description.fileSize != size || description.dataSize == 0 ||
            format.wFormatTag != WAVE_FORMAT_PCM || format.cbSize != 0 || format.nBlockAlign == 0 ||
            format.tail[0] != 0 || format.tail[1] != 0)
            __builtin_trap();
    }
    return 0;
}
