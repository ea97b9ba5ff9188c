#include "DriverProtocol.h"

#include "ProtocolBuffer.h"
#include "Registry.h"

#include <cstring>
#include <fstream>
#include <mutex>
#include <unistd.h>

namespace DriverProtocol {

namespace {

std::mutex protocolMutex;
ProtocolBuffer* buffer = nullptr;

void Text(const char* text)
{
    ProtocolAppend(buffer, text, kProtocolTextSize);
}

void Quoted(const char* text)
{
    Text("\"");
    Text(text);
    Text("\"");
}

// "\n<time> Drv <what>: pid=<id> "<name>"", the start of every line of the driver.
void LineStart(const char* what)
{
    ProtocolAppendTime(buffer, "\n");
    Text(" Drv ");
    Text(what);
    ProtocolAppendHex(buffer, ": pid=", static_cast<DWORD>(::getpid()));
    Text(" ");
    Quoted(ProcessName().c_str());
}

} // namespace

const std::string& ProcessName()
{
    static const std::string name = [] {
        std::string text;
        std::ifstream("/proc/self/comm") >> text;
        return text.empty() ? std::string("?") : text;
    }();
    return name;
}

void Open()
{
    std::lock_guard lock(protocolMutex);
    BOOL firstUse = TRUE; // read the file name afresh: the user may have changed it
    ProtocolOpen(buffer, firstUse, HKEY_CURRENT_USER, "Software\\Kestrelworks\\WaveHarvester", "RMPFileName");
}

void StreamOpened(const StreamSetup& setup)
{
    std::lock_guard lock(protocolMutex);
    LineStart("open");
    Text(" fmt=");
    Text(setup.format);
    ProtocolAppendHex(buffer, " c=", setup.channels);
    ProtocolAppendHex(buffer, " r=", setup.rate);
    ProtocolAppendHex(buffer, " buf=", static_cast<DWORD>(setup.buffer));
    ProtocolAppendHex(buffer, " per=", static_cast<DWORD>(setup.period));
    Text(" real=");
    Quoted(setup.realDevice);
    Text(" (");
    Text(setup.why);
    Text(")");
    ProtocolAppendHex(buffer, " realbuf=", static_cast<DWORD>(setup.realBuffer));
    ProtocolAppendHex(buffer, " realper=", static_cast<DWORD>(setup.realPeriod));
    ProtocolFlush(buffer);
}

void StreamClosed(unsigned long buffers, unsigned long refused)
{
    std::lock_guard lock(protocolMutex);
    LineStart("close");
    ProtocolAppendHex(buffer, " buffers=", static_cast<DWORD>(buffers));
    ProtocolAppendHex(buffer, " refused=", static_cast<DWORD>(refused));
    ProtocolFlush(buffer);
}

void Error(const std::string& what, int error)
{
    std::lock_guard lock(protocolMutex);
    LineStart("error");
    Text(" ");
    Text(what.c_str());
    Text(": ");
    Text(std::strerror(-error));
    ProtocolAppendHex(buffer, " (", static_cast<DWORD>(error));
    Text(")");
    ProtocolFlush(buffer);
}

} // namespace DriverProtocol
