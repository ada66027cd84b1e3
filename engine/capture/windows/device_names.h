// The recording devices Windows lists through waveIn, by the names people see.
//
// Threads: any; each call asks the system anew (it allocates).
#pragma once

#include <string>
#include <vector>

namespace glimmerix {

// text (UTF-16, null-terminated) as UTF-8; "" for null.
std::string Utf8(const wchar_t* text);

// The waveIn devices in their device order (index i is device id i): each by its name as UTF-8.
// A name already given to an earlier device gets " (2)", " (3)"... so that every name is one
// device's, the same from run to run while the devices stay.
std::vector<std::string> ListRecordingDevices();

// The waveIn device id the system records from by default, or -1 when it does not say.
int PreferredRecordingDevice();

}  // namespace glimmerix
