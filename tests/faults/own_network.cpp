#include "own_network.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace twtest {
namespace {

bool WriteSetting(const char* path, const char* value) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool written = ::write(fd, value, std::strlen(value)) > 0;
  ::close(fd);
  return written;
}

// Entered while the program is still single-threaded, so every thread it
// makes later lives in the namespace too.
bool EnterOwnNetwork() {
  if (::unshare(CLONE_NEWNET) != 0 || !SetLoopbackUp(true)) {
    return false;
  }
  // Small send buffers (these settings belong to the namespace), so that a
  // send stalls within a second of its peer vanishing rather than after
  // megabytes of sound have been queued.
  return WriteSetting("/proc/sys/net/ipv4/tcp_wmem", "4096 16384 65536");
}

const bool ownNetwork = EnterOwnNetwork();

}  // namespace

bool InOwnNetwork() { return ownNetwork; }

bool SetLoopbackUp(bool up) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return false;
  }
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool done = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  if (done) {
    request.ifr_flags =
        static_cast<short>(up ? (request.ifr_flags | IFF_UP) : (request.ifr_flags & ~IFF_UP));
    done = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  }
  ::close(fd);
  return done;
}

}  // namespace twtest
