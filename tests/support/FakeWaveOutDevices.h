// A waveOut device list a test sets up in place of ALSA's (install it with
// SetWaveOutDeviceList).
#pragma once

#include "WaveOut.h"

#include <vector>

class FakeWaveOutDevices : public WaveOutDeviceList {
public:
    explicit FakeWaveOutDevices(std::vector<WaveOutDevice> devices) : m_devices(std::move(devices)) {}
    std::vector<WaveOutDevice> Devices() override { return m_devices; }

private:
    std::vector<WaveOutDevice> m_devices;
};
