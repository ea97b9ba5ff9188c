// The long wave file the benchmarks play: 16-bit stereo at 44,100 Hz, a recognisable ramp.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

inline void MakeWaveFile(const std::string& path, int seconds)
{
    const std::uint32_t dataSize = static_cast<std::uint32_t>(seconds) * 176400u;
    std::ofstream out(path, std::ios::binary);
    auto le32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto le16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    le32(36 + dataSize);
    out.write("WAVEfmt ", 8);
    le32(16);
    le16(1);
    le16(2);
    le32(44100);
    le32(176400);
    le16(4);
    le16(16);
    out.write("data", 4);
    le32(dataSize);
    std::vector<std::int16_t> second(88200);
    for (std::size_t i = 0; i < second.size(); ++i)
        second[i] = static_cast<std::int16_t>((i * 37) % 20000);
    for (int s = 0; s < seconds; ++s)
        out.write(reinterpret_cast<const char*>(second.data()), static_cast<std::streamsize>(second.size() * 2));
}
