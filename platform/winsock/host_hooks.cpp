#include "host_hooks.h"

#include <atomic>

namespace twsock {
namespace {

std::atomic<HostHooks*> hostHooks{nullptr};

}  // namespace

void SetHostHooks(HostHooks* hooks) { hostHooks.store(hooks); }

HostHooks* CurrentHostHooks() { return hostHooks.load(); }

}  // namespace twsock
