#include "server_latency.h"

#include <pulse/pulseaudio.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

struct Query {
  ServerLatency latency;
  int pending = 0;
  pid_t pid = ::getpid();
};

bool OurStream(const pa_proplist* properties, pid_t pid) {
  const char* owner = pa_proplist_gets(properties, PA_PROP_APPLICATION_PROCESS_ID);
  return owner != nullptr && std::strtol(owner, nullptr, 10) == pid;
}

void OnSinkInput(pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
  auto& query = *static_cast<Query*>(userdata);
  if (eol != 0) {
    --query.pending;
  } else if (OurStream(info->proplist, query.pid)) {
    query.latency.playbackMs = (info->buffer_usec + info->sink_usec) / 1000.0;
  }
}

void OnSourceOutput(pa_context*, const pa_source_output_info* info, int eol, void* userdata) {
  auto& query = *static_cast<Query*>(userdata);
  if (eol != 0) {
    --query.pending;
  } else if (OurStream(info->proplist, query.pid)) {
    query.latency.captureMs = (info->buffer_usec + info->source_usec) / 1000.0;
  }
}

}  // namespace

ServerLatency AskServerLatency(std::string* reason) {
  Query query;
  pa_mainloop* loop = pa_mainloop_new();
  pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Tonewire bench");
  bool ready = false;
  if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0) {
    for (int i = 0; i < 1000; ++i) {
      const pa_context_state_t state = pa_context_get_state(context);
      if (state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state)) {
        ready = state == PA_CONTEXT_READY;
        break;
      }
      pa_mainloop_iterate(loop, 1, nullptr);
    }
  }
  if (ready) {
    query.pending = 2;
    pa_operation_unref(pa_context_get_sink_input_info_list(context, OnSinkInput, &query));
    pa_operation_unref(pa_context_get_source_output_info_list(context, OnSourceOutput, &query));
    for (int i = 0; i < 1000 && query.pending > 0; ++i) {
      pa_mainloop_iterate(loop, 1, nullptr);
    }
    query.latency.known = query.pending == 0;
  } else {
    *reason = "cannot ask the server";
  }
  pa_context_disconnect(context);
  pa_context_unref(context);
  pa_mainloop_free(loop);
  return query.latency;
}
