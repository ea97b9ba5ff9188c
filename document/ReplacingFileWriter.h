// Writes a file that replaces its target only when every byte is there: the bytes go to an
// unnamed file in the target's folder, which Commit flushes and renames over the target (keeping
// the target's permission bits). Until then the target is untouched; a writer destroyed without
// Commit, or a process killed on the way, leaves nothing behind.
#pragma once

#include "WaveIo.h"

#include <string>

class ReplacingFileWriter : public WaveIo {
public:
    // Throws CFileException when the folder cannot take a new file.
    explicit ReplacingFileWriter(std::string target);
    ~ReplacingFileWriter() override;
    ReplacingFileWriter(const ReplacingFileWriter&) = delete;
    ReplacingFileWriter& operator=(const ReplacingFileWriter&) = delete;

    UINT Read(void* buffer, UINT count) override;
    void Write(const void* buffer, UINT count) override;
    void SeekTo(std::uint64_t position) override;
    std::uint64_t Seek(std::int64_t offset) override;
    std::uint64_t Length() const override;
    std::string Name() const override { return m_target; }

    // Flushes the bytes to the disk and puts them in the target's place; throws CFileException
    // on failure, leaving the target as it was.
    void Commit();

private:
    [[noreturn]] void Fail(int errnoValue) const;

    std::string m_target;
    std::string m_namedTemporary; // only when the folder cannot hold unnamed files
    int m_fd = -1;
};
