// The virtual device as a sink of the user's sound server (PulseAudio, or PipeWire's pulse
// layer): capdrv keeps a null sink named kVirtualSinkName, described kVirtualDeviceName, records what the server mixes into it (its monitor), forwards that to the real
// sink the user hears and hands it to the bridge library as the ALSA virtual device does.
//
// A stream, for the bridge, begins with the first sound after the sink was idle (StartMapping)
// and ends when the sink goes idle: only silence, or nothing, arrives for a while, or the
// connection to the server is lost (StopMapping). Without a server nothing happens; the sink
// keeps trying to reach one, so it comes back by itself when the server (re)starts. A sink left
// behind by a capdrv that was killed is taken over, not doubled.
#pragma once

#include <memory>
#include <string>

class ServerSink {
public:
    ServerSink();
    ~ServerSink(); // Stop()
    ServerSink(const ServerSink&) = delete;
    ServerSink& operator=(const ServerSink&) = delete;

    // Starts the sink's own threads; `realDevice` is the RealDevice setting. False only when
    // the threads cannot be started (*error says why); no server is not an error.
    bool Start(const std::string& realDevice, std::string* error);
    // RealDevice changed: the sound goes on to the sink it names from now on.
    void SetRealDevice(const std::string& realDevice);
    // Gives the server its earlier default sink back where ours was the default, removes our
    // sink and ends the threads. The bridge sees a stream end if one was running.
    void Stop();

    class Worker;

private:
    std::unique_ptr<Worker> m_worker;
};

// Removes a sink of ours that no capdrv keeps any more (capdrv --uninstall), giving back the
// earlier default sink first. True when there was none or it was removed; *message says what
// happened. Does nothing when no server runs.
bool RemoveServerSink(std::string* message);
