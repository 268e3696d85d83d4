#include "platform/dsound/pulse/pulse_devices.h"

#include <array>
#include <atomic>
#include <cstring>
#include <memory>

#include "platform/dsound/pulse/ordering_point.h"
#include "platform/dsound/pulse/pulse_connection.h"

namespace twplat::sound {
namespace {

// The server's answers are copied into storage made before the request, so
// the callbacks on the main loop thread never allocate.
constexpr size_t kMaxDevices = 128;
constexpr size_t kTextBytes = 512;

using Text = std::array<char, kTextBytes>;

struct Answer {
  std::array<Text, kMaxDevices> names;
  std::array<Text, kMaxDevices> descriptions;
  size_t count = 0;
  Text defaultName{};
  std::atomic<bool> done{false};
  bool playback = true;
  pa_threaded_mainloop* mainloop = nullptr;
};

void CopyText(Text& to, const char* from) {
  std::strncpy(to.data(), from != nullptr ? from : "", to.size() - 1);
  to.back() = '\0';
}

void Store(Answer& answer, const char* name, const char* description) {
  if (answer.count < kMaxDevices) {
    CopyText(answer.names[answer.count], name);
    CopyText(answer.descriptions[answer.count], description != nullptr ? description : name);
    ++answer.count;
  }
}

// Info: pa_sink_info or pa_source_info, one entry of the list.
template <typename Info>
void OnDevice(pa_context*, const Info* info, int eol, void* userdata) {
  auto& answer = *static_cast<Answer*>(userdata);
  const CallbackScope scope;
  if (eol == 0 && info != nullptr) {
    Store(answer, info->name, info->description);
  } else {
    answer.done.store(true);
  }
  pa_threaded_mainloop_signal(answer.mainloop, 0);
}

void OnServer(pa_context*, const pa_server_info* info, void* userdata) {
  auto& answer = *static_cast<Answer*>(userdata);
  const CallbackScope scope;
  if (info != nullptr) {
    CopyText(answer.defaultName,
             answer.playback ? info->default_sink_name : info->default_source_name);
  }
  answer.done.store(true);
  pa_threaded_mainloop_signal(answer.mainloop, 0);
}

bool Finish(PulseSession& session, pa_operation* operation, Answer& answer) {
  if (operation == nullptr) {
    return false;
  }
  const bool done = session.Wait([&answer] { return answer.done.load(); }, kPulseTimeoutMs);
  if (!done) {
    pa_operation_cancel(operation);
  }
  pa_operation_unref(operation);
  OrderingPoint::Mark();
  return done;
}

bool AskServer(PulseSession& session, Direction direction, Answer& answer) {
  const bool playback = direction == Direction::kPlayback;
  answer.playback = playback;
  OrderingPoint::Mark();
  if (!Finish(session, pa_context_get_server_info(session.context(), OnServer, &answer), answer)) {
    return false;
  }
  answer.done.store(false);
  OrderingPoint::Mark();
  pa_operation* operation =
      playback
          ? pa_context_get_sink_info_list(session.context(), OnDevice<pa_sink_info>, &answer)
          : pa_context_get_source_info_list(session.context(), OnDevice<pa_source_info>, &answer);
  return Finish(session, operation, answer);
}

}  // namespace

bool ListPulseDevices(Direction direction, PulseDeviceList* list) {
  auto answer = std::make_unique<Answer>();
  {
    PulseSession session;
    if (!session.connected()) {
      return false;
    }
    answer->mainloop = session.mainloop();
    if (!AskServer(session, direction, *answer)) {
      return false;
    }
  }
  list->devices.clear();
  for (size_t i = 0; i < answer->count; ++i) {
    list->devices.push_back(PulseDevice{answer->names[i].data(), answer->descriptions[i].data()});
  }
  list->defaultName = answer->defaultName.data();
  return true;
}

bool PulseReachable() {
  PulseSession session;
  return session.connected();
}

}  // namespace twplat::sound
