// Small helpers of the protocol tests: the RMPFileName value in the private registry, and the
// tick count fixed to a chosen value.
#pragma once

#include "CRegistryKey.h"
#include "Registry.h"
#include "TickCount.h"

#include <gtest/gtest.h>
#include <string>

// Stores RMPFileName with the given type; the data is the text with its terminator.
inline void SetProtocolFileValue(DWORD type, const std::string& text)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kProgramKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "RMPFileName", 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>(text.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

inline void SetProtocolFileName(const std::string& path)
{
    SetProtocolFileValue(REG_SZ, path);
}

// Makes GetTickCount answer a fixed value while it lives.
class FixedTickCount {
public:
    explicit FixedTickCount(DWORD ticks)
    {
        s_ticks = ticks;
        SetTickCountSource([] { return s_ticks; });
    }
    ~FixedTickCount() { SetTickCountSource(nullptr); }

private:
    static inline DWORD s_ticks = 0;
};
