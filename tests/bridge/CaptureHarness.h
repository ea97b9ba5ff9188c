// The program's side of the capture channel for tests: it opens the capture objects by name,
// owns a window that drains the area on every capture message, and runs writer processes.
#pragma once

#include "CaptureArea.h"
#include "CaptureReader.h"
#include "FileMapping.h"
#include "HandleTable.h"
#include "Semaphore.h"
#include "WindowMessages.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <map>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct WriterReport {
    unsigned long stored = 0, refused = 0, refusedBytes = 0, starts = 0;
    int exitStatus = -1;
};

struct ReceivedBuffer {
    std::uint32_t writer, stream, sequence, streamId;
};

// Starts writer processes (and other programs) with their standard output readable.
class ProcessLauncher {
public:
    // Starts a writer process with the given arguments after the library path.
    pid_t Spawn(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> all = {WRITER_PROCESS_PATH, BRIDGE_LIBRARY_PATH};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return SpawnProgram(all);
    }

    // Starts a program (argv[0] is its path) with its standard output readable by FirstLine.
    pid_t SpawnProgram(std::vector<std::string> all)
    {
        int output[2];
        if (::pipe(output) != 0)
            return -1;
        pid_t child = ::fork();
        if (child == 0) {
            ::dup2(output[1], 1);
            ::close(output[0]);
            ::close(output[1]);
            std::vector<char*> argv;
            for (std::string& argument : all)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(output[1]);
        m_outputs[child] = output[0];
        return child;
    }

    // Reads the first line a child printed (blocks until it prints or exits).
    std::string FirstLine(pid_t child)
    {
        std::string line;
        char c;
        while (::read(m_outputs[child], &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }

protected:
    std::map<pid_t, int> m_outputs;
};

class CaptureHarness : public ProcessLauncher {
public:
    CaptureHarness()
    {
        mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kCaptureAreaSize,
                                     kCaptureAreaName);
        area = mapping ? static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kCaptureAreaSize))
                       : nullptr;
        message = RegisterWindowMessageA(kCaptureMessageName);
        lock = CreateSemaphoreA(nullptr, 1, 1, kCaptureSemaphoreName);
        window = CreateMessageWindow("capture test view", [this](HWND, UINT received, WPARAM, LPARAM) {
            if (received == message && draining)
                Drain();
            return LRESULT{0};
        });
    }
    ~CaptureHarness()
    {
        DestroyWindow(window);
        if (area != nullptr)
            UnmapViewOfFile(area);
        if (mapping != nullptr)
            CloseHandle(mapping);
        if (lock != nullptr)
            CloseHandle(lock);
    }

    bool Ready() const { return area != nullptr && message != 0 && lock != nullptr && window != 0; }

    bool StartRecording()
    {
        bool capturing = false;
        return CaptureReader(area, lock).StartRecording(window, capturing);
    }

    void Drain()
    {
        CaptureReader(area, lock).Drain(peakAreaUse, [this](const CapturedBlock& block) {
            if (onBlock)
                onBlock(block);
            else
                Check(block);
        });
    }

    // Checks one block against what the writer put in it.
    void Check(const CapturedBlock& block)
    {
        std::uint32_t ids[3];
        if (block.length < sizeof ids) {
            ++malformed;
            return;
        }
        std::memcpy(ids, block.samples, sizeof ids);
        bool exact = block.format[0] == 1 && block.format[18] == static_cast<BYTE>(ids[0]) &&
                     block.format[19] == 0x5A;
        for (std::size_t i = sizeof ids; exact && i < block.length; ++i)
            exact = block.samples[i] == static_cast<BYTE>(ids[0] * 31 + ids[1] * 17 + ids[2] * 7 + i);
        if (!exact) {
            ++malformed;
            return;
        }
        received.push_back({ids[0], ids[1], ids[2], block.streamId});
        receivedBytes += block.length;
    }

    // Serves capture messages until every listed writer has ended (or the limit passes), then
    // drains once more. Returns the writers' reports.
    std::map<pid_t, WriterReport> ServeUntilDone(const std::vector<pid_t>& writers, int limitSeconds = 120,
                                                 const std::function<void()>& eachRound = nullptr)
    {
        std::map<pid_t, WriterReport> reports;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
        std::size_t ended = 0;
        while (ended < writers.size() && std::chrono::steady_clock::now() < deadline) {
            pollfd waiting{MessageQueueDescriptor(), POLLIN, 0};
            ::poll(&waiting, 1, 50);
            if (eachRound)
                eachRound();
            DispatchPendingMessages();
            for (pid_t writer : writers) {
                if (reports.count(writer) != 0)
                    continue;
                int status = 0;
                if (::waitpid(writer, &status, WNOHANG) == writer) {
                    WriterReport report;
                    report.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                    std::string line = FirstLine(writer);
                    std::sscanf(line.c_str(), "stored %lu refused %lu refusedBytes %lu starts %lu",
                                &report.stored, &report.refused, &report.refusedBytes, &report.starts);
                    ::close(m_outputs[writer]);
                    reports[writer] = report;
                    ++ended;
                }
            }
        }
        timedOut = ended < writers.size();
        DispatchPendingMessages();
        Drain();
        return reports;
    }

    // Serves capture messages for a while.
    void ServeFor(std::chrono::milliseconds duration)
    {
        const auto deadline = std::chrono::steady_clock::now() + duration;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd waiting{MessageQueueDescriptor(), POLLIN, 0};
            ::poll(&waiting, 1, 5);
            DispatchPendingMessages();
        }
    }

    HANDLE mapping = nullptr;
    BYTE* area = nullptr;
    UINT message = 0;
    HANDLE lock = nullptr;
    HWND window = 0;
    bool draining = true;
    // When set, receives every drained block instead of the writer-content check.
    std::function<void(const CapturedBlock&)> onBlock;
    std::int32_t peakAreaUse = 56;
    std::vector<ReceivedBuffer> received;
    unsigned long long receivedBytes = 0;
    unsigned malformed = 0;
    bool timedOut = false;
};

// What is left of the capture objects and endpoints in a runtime folder and in /dev/shm.
inline std::vector<std::string> CaptureLeftovers(const std::string& runtime, const std::string& scope)
{
    std::vector<std::string> left;
    auto list = [&left](const std::string& folder, const std::string& containing, const std::string& label) {
        DIR* entries = ::opendir(folder.c_str());
        if (entries == nullptr)
            return;
        while (dirent* entry = ::readdir(entries)) {
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && name.find(containing) != std::string::npos)
                left.push_back(label + name);
        }
        ::closedir(entries);
    };
    for (const char* folder : {"objects", "endpoints", "windows"})
        list(runtime + "/" + folder, "", std::string(folder) + "/");
    list("/dev/shm", scope, "/dev/shm/");
    return left;
}
