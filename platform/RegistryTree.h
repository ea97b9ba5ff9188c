// The registry's keys and values in memory, and their REGEDIT4 text form. Key and value names
// are compared without regard to ASCII letter case and keep the case they were created with.
#pragma once

#include "Win32Types.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct RegistryValue {
    std::string name; // empty: the key's default value
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct RegistryNode {
    std::string name;
    std::vector<RegistryValue> values;                           // in order of creation
    std::map<std::string, std::unique_ptr<RegistryNode>> subkeys; // by lower-case name

    RegistryValue* FindValue(std::string_view valueName);
    RegistryNode* FindSubkey(std::string_view subkeyName);
};

class RegistryTree {
public:
    // The root is HKEY_CURRENT_USER.
    RegistryTree();

    // Parses REGEDIT4 text; nothing when the text is not a well-formed registry file of
    // HKEY_CURRENT_USER. An empty text is an empty registry.
    static std::optional<RegistryTree> Parse(std::string_view text);
    std::string Serialize() const;

    RegistryNode& Root() { return *m_root; }

    // The node at a path of key names below the root, or nullptr.
    RegistryNode* Find(const std::vector<std::string>& path);

    // Creates every missing key along the path; *created tells whether the last one was new.
    RegistryNode& Create(const std::vector<std::string>& path, bool* created);

    // Removes the key at the path (not the root) with everything below it.
    bool Remove(const std::vector<std::string>& path);

    static std::string Lower(std::string_view text);

private:
    std::unique_ptr<RegistryNode> m_root;
};
