#include "engine/capture/pulse_connection.h"

#include <pulse/pulseaudio.h>

namespace glimmerix {

pa_context* NewProgramContext(PulseEventLoop& loop) {
  pa_proplist* properties = pa_proplist_new();
  pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Glimmerix");
  pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "glimmerix");
  pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "glimmerix");
  pa_context* context = pa_context_new_with_proplist(loop.api(), "Glimmerix", properties);
  pa_proplist_free(properties);
  return context;
}

bool ConnectProgramContext(pa_context* context) {
  return pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0;
}

void EndProgramContext(pa_context*& context) {
  if (!context) return;
  pa_context_set_subscribe_callback(context, nullptr, nullptr);
  pa_context_set_state_callback(context, nullptr, nullptr);
  pa_context_disconnect(context);
  pa_context_unref(context);
  context = nullptr;
}

}  // namespace glimmerix
