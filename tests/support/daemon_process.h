// A private server for tests, around its process (child_process.h): an
// environment pointing into a folder of its own, the wait for its socket and
// its log. Shared by the sound servers' fixtures.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/child_process.h"  // StartDaemon, StillRunning, ReapDaemon

namespace twtest {

// The caller's environment without the variables that would lead a server
// or its clients to the user's own session (home, runtime and config
// folders, sound and bus addresses), with each of `pointed` set to its
// value instead.
std::vector<std::string> PrivateEnvironment(
    const std::vector<std::pair<std::string, std::string>>& pointed);

// True once a Unix socket at path accepts a connection.
bool SocketAccepts(const std::string& path);

// The last maxBytes of a log file.
std::string FileTail(const std::string& path, size_t maxBytes = 2000);

}  // namespace twtest
