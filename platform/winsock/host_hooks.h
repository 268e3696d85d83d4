// What a Linux host adds to the sockets the program uses: it learns when the
// program starts and stops listening (to announce the Server on the local
// network), and it may know names the system resolver does not (Servers
// found by their announced names). Nothing here exists on Windows; the
// program's code never sees it.
//
// Thread contract: SetHostHooks before the program's first socket call, and
// the hooks live until the process ends. The hooks are called on the thread
// that makes the socket call (a run's worker) and must return promptly: no
// wait longer than a name lookup's.
#pragma once

#include <cstdint>

namespace twsock {

class HostHooks {
 public:
  virtual ~HostHooks() = default;
  // A TCP socket began listening on port (host order).
  virtual void Listening(int fd, int port) = 0;
  // A listening socket is about to be closed.
  virtual void ListenerClosing(int fd) = 0;
  // The IPv4 address (network order) of a name the system resolver does not
  // know; false when the host does not know it either.
  virtual bool ResolveName(const char* name, std::uint32_t* address) = 0;
};

// Null removes the hooks.
void SetHostHooks(HostHooks* hooks);
HostHooks* CurrentHostHooks();

}  // namespace twsock
