#include "RegistryTree.h"

#include <cctype>
#include <cstdio>

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kRootName = "HKEY_CURRENT_USER";
constexpr DWORD kRegSz = 1;
constexpr DWORD kRegDword = 4;

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string Quote(std::string_view text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// A REG_SZ is written as a quoted string when it is text with exactly one terminating zero
// and no line breaks; anything else keeps its exact bytes as hex(1).
bool IsPlainString(const std::vector<BYTE>& data)
{
    if (data.empty() || data.back() != 0)
        return false;
    for (std::size_t i = 0; i + 1 < data.size(); ++i) {
        if (data[i] == 0 || data[i] == '\n' || data[i] == '\r')
            return false;
    }
    return true;
}

std::string Hex(const std::vector<BYTE>& data)
{
    std::string text;
    char byte[4];
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        if (i > 0)
            text += ',';
        text += byte;
    }
    return text;
}

void SerializeNode(const RegistryNode& node, const std::string& path, bool isRoot, std::string& out)
{
    if (!isRoot || !node.values.empty()) {
        out += "\n[" + path + "]\n";
        for (const RegistryValue& value : node.values) {
            out += value.name.empty() ? std::string("@") : Quote(value.name);
            out += '=';
            if (value.type == kRegSz && IsPlainString(value.data)) {
                out += Quote(std::string_view(reinterpret_cast<const char*>(value.data.data()),
                                              value.data.size() - 1));
            } else if (value.type == kRegDword && value.data.size() == 4) {
                char number[16];
                std::snprintf(number, sizeof number, "dword:%08x",
                              static_cast<unsigned>(value.data[0] | value.data[1] << 8 |
                                                    value.data[2] << 16 |
                                                    static_cast<unsigned>(value.data[3]) << 24));
                out += number;
            } else if (value.type == 3) {
                out += "hex:" + Hex(value.data);
            } else {
                char prefix[24];
                std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
                out += prefix + Hex(value.data);
            }
            out += '\n';
        }
    }
    for (const auto& [lower, child] : node.subkeys)
        SerializeNode(*child, path + "\\" + child->name, false, out);
}

// Reads a quoted string starting at text[pos] == '"'; advances pos past the closing quote.
bool ParseQuoted(std::string_view text, std::size_t& pos, std::string& result)
{
    if (pos >= text.size() || text[pos] != '"')
        return false;
    ++pos;
    result.clear();
    while (pos < text.size()) {
        char c = text[pos++];
        if (c == '"')
            return true;
        if (c == '\\') {
            if (pos >= text.size())
                return false;
            c = text[pos++];
            if (c != '\\' && c != '"')
                return false;
        }
        result += c;
    }
    return false;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    return text;
}

bool ParseHexBytes(std::string_view text, std::vector<BYTE>& data)
{
    data.clear();
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
            ++pos;
        if (pos == text.size())
            break;
        if (pos + 2 > text.size() || !std::isxdigit(static_cast<unsigned char>(text[pos])) ||
            !std::isxdigit(static_cast<unsigned char>(text[pos + 1])))
            return false;
        data.push_back(static_cast<BYTE>(std::stoul(std::string(text.substr(pos, 2)), nullptr, 16)));
        pos += 2;
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
            ++pos;
        if (pos < text.size()) {
            if (text[pos] != ',')
                return false;
            ++pos;
            if (Trim(text.substr(pos)).empty())
                return false; // a list may not end in a comma
        }
    }
    return true;
}

bool ParseData(std::string_view text, RegistryValue& value)
{
    if (!text.empty() && text[0] == '"') {
        std::size_t pos = 0;
        std::string string;
        if (!ParseQuoted(text, pos, string) || pos != text.size())
            return false;
        value.type = kRegSz;
        value.data.assign(string.begin(), string.end());
        value.data.push_back(0);
        return true;
    }
    if (text.substr(0, 6) == "dword:") {
        std::string_view digits = text.substr(6);
        if (digits.size() != 8)
            return false;
        for (char c : digits) {
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                return false;
        }
        unsigned long number = std::stoul(std::string(digits), nullptr, 16);
        value.type = kRegDword;
        value.data = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                      static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
        return true;
    }
    if (text.substr(0, 4) == "hex:") {
        value.type = 3;
        return ParseHexBytes(text.substr(4), value.data);
    }
    if (text.substr(0, 4) == "hex(") {
        std::size_t close = text.find("):");
        if (close == std::string_view::npos || close == 4 || close > 12)
            return false;
        std::string digits(text.substr(4, close - 4));
        for (char c : digits) {
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                return false;
        }
        value.type = static_cast<DWORD>(std::stoul(digits, nullptr, 16));
        return ParseHexBytes(text.substr(close + 2), value.data);
    }
    return false;
}

// Splits a section name "HKEY_CURRENT_USER\a\b" into its key names below the root.
bool ParseSectionPath(std::string_view name, std::vector<std::string>& path)
{
    path.clear();
    std::size_t slash = name.find('\\');
    if (!EqualNoCase(name.substr(0, slash), kRootName))
        return false;
    while (slash != std::string_view::npos) {
        std::size_t next = name.find('\\', slash + 1);
        std::string_view part = name.substr(slash + 1, next == std::string_view::npos
                                                           ? std::string_view::npos
                                                           : next - slash - 1);
        if (part.empty())
            return false;
        path.emplace_back(part);
        slash = next;
    }
    return true;
}

} // namespace

RegistryValue* RegistryNode::FindValue(std::string_view valueName)
{
    for (RegistryValue& value : values) {
        if (EqualNoCase(value.name, valueName))
            return &value;
    }
    return nullptr;
}

RegistryNode* RegistryNode::FindSubkey(std::string_view subkeyName)
{
    auto it = subkeys.find(RegistryTree::Lower(subkeyName));
    return it == subkeys.end() ? nullptr : it->second.get();
}

RegistryTree::RegistryTree() : m_root(std::make_unique<RegistryNode>())
{
    m_root->name = std::string(kRootName);
}

std::string RegistryTree::Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

RegistryNode* RegistryTree::Find(const std::vector<std::string>& path)
{
    RegistryNode* node = m_root.get();
    for (const std::string& name : path) {
        node = node->FindSubkey(name);
        if (node == nullptr)
            return nullptr;
    }
    return node;
}

RegistryNode& RegistryTree::Create(const std::vector<std::string>& path, bool* created)
{
    RegistryNode* node = m_root.get();
    bool madeLast = false;
    for (const std::string& name : path) {
        RegistryNode* child = node->FindSubkey(name);
        madeLast = child == nullptr;
        if (madeLast) {
            auto fresh = std::make_unique<RegistryNode>();
            fresh->name = name;
            child = fresh.get();
            node->subkeys.emplace(Lower(name), std::move(fresh));
        }
        node = child;
    }
    if (created != nullptr)
        *created = madeLast;
    return *node;
}

bool RegistryTree::Remove(const std::vector<std::string>& path)
{
    if (path.empty())
        return false;
    std::vector<std::string> parentPath(path.begin(), path.end() - 1);
    RegistryNode* parent = Find(parentPath);
    return parent != nullptr && parent->subkeys.erase(Lower(path.back())) == 1;
}

std::optional<RegistryTree> RegistryTree::Parse(std::string_view text)
{
    RegistryTree tree;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    if (Trim(text).empty())
        return tree;

    // Join continuation lines (a trailing backslash outside a quoted string).
    std::vector<std::string> lines;
    std::string pending;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        std::string_view line = Trim(text.substr(start, end == std::string_view::npos ? end : end - start));
        start = end == std::string_view::npos ? text.size() + 1 : end + 1;
        bool continues = !line.empty() && line.back() == '\\' && line.front() != '[' &&
                         (!pending.empty() || line.find("=hex") != std::string_view::npos);
        if (continues) {
            pending += std::string(line.substr(0, line.size() - 1));
            continue;
        }
        pending += std::string(line);
        lines.push_back(std::move(pending));
        pending.clear();
    }
    if (!pending.empty())
        return std::nullopt;

    bool sawHeader = false;
    RegistryNode* current = nullptr;
    std::vector<std::string> path;
    for (const std::string& rawLine : lines) {
        std::string_view line = rawLine;
        if (line.empty() || line[0] == ';')
            continue;
        if (!sawHeader) {
            if (line != kHeader)
                return std::nullopt;
            sawHeader = true;
            continue;
        }
        if (line[0] == '[') {
            if (line.back() != ']' || !ParseSectionPath(line.substr(1, line.size() - 2), path))
                return std::nullopt;
            current = &tree.Create(path, nullptr);
            continue;
        }
        if (current == nullptr)
            return std::nullopt;
        RegistryValue value;
        std::size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (!ParseQuoted(line, pos, value.name)) {
            return std::nullopt;
        }
        if (pos >= line.size() || line[pos] != '=')
            return std::nullopt;
        if (!ParseData(line.substr(pos + 1), value))
            return std::nullopt;
        if (RegistryValue* existing = current->FindValue(value.name))
            *existing = std::move(value);
        else
            current->values.push_back(std::move(value));
    }
    if (!sawHeader)
        return std::nullopt;
    return tree;
}

std::string RegistryTree::Serialize() const
{
    std::string out(kHeader);
    out += '\n';
    SerializeNode(*m_root, std::string(kRootName), true, out);
    return out;
}
