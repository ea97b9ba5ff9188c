// The framework's list of recently used files: at most five full paths, newest first, kept in
// the registry below the program's key in "Recent File List" as "File1" to "File5". Read at
// start-up, written at shutdown.
#pragma once

#include <string>
#include <vector>

constexpr std::size_t kRecentFileCount = 5;
constexpr const char* kRecentFileSection = "Recent File List";

class RecentFileList {
public:
    explicit RecentFileList(std::size_t size = kRecentFileCount) : m_size(size) {}

    // Reads "File1".. from the registry key path below HKEY_CURRENT_USER; missing or non-string
    // values leave gaps that are closed up.
    void ReadList(const std::string& programKeyPath);
    // Writes every entry and deletes the values of the places left empty.
    void WriteList(const std::string& programKeyPath) const;

    // Puts the path at the top; an entry of the same path (letter case ignored) moves up.
    void Add(const std::string& path);
    void Remove(std::size_t index);

    const std::vector<std::string>& Entries() const { return m_entries; }

private:
    std::size_t m_size;
    std::vector<std::string> m_entries;
};
