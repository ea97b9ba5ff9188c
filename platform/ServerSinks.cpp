#include "ServerSinks.h"

#include "RuntimeRecord.h"

#include "UserPaths.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// How long a call waits between two looks at the default sink after setting it.
constexpr int kDefaultSinkPollMs = 20;

// One synchronous connection to the server, ended by the destructor. Every wait ends at the
// deadline set when the connection was made.
class ServerConnection {
public:
    ServerConnection() : m_deadline(Clock::now() + std::chrono::milliseconds(kServerTimeLimitMs))
    {
        m_loop = pa_mainloop_new();
        if (m_loop == nullptr) {
            m_problem = "pa_mainloop_new failed";
            return;
        }
        m_context = pa_context_new(pa_mainloop_get_api(m_loop), "WaveHarvester");
        if (m_context == nullptr) {
            m_problem = "pa_context_new failed";
            return;
        }
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            Failed("pa_context_connect");
            return;
        }
        while (!Expired()) {
            const pa_context_state_t state = pa_context_get_state(m_context);
            if (state == PA_CONTEXT_READY) {
                m_answer = ServerAnswer::Answered;
                return;
            }
            if (!PA_CONTEXT_IS_GOOD(state)) {
                Failed("pa_context_connect");
                return;
            }
            if (!Iterate())
                return;
        }
        m_answer = ServerAnswer::NoAnswer;
        m_problem = "the sound server did not answer within " + std::to_string(kServerTimeLimitMs) + " ms";
    }

    ~ServerConnection()
    {
        if (m_context != nullptr) {
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
        }
        if (m_loop != nullptr)
            pa_mainloop_free(m_loop);
    }

    ServerConnection(const ServerConnection&) = delete;
    ServerConnection& operator=(const ServerConnection&) = delete;

    bool Ready() const { return m_answer == ServerAnswer::Answered; }
    ServerAnswer Answer() const { return m_answer; }
    const std::string& Problem() const { return m_problem; }
    pa_context* Context() const { return m_context; }

    // Runs the loop until the operation is done; false (with the problem) when the connection
    // fails or the deadline passes first. Takes the operation's reference.
    bool Wait(pa_operation* operation, const char* call)
    {
        if (operation == nullptr) {
            Failed(call);
            return false;
        }
        bool done = false;
        while (!(done = pa_operation_get_state(operation) != PA_OPERATION_RUNNING) && !Expired())
            if (!Iterate())
                break;
        pa_operation_unref(operation);
        if (!done || !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context))) {
            Lost(call);
            return false;
        }
        return true;
    }

    // Runs the loop for about this long (less when the deadline comes first).
    bool Pause(int milliseconds)
    {
        const auto end = std::min(Clock::now() + std::chrono::milliseconds(milliseconds), m_deadline);
        while (Clock::now() < end)
            if (!Iterate(end))
                return false;
        return true;
    }

    bool Expired() const { return Clock::now() >= m_deadline; }

    void Lost(const char* call)
    {
        m_answer = ServerAnswer::NoAnswer;
        if (Expired())
            m_problem = std::string(call) + ": the sound server did not answer within " +
                        std::to_string(kServerTimeLimitMs) + " ms";
        else
            m_problem = std::string(call) + " failed: " + pa_strerror(pa_context_errno(m_context));
    }

private:
    // One pass of the loop, its wait bounded by `until` (the deadline by default).
    bool Iterate(Clock::time_point until = Clock::time_point::max())
    {
        if (until > m_deadline)
            until = m_deadline;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(until - Clock::now()).count();
        if (pa_mainloop_prepare(m_loop, static_cast<int>(left > 0 ? left : 0)) < 0 || pa_mainloop_poll(m_loop) < 0 ||
            pa_mainloop_dispatch(m_loop) < 0) {
            m_answer = ServerAnswer::NoAnswer;
            m_problem = "the sound server's connection loop failed";
            return false;
        }
        return true;
    }

    void Failed(const char* call)
    {
        const int error = m_context != nullptr ? pa_context_errno(m_context) : PA_ERR_UNKNOWN;
        // Nobody listening where libpulse looks means there is no server at all.
        m_answer = error == PA_ERR_CONNECTIONREFUSED || error == PA_ERR_INVALIDSERVER ? ServerAnswer::NoServer
                                                                                      : ServerAnswer::NoAnswer;
        m_problem = std::string(call) + " failed: " + pa_strerror(error);
    }

    Clock::time_point m_deadline;
    pa_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    ServerAnswer m_answer = ServerAnswer::NoServer;
    std::string m_problem;
};

void TakeServerInfo(pa_context*, const pa_server_info* info, void* userdata)
{
    if (info != nullptr && info->default_sink_name != nullptr)
        *static_cast<std::string*>(userdata) = info->default_sink_name;
}

void TakeSink(pa_context*, const pa_sink_info* info, int eol, void* userdata)
{
    if (eol != 0 || info == nullptr)
        return;
    auto* sinks = static_cast<std::vector<ServerSinkInfo>*>(userdata);
    sinks->push_back({info->name != nullptr ? info->name : "", info->description != nullptr ? info->description : ""});
}

void TakeSuccess(pa_context*, int success, void* userdata)
{
    *static_cast<int*>(userdata) = success;
}

bool ReadDefaultSink(ServerConnection& connection, std::string* name)
{
    name->clear();
    return connection.Wait(pa_context_get_server_info(connection.Context(), TakeServerInfo, name),
                           "pa_context_get_server_info");
}

} // namespace

ServerSinkList ReadServerSinks()
{
    ServerSinkList list;
    ServerConnection connection;
    if (connection.Ready() && ReadDefaultSink(connection, &list.defaultSink))
        connection.Wait(pa_context_get_sink_info_list(connection.Context(), TakeSink, &list.sinks),
                        "pa_context_get_sink_info_list");
    list.answer = connection.Answer();
    list.problem = connection.Problem();
    if (list.answer != ServerAnswer::Answered) {
        list.sinks.clear();
        list.defaultSink.clear();
    } else if (!list.defaultSink.empty()) {
        // A server names a default it does not have when its last sink has gone.
        bool present = false;
        for (const ServerSinkInfo& sink : list.sinks)
            present = present || sink.name == list.defaultSink;
        if (!present)
            list.defaultSink.clear();
    }
    return list;
}

bool SetServerDefaultSink(const std::string& sinkName, std::string* problem)
{
    ServerConnection connection;
    if (!connection.Ready()) {
        *problem = connection.Problem();
        return false;
    }
    int success = 0;
    if (!connection.Wait(pa_context_set_default_sink(connection.Context(), sinkName.c_str(), TakeSuccess, &success),
                         "pa_context_set_default_sink")) {
        *problem = connection.Problem();
        return false;
    }
    if (success == 0) {
        *problem = "the sound server refused to make \"" + sinkName +
                   "\" its default sink: " + pa_strerror(pa_context_errno(connection.Context()));
        return false;
    }
    // PipeWire's session manager applies the choice a moment after the answer.
    for (;;) {
        std::string current;
        if (!ReadDefaultSink(connection, &current)) {
            *problem = connection.Problem();
            return false;
        }
        if (current == sinkName)
            return true;
        if (connection.Expired() || !connection.Pause(kDefaultSinkPollMs)) {
            *problem = "the sound server did not make \"" + sinkName + "\" its default sink within " +
                       std::to_string(kServerTimeLimitMs) + " ms (it is \"" + current + "\")";
            return false;
        }
    }
}

std::string EarlierDefaultSinkPath()
{
    return RuntimeRecordPath(kEarlierDefaultSinkFile);
}

std::string ReadEarlierDefaultSink()
{
    return ReadRuntimeRecord(kEarlierDefaultSinkFile);
}

void WriteEarlierDefaultSink(const std::string& sinkName)
{
    WriteRuntimeRecord(kEarlierDefaultSinkFile, sinkName);
}
