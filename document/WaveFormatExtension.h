// The extensible wave format record (format tag 0xFFFE): the 18-byte wave format record with
// extra size 22, followed by this extension naming the real sample format by a 16-byte
// identifier. Converters write it for PCM of more than 16 bits or more than two channels.
// Little-endian, no padding.
#pragma once

#include "FormatRecord.h"
#include "Win32Types.h"

#include <cstddef>

constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

#pragma pack(push, 1)
struct WaveFormatExtension {
    WORD wValidBitsPerSample; // bits that carry sound inside the container of wBitsPerSample
    DWORD dwChannelMask;      // speaker positions of the channels
    BYTE SubFormat[16];       // the sample format's identifier, as the bytes lie in the file
};
#pragma pack(pop)

static_assert(sizeof(WaveFormatExtension) == 22);
static_assert(offsetof(WaveFormatExtension, wValidBitsPerSample) == 0);
static_assert(offsetof(WaveFormatExtension, dwChannelMask) == 2);
static_assert(offsetof(WaveFormatExtension, SubFormat) == 6);

// The extra size an extensible record states, and the least "fmt " chunk that holds one.
constexpr WORD kWaveFormatExtensionSize = sizeof(WaveFormatExtension);
constexpr std::size_t kExtensibleFormatChunkSize = kWaveFormatRecordSize + sizeof(WaveFormatExtension);
static_assert(kExtensibleFormatChunkSize == 40);

// The identifier of PCM samples (00000001-0000-0010-8000-00AA00389B71) in file byte order.
constexpr BYTE kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                    0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
