#include "CProtocolWriter.h"

#include "CRegistryKey.h"
#include "CaptureConnection.h"
#include "Registry.h"

#include <ctime>

namespace {

constexpr int kLabel = kProtocolTextSize; // fixed labels are added whole
constexpr DWORD kProgramIdentification = 0; // Mid, PidO, PidI, PidM

// The build date with its day zero-padded ("Mar  4 1999" becomes "Mar 04 1999"), then the time.
struct BuildStamp {
    char text[21];
    constexpr BuildStamp() : text{}
    {
        constexpr const char date[] = __DATE__;
        constexpr const char time[] = __TIME__;
        for (int at = 0; at < 11; ++at)
            text[at] = date[at];
        if (text[4] == ' ')
            text[4] = '0';
        text[11] = ' ';
        for (int at = 0; at < 8; ++at)
            text[12 + at] = time[at];
        text[20] = '\0';
    }
};
constexpr BuildStamp kBuildStamp;

struct SupportLetter {
    DWORD flag;
    const char* set;
    const char* clear;
};
constexpr SupportLetter kSupportLetters[] = {
    {WAVECAPS_DIRECTSOUND, " D", " d"}, {WAVECAPS_SAMPLEACCURATE, "A", "a"}, {WAVECAPS_SYNC, "S", "s"},
    {WAVECAPS_LRVOLUME, "L", "l"},      {WAVECAPS_VOLUME, "V", "v"},         {WAVECAPS_PLAYBACKRATE, "R", "r"},
    {WAVECAPS_PITCH, "I", "i"},
};

DWORD Flag(bool value)
{
    return value ? 1 : 0;
}

} // namespace

const char* ProtocolBuildStamp()
{
    return kBuildStamp.text;
}

CProtocolWriter::CProtocolWriter()
{
    BOOL firstUse = FALSE;
    ProtocolOpen(m_buffer, firstUse, HKEY_CURRENT_USER, kProgramKeyPath, "RMPFileName");
}

CProtocolWriter::~CProtocolWriter()
{
    ProtocolFlush(m_buffer);
}

void CProtocolWriter::WriteHeader(const ProtocolHeaderValues& values)
{
    char now[64] = "";
    std::time_t seconds = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&seconds, &local) != nullptr)
        std::strftime(now, sizeof now, "\n\n%Y.%m.%d %H:%M:%S", &local);
    ProtocolAppend(m_buffer, now, kLabel);
    ProtocolAppendTime(m_buffer, " (");
    ProtocolAppend(m_buffer, ") WaveHarvester driver protocol.", kLabel);

    ProtocolAppendHex(m_buffer, "\nD=", Flag(values.driverFound));
    ProtocolAppendHex(m_buffer, " I=", Flag(values.captureReady));
    ProtocolAppendHex(m_buffer, " 95=", Flag(values.driverReply == kDriverReply95));
    ProtocolAppendHex(m_buffer, " NT=", Flag(values.driverReply == kDriverReplyNT));
    ProtocolAppendHex(m_buffer, " W=", Flag(values.workWindow != 0));
    ProtocolAppendHex(m_buffer, " EM=", Flag(values.captureMessage != 0));
    ProtocolAppendHex(m_buffer, " Se=", Flag(values.captureSemaphore != nullptr));
    ProtocolAppendHex(m_buffer, " Ar=", Flag(values.captureArea != nullptr));
    ProtocolAppendHex(m_buffer, " MBR=", values.peakAreaUse);

    ProtocolAppendHex(m_buffer, "\nPgm: Mid=", kProgramIdentification);
    ProtocolAppendHex(m_buffer, " PidO=", kProgramIdentification);
    ProtocolAppendHex(m_buffer, " PidI=", kProgramIdentification);
    ProtocolAppendHex(m_buffer, " PidM=", kProgramIdentification);
    ProtocolAppendHex(m_buffer, " v=", kVirtualDeviceVersion);
    ProtocolAppendHex(m_buffer, " CAL=", kCaptureAreaSize);
    ProtocolAppend(m_buffer, " CD=", kLabel);
    ProtocolAppend(m_buffer, ProtocolBuildStamp(), kLabel);

    DumpWaveOutDevices();
    DumpMixerDevices();
    ProtocolAppend(m_buffer, "\n", kLabel);
}

void CProtocolWriter::DumpWaveOutDevices()
{
    UINT count = waveOutGetNumDevs();
    ProtocolAppendHex(m_buffer, "\n\n     ", count);
    ProtocolAppend(m_buffer, " WaveOut device(s):", kLabel);
    for (UINT id = 0; id < count; ++id) {
        ProtocolAppendHex(m_buffer, "\n", id);
        WAVEOUTCAPSA caps;
        MMRESULT result = waveOutGetDevCapsA(id, &caps, sizeof caps);
        if (result != MMSYSERR_NOERROR) {
            ProtocolAppendHex(m_buffer, " err.", result);
            continue;
        }
        ProtocolAppendHex(m_buffer, ": M=", caps.wMid);
        ProtocolAppendHex(m_buffer, " P=", caps.wPid);
        ProtocolAppendHex(m_buffer, " v=", caps.vDriverVersion);
        ProtocolAppend(m_buffer, " N=\"", kLabel);
        ProtocolAppend(m_buffer, caps.szPname, sizeof caps.szPname);
        ProtocolAppend(m_buffer, "\"", kLabel);
        ProtocolAppendHex(m_buffer, " F=", caps.dwFormats);
        ProtocolAppendHex(m_buffer, " c=", caps.wChannels);
        ProtocolAppendHex(m_buffer, " S=", caps.dwSupport);
        for (const SupportLetter& letter : kSupportLetters)
            ProtocolAppend(m_buffer, (caps.dwSupport & letter.flag) != 0 ? letter.set : letter.clear, kLabel);
        ProtocolFlush(m_buffer);
    }
}

void CProtocolWriter::DumpMixerDevices()
{
    UINT count = mixerGetNumDevs();
    ProtocolAppendHex(m_buffer, "\n\n     ", count);
    ProtocolAppend(m_buffer, " Mixer device(s):", kLabel);
    for (UINT id = 0; id < count; ++id) {
        ProtocolAppendHex(m_buffer, "\n", id);
        MIXERCAPSA caps;
        MMRESULT result = mixerGetDevCapsA(id, &caps, sizeof caps);
        if (result != MMSYSERR_NOERROR) {
            ProtocolAppendHex(m_buffer, " err.", result);
            continue;
        }
        ProtocolAppendHex(m_buffer, ": M=", caps.wMid);
        ProtocolAppendHex(m_buffer, " P=", caps.wPid);
        ProtocolAppendHex(m_buffer, " v=", caps.vDriverVersion);
        ProtocolAppend(m_buffer, " N=\"", kLabel);
        ProtocolAppend(m_buffer, caps.szPname, sizeof caps.szPname);
        ProtocolAppend(m_buffer, "\"", kLabel);
        ProtocolAppendHex(m_buffer, " S=", caps.fdwSupport);
        ProtocolAppendHex(m_buffer, " d=", caps.cDestinations);

        HMIXEROBJ mixer = reinterpret_cast<HMIXEROBJ>(static_cast<std::uintptr_t>(id));
        for (DWORD destination = 0; destination < caps.cDestinations; ++destination) {
            ProtocolAppendHex(m_buffer, "\n  Dest ", destination);
            ProtocolAppend(m_buffer, "      ", kLabel);
            MIXERLINEA line{};
            line.cbStruct = sizeof line;
            line.dwDestination = destination;
            result = mixerGetLineInfoA(mixer, &line, MIXER_OBJECTF_MIXER | MIXER_GETLINEINFOF_DESTINATION);
            if (result != MMSYSERR_NOERROR) {
                ProtocolAppendHex(m_buffer, " err.", result);
                continue;
            }
            DumpMixerLine(line);
            DWORD connections = line.cConnections;
            for (DWORD source = 0; source < connections; ++source) {
                ProtocolAppendHex(m_buffer, "\n  Dest ", destination);
                ProtocolAppendHex(m_buffer, " src ", source);
                MIXERLINEA sourceLine{};
                sourceLine.cbStruct = sizeof sourceLine;
                sourceLine.dwDestination = destination;
                sourceLine.dwSource = source;
                result = mixerGetLineInfoA(mixer, &sourceLine, MIXER_OBJECTF_MIXER | MIXER_GETLINEINFOF_SOURCE);
                if (result != MMSYSERR_NOERROR)
                    ProtocolAppendHex(m_buffer, " err.", result);
                else
                    DumpMixerLine(sourceLine);
            }
        }
    }
}

void CProtocolWriter::DumpMixerLine(const MIXERLINEA& line)
{
    ProtocolAppendHex(m_buffer, " LID=", line.dwLineID);
    ProtocolAppendHex(m_buffer, " ch=", line.cChannels);
    ProtocolAppendHex(m_buffer, " cn=", line.cConnections);
    ProtocolAppendHex(m_buffer, " ct=", line.cControls);
    ProtocolAppendHex(m_buffer, " dI=", line.Target.dwDeviceID);
    ProtocolAppend(m_buffer, "\n     shnm=\"", kLabel);
    ProtocolAppend(m_buffer, line.szShortName, sizeof line.szShortName);
    ProtocolAppend(m_buffer, "\" nm=\"", kLabel);
    ProtocolAppend(m_buffer, line.szName, sizeof line.szName);
    ProtocolAppend(m_buffer, "\"\n     ", kLabel);
    ProtocolAppendHex(m_buffer, "M=", line.Target.wMid);
    ProtocolAppendHex(m_buffer, " P=", line.Target.wPid);
    ProtocolAppendHex(m_buffer, " v=", line.Target.vDriverVersion);
    ProtocolAppend(m_buffer, " N=\"", kLabel);
    ProtocolAppend(m_buffer, line.Target.szPname, sizeof line.Target.szPname);
    ProtocolAppend(m_buffer, "\"", kLabel);
    ProtocolFlush(m_buffer);
}
