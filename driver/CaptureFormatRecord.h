// The 20-byte wave format record the capture driver hands to the bridge library with every
// buffer: PCM, channels, rate, bytes per second, block alignment, bits, then four bytes that stay
// zero for every format. Little-endian whatever the machine.
#pragma once

#include <cstring>

constexpr int kCaptureFormatRecordSize = 20;

inline void MakeCaptureFormatRecord(unsigned channels, unsigned rate, unsigned bits, unsigned char* record)
{
    auto store = [record](int at, unsigned value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            record[at + i] = static_cast<unsigned char>(value >> (8 * i));
    };
    const unsigned frameBytes = channels * bits / 8;
    std::memset(record, 0, kCaptureFormatRecordSize);
    store(0, 1, 2);
    store(2, channels, 2);
    store(4, rate, 4);
    store(8, rate * frameBytes, 4);
    store(12, frameBytes, 2);
    store(14, bits, 2);
}
