// A private server process for tests: started from a folder of its own with
// an environment pointing into it, ended with the process that started it,
// and reaped on request. Shared by the sound servers' fixtures.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace twtest {

// The caller's environment without the variables that would lead a server
// or its clients to the user's own session (home, runtime and config
// folders, sound and bus addresses), with each of `pointed` set to its
// value instead.
std::vector<std::string> PrivateEnvironment(
    const std::vector<std::pair<std::string, std::string>>& pointed);

// Starts argv (argv[0] looked up in PATH) with the environment, stdout and
// stderr appended to logPath; it dies with the calling thread. -1 on failure.
pid_t StartDaemon(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                  const std::string& logPath);

// True once a Unix socket at path accepts a connection.
bool SocketAccepts(const std::string& path);

// True while the process runs; reaps it (and sets pid to -1) once it ended.
bool StillRunning(pid_t* pid);

// Sends signal, waits up to graceMs for the end, then SIGKILL; pid -1 after.
void ReapDaemon(pid_t* pid, int signal, int graceMs);

// The last maxBytes of a log file.
std::string FileTail(const std::string& path, size_t maxBytes = 2000);

}  // namespace twtest
