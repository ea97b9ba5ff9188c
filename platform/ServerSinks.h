// The sound server's sinks (PulseAudio, or PipeWire through its pulse layer), read and set
// through libpulse. Every call makes a short-lived connection of its own and gives up after
// kServerTimeLimitMs, so a stuck server never hangs the caller; a client never starts a server.
// Can be called from any thread.
#pragma once

#include <string>
#include <vector>

// The most a call waits for the server, in milliseconds.
constexpr int kServerTimeLimitMs = 2000;

struct ServerSinkInfo {
    std::string name;        // the server's sink name, as pactl shows it
    std::string description; // what the desktop's sound settings show
};

enum class ServerAnswer {
    Answered,
    NoServer, // nothing listens where libpulse looks: the machine has no sound server
    NoAnswer, // a server is there but failed or did not answer in time (see problem)
};

struct ServerSinkList {
    ServerAnswer answer = ServerAnswer::NoServer;
    std::string problem;     // why there is no answer; empty when answered
    std::vector<ServerSinkInfo> sinks;
    std::string defaultSink; // the server's default sink name; empty when it has none
};

// The server's sinks in the server's order and its default sink.
ServerSinkList ReadServerSinks();

// Makes the sink the server's default sink and waits until the server reports it as default.
// The server remembers the choice. False with *problem set when there is no server, the sink does
// not exist or the server did not take it within the time limit.
bool SetServerDefaultSink(const std::string& sinkName, std::string* problem);

// The sink that was the server's default before the device chooser made the virtual device's
// sink default, kept in the user's runtime folder (file kEarlierDefaultSinkFile) for capdrv,
// which forwards "(Auto select)" to it and makes it default again when it ends. Empty when
// nothing is kept.
constexpr const char* kEarlierDefaultSinkFile = "waveharvester-previous-sink";
std::string EarlierDefaultSinkPath();
std::string ReadEarlierDefaultSink();
// An empty name removes the file.
void WriteEarlierDefaultSink(const std::string& sinkName);
