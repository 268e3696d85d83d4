// The process-wide host and the headless host.
#include "host.h"

#include <atomic>
#include <cstdio>

#include "kernel_object.h"

namespace twplat {
namespace {

HeadlessHost& DefaultHost() {
  static HeadlessHost host;
  return host;
}

std::atomic<Host*> installedHost{nullptr};

}  // namespace

void Host::DebugOutput(const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

int Host::WaitIdle(const int* fds, int count, DWORD timeoutMs) {
  return WaitForFds(fds, count, timeoutMs);
}

void SetHost(Host* host) { installedHost.store(host); }

Host& CurrentHost() {
  Host* host = installedHost.load();
  return host != nullptr ? *host : DefaultHost();
}

void HeadlessHost::MessageBoxOpened(const std::shared_ptr<MessageBoxRecord>& box) {
  std::fprintf(stderr, "%s: %s\n", box->caption().c_str(), box->text().c_str());
  std::fflush(stderr);
  box->Close(IDOK);
}

}  // namespace twplat
