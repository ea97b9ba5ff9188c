// Wave files and sample data for playback tests.
#pragma once

#include "FormatRecord.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

inline FormatRecord PcmFormat(WORD channels, DWORD rate, WORD bits)
{
    FormatRecord format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    return format;
}

// Bytes where every stretch differs from every other: a misplaced, lost or repeated piece
// shows in a comparison.
inline std::string SampleBytes(std::size_t size, unsigned seed = 1)
{
    std::string bytes(size, '\0');
    std::uint32_t state = seed * 2654435761u + 12345u;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}

// A RIFF/WAVE file with a "LIST" chunk before "data", so that the data does not start at 44.
inline void WriteWave(const std::string& path, const FormatRecord& format, const std::string& data)
{
    std::string file;
    auto le32 = [&](std::uint32_t v) { file.append(reinterpret_cast<const char*>(&v), 4); };
    auto le16 = [&](std::uint16_t v) { file.append(reinterpret_cast<const char*>(&v), 2); };
    const std::string list("INFOIART\x04\0\0\0test", 16);
    file += "RIFF";
    le32(static_cast<std::uint32_t>(4 + 24 + 8 + list.size() + 8 + data.size()));
    file += "WAVEfmt ";
    le32(16);
    le16(format.wFormatTag);
    le16(format.nChannels);
    le32(format.nSamplesPerSec);
    le32(format.nAvgBytesPerSec);
    le16(format.nBlockAlign);
    le16(format.wBitsPerSample);
    file += "LIST";
    le32(static_cast<std::uint32_t>(list.size()));
    file += list;
    file += "data";
    le32(static_cast<std::uint32_t>(data.size()));
    file += data;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out != nullptr) {
        std::fwrite(file.data(), 1, file.size(), out);
        std::fclose(out);
    }
}

// Equal byte strings, or where they first differ (without printing megabytes).
inline ::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected)
{
    if (actual == expected)
        return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    return ::testing::AssertionFailure() << actual.size() << " bytes where " << expected.size()
                                         << " were expected; first difference at byte " << at;
}
