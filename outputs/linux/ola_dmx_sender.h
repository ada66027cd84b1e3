// The DMX output's connection to OLA's daemon (olad) through OLA's streaming client, on the
// loopback RPC port (9010). The daemon is never started by the program: a user who wants DMX runs
// olad. Used on the DMX output's sender thread only; that thread ignores SIGPIPE, so a daemon that
// goes away mid-frame costs a failed send, never the process.
#pragma once

#include <memory>

#include "outputs/dmx_output.h"

namespace glimmerix {

std::unique_ptr<DmxConnection> MakeOlaDmxConnection();

}  // namespace glimmerix
