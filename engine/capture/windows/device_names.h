// The recording devices Windows lists through waveIn, by the names people see.
//
// Threads: any; the calls given a device enumerator on the thread that made it (COM initialised).
// Each call asks the system anew (it allocates).
#pragma once

#include <string>
#include <vector>

struct IMMDevice;
struct IMMDeviceEnumerator;

namespace glimmerix {

// text (UTF-16, null-terminated) as UTF-8; "" for null.
std::string Utf8(const wchar_t* text);

// The name people see for an audio endpoint (its friendly name), as UTF-8; "" when it has none.
std::string EndpointName(IMMDevice* device);

// The waveIn devices in their device order (index i is device id i): each by its endpoint's
// friendly name as UTF-8, or where devices is null or the endpoint is not told, by the name
// waveIn gives (at most 31 characters). A name already given to an earlier device gets " (2)", "
// (3)"... so that every name is one device's, the same from run to run while the devices stay.
std::vector<std::string> ListRecordingDevices(IMMDeviceEnumerator* devices);

// The waveIn device id the system records from by default, or -1 when it does not say.
int PreferredRecordingDevice();

}  // namespace glimmerix
