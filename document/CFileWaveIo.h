// WaveIo over the framework's file object (not owned).
#pragma once

#include "CFile.h"
#include "WaveIo.h"

class CFileWaveIo : public WaveIo {
public:
    explicit CFileWaveIo(CFile& file) : m_file(file) {}
    UINT Read(void* buffer, UINT count) override { return m_file.Read(buffer, count); }
    void Write(const void* buffer, UINT count) override { m_file.Write(buffer, count); }
    void SeekTo(std::uint64_t position) override
    {
        m_file.Seek(static_cast<std::int64_t>(position), CFile::begin);
    }
    std::uint64_t Seek(std::int64_t offset) override { return m_file.Seek(offset, CFile::current); }
    std::uint64_t Length() const override { return m_file.GetLength(); }
    std::string Name() const override { return m_file.GetFilePath(); }

private:
    CFile& m_file;
};
