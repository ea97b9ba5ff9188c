// WaveIo over bytes in memory: reads never go past the end, writes grow the buffer. For tests
// and the fuzzer.
#pragma once

#include "WaveIo.h"

#include <algorithm>
#include <cstring>
#include <string>

class MemoryWaveIo : public WaveIo {
public:
    MemoryWaveIo() = default;
    explicit MemoryWaveIo(std::string bytes) : m_bytes(std::move(bytes)) {}

    UINT Read(void* buffer, UINT count) override
    {
        std::size_t available = m_position < m_bytes.size() ? m_bytes.size() - m_position : 0;
        UINT length = static_cast<UINT>(std::min<std::size_t>(count, available));
        if (length > 0)
            std::memcpy(buffer, m_bytes.data() + m_position, length);
        m_position += length;
        return length;
    }
    void Write(const void* buffer, UINT count) override
    {
        if (m_bytes.size() < m_position + count)
            m_bytes.resize(m_position + count);
        std::memcpy(m_bytes.data() + m_position, buffer, count);
        m_position += count;
    }
    void SeekTo(std::uint64_t position) override { m_position = position; }
    std::uint64_t Seek(std::int64_t offset) override
    {
        m_position = static_cast<std::uint64_t>(static_cast<std::int64_t>(m_position) + offset);
        return m_position;
    }
    std::uint64_t Length() const override { return m_bytes.size(); }

    const std::string& Bytes() const { return m_bytes; }

private:
    std::string m_bytes;
    std::uint64_t m_position = 0;
};
