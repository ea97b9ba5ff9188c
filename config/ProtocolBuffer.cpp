#include "ProtocolBuffer.h"

#include "Registry.h"
#include "TickCount.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The process's buffer: zero-initialised, owned by nobody, never freed.
ProtocolBuffer processBuffer;

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr char kTimePattern[] = "60.000";
constexpr DWORD kFirstNegative = 0xFFFFFF00; // -256: from here on values are written signed
constexpr char kDroppedMark[] = "...\n";
constexpr int kDroppedMarkLength = sizeof kDroppedMark - 1;

bool Enabled(const ProtocolBuffer* buffer)
{
    return buffer != nullptr && buffer->fileName[0] != '\0';
}

} // namespace

void ProtocolOpen(ProtocolBuffer*& slot, BOOL& firstUse, HKEY root, LPCSTR keyPath, LPCSTR valueName)
{
    if (slot == nullptr) {
        slot = &processBuffer;
        std::memset(slot, 0, sizeof *slot);
        firstUse = TRUE;
    }
    slot->length = 0;
    if (!firstUse)
        return;
    firstUse = FALSE;
    slot->fileName[0] = '\0';
    HKEY key = nullptr;
    if (RegOpenKeyA(root, keyPath, &key) != ERROR_SUCCESS)
        return;
    DWORD type = REG_NONE;
    DWORD size = kProtocolFileNameSize;
    if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<LPBYTE>(slot->fileName), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        slot->fileName[0] = '\0';
    slot->fileName[kProtocolFileNameSize - 1] = '\0';
    RegCloseKey(key);
}

int ProtocolAppend(ProtocolBuffer* buffer, LPCSTR text, int maxCount)
{
    if (!Enabled(buffer) || text == nullptr)
        return 0;
    int added = 0;
    while (added < maxCount && text[added] != '\0' && buffer->length < kProtocolTextSize)
        buffer->text[buffer->length++] = text[added++];
    return added;
}

void ProtocolAppendHex(ProtocolBuffer* buffer, LPCSTR label, DWORD value)
{
    if (!Enabled(buffer))
        return;
    ProtocolAppend(buffer, label, kProtocolTextSize);
    char digits[12];
    char* start = digits + sizeof digits;
    *--start = '\0';
    DWORD magnitude = value >= kFirstNegative ? 0u - value : value;
    do {
        *--start = kHexDigits[magnitude % 16];
        magnitude /= 16;
    } while (magnitude != 0);
    if (value >= kFirstNegative)
        *--start = '-';
    ProtocolAppend(buffer, start, kProtocolTextSize);
}

void ProtocolAppendTime(ProtocolBuffer* buffer, LPCSTR label)
{
    if (!Enabled(buffer))
        return;
    ProtocolAppend(buffer, label, kProtocolTextSize);
    char time[sizeof kTimePattern];
    DWORD ticks = GetTickCount();
    for (int at = static_cast<int>(sizeof kTimePattern) - 1; at >= 0; --at) {
        char pattern = kTimePattern[at];
        if (pattern == '0' || pattern == '6') {
            DWORD base = pattern == '0' ? 10 : 6;
            time[at] = static_cast<char>('0' + ticks % base);
            ticks /= base;
        } else {
            time[at] = pattern; // the point and the terminator
        }
    }
    ProtocolAppend(buffer, time, kProtocolTextSize);
}

void ProtocolFlush(ProtocolBuffer* buffer)
{
    if (buffer != &processBuffer || buffer->fileName[0] == '\0' || buffer->length == 0 || buffer->busyCount > 0)
        return;
    ++buffer->busyCount;
    int fd = ::open(buffer->fileName, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) {
        char chunk[kProtocolTextSize];
        int length = buffer->length;
        std::memcpy(chunk, buffer->text, static_cast<std::size_t>(length));
        buffer->length = 0;
        if (length == kProtocolTextSize)
            std::memcpy(chunk + length - kDroppedMarkLength, kDroppedMark, kDroppedMarkLength);
        // Text mode: every line feed goes out as carriage return and line feed.
        char written[2 * kProtocolTextSize];
        int size = 0;
        for (int at = 0; at < length; ++at) {
            if (chunk[at] == '\n')
                written[size++] = '\r';
            written[size++] = chunk[at];
        }
        ssize_t result;
        do
            result = ::write(fd, written, static_cast<std::size_t>(size));
        while (result < 0 && errno == EINTR);
        ::close(fd);
    }
    --buffer->busyCount;
}
