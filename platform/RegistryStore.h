// The per-user registry file behind the Reg* calls. Every call reads the file afresh (a parsed
// copy is kept while the bytes stay the same), so it sees what other processes committed. Every
// change runs under an exclusive lock on "<file>.lock": re-read, change, write a temporary file,
// flush it and rename it over the file, so that concurrent writers lose nothing and a crash
// leaves the old or the new file. A file that cannot be parsed is never written: every call
// fails with ERROR_BADDB until the user mends or removes it. Thread-safe.
#pragma once

#include "RegistryTree.h"
#include "Win32Types.h"

#include <functional>
#include <mutex>
#include <string>

class RegistryStore {
public:
    // The store for the file RegistryFilePath() names now.
    static RegistryStore& Current();

    explicit RegistryStore(std::string path);

    // Runs a read-only look at the current tree; returns the look's result, or the error that
    // kept the file from being read.
    LONG Read(const std::function<LONG(RegistryTree&)>& look);

    // Runs a change on the current tree under the file lock and writes the result when the
    // change returns ERROR_SUCCESS and altered the text.
    LONG Change(const std::function<LONG(RegistryTree&)>& change);

    const std::string& Path() const { return m_path; }

private:
    LONG LoadLocked(std::string& text);
    LONG WriteLocked(const std::string& text);

    std::string m_path;
    std::mutex m_mutex;
    std::string m_cachedText;
    std::optional<RegistryTree> m_cachedTree;
};
