#include "ServerRoute.h"

#include "RuntimeRecord.h"

namespace {

constexpr const char* kRecordName = "server-forward-sink";

} // namespace

std::string ReadServerForwardSink()
{
    const std::string name = ReadRuntimeRecord(kRecordName);
    // A sink name is one word; anything else is no record of ours.
    return name.find_first_of(" \t\"'") == std::string::npos ? name : std::string();
}

bool WriteServerForwardSink(const std::string& sinkName)
{
    return WriteRuntimeRecord(kRecordName, sinkName);
}
