#include "RecentFileList.h"

#include "Registry.h"

#include <algorithm>
#include <cctype>

namespace {

bool SamePath(const std::string& a, const std::string& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string EntryName(std::size_t index) { return "File" + std::to_string(index + 1); }

} // namespace

void RecentFileList::ReadList(const std::string& programKeyPath)
{
    m_entries.clear();
    HKEY key = nullptr;
    const std::string path = programKeyPath + "\\" + kRecentFileSection;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    for (std::size_t i = 0; i < m_size; ++i) {
        char value[4096];
        DWORD type = 0;
        DWORD size = sizeof value - 1;
        if (RegQueryValueExA(key, EntryName(i).c_str(), nullptr, &type, reinterpret_cast<LPBYTE>(value),
                             &size) != ERROR_SUCCESS ||
            type != REG_SZ)
            continue;
        value[std::min<DWORD>(size, sizeof value - 1)] = '\0';
        std::string entry = value;
        if (!entry.empty())
            m_entries.push_back(entry);
    }
    RegCloseKey(key);
}

void RecentFileList::WriteList(const std::string& programKeyPath) const
{
    const std::string path = programKeyPath + "\\" + kRecentFileSection;
    HKEY key = nullptr;
    if (m_entries.empty()) {
        // Nothing to keep: leave no empty values behind, and no key where none was.
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS)
            return;
    } else if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                               &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    for (std::size_t i = 0; i < m_size; ++i) {
        if (i < m_entries.size()) {
            const std::string& entry = m_entries[i];
            RegSetValueExA(key, EntryName(i).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(entry.c_str()),
                           static_cast<DWORD>(entry.size() + 1));
        } else {
            RegDeleteValueA(key, EntryName(i).c_str());
        }
    }
    RegCloseKey(key);
}

void RecentFileList::Add(const std::string& path)
{
    auto same = std::find_if(m_entries.begin(), m_entries.end(),
                             [&](const std::string& entry) { return SamePath(entry, path); });
    if (same != m_entries.end())
        m_entries.erase(same);
    m_entries.insert(m_entries.begin(), path);
    if (m_entries.size() > m_size)
        m_entries.resize(m_size);
}

void RecentFileList::Remove(std::size_t index)
{
    if (index < m_entries.size())
        m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(index));
}
