// Writes the program's header block into the driver debugging protocol file named by the
// registry value RMPFileName: the time, the capture connection's state, the program's fixed
// identification values and every waveOut and mixer device with its lines. Lives for one
// header, on the stack: construct, WriteHeader, destroy (which writes what is left). Writes
// nothing when RMPFileName is missing, empty or not a string.
#pragma once

#include "Mixer.h"
#include "ProtocolBuffer.h"
#include "ProtocolHeaderValues.h"

class CProtocolWriter {
public:
    CProtocolWriter();
    virtual ~CProtocolWriter();
    CProtocolWriter(const CProtocolWriter&) = delete;
    CProtocolWriter& operator=(const CProtocolWriter&) = delete;

    void WriteHeader(const ProtocolHeaderValues& values);
    void DumpWaveOutDevices();
    void DumpMixerDevices();
    void DumpMixerLine(const MIXERLINEA& line);

private:
    ProtocolBuffer* m_buffer = nullptr;
};

// The program's build date and time as the header writes them: "Mmm dd yyyy hh:mm:ss".
const char* ProtocolBuildStamp();
