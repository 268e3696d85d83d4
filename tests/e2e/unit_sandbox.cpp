// unit_sandbox UNIT: runs a user service's ExecStart= (a /bin/sh -c line)
// inside the sandbox its [Service] settings ask for, as far as a process can
// make it without a service manager (none runs in a test machine):
//   NoNewPrivileges, SystemCallFilter (allow and ~deny lines, the groups as
//   `systemd-analyze syscall-filter` lists them), SystemCallErrorNumber,
//   SystemCallArchitectures=native, RestrictAddressFamilies,
//   MemoryDenyWriteExecute, RestrictNamespaces, RestrictRealtime in seccomp
//   filters; ProtectSystem=strict, ProtectHome=read-only and PrivateTmp in a
//   mount namespace of its own.
// The sound server's socket folder (PULSE_SERVER) stays visible inside the
// private /tmp: in a session it lives in the runtime folder, which
// PrivateTmp leaves alone, but the test rig's server lives under /tmp.
// A setting it cannot make fails the run (exit status 125), so that a
// passing run had the whole sandbox.
#include <fcntl.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kSetupFailed = 125;

using Settings = std::multimap<std::string, std::string>;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "unit_sandbox: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(kSetupFailed);
}

Settings ServiceSettings(const char* path) {
  std::ifstream unit(path);
  Settings settings;
  std::string line;
  bool service = false;
  while (std::getline(unit, line)) {
    if (!line.empty() && line[0] == '[') {
      service = line == "[Service]";
    } else if (service && !line.empty() && line[0] != '#' && line.find('=') != std::string::npos) {
      settings.emplace(line.substr(0, line.find('=')), line.substr(line.find('=') + 1));
    }
  }
  return settings;
}

std::string Setting(const Settings& settings, const std::string& key) {
  auto found = settings.find(key);
  return found == settings.end() ? "" : found->second;
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) {
    words.push_back(word);
  }
  return words;
}

// A name, or a group expanded as the service manager expands it.
void AddCalls(const std::string& name, std::set<std::string>* calls) {
  if (name.empty() || name[0] != '@') {
    calls->insert(name);
    return;
  }
  const std::string command = "systemd-analyze syscall-filter " + name;
  std::unique_ptr<FILE, int (*)(FILE*)> listing(popen(command.c_str(), "r"), pclose);
  if (listing == nullptr) {
    Fail(command);
  }
  char line[256];
  bool header = true;
  while (std::fgets(line, sizeof line, listing.get()) != nullptr) {
    const std::vector<std::string> words = Words(line);
    if (header || words.empty() || words[0][0] == '#') {
      header = false;  // the group's own name
      continue;
    }
    AddCalls(words[0], calls);
  }
}

std::set<std::string> AllowedCalls(const Settings& settings) {
  std::set<std::string> allowed;
  auto [from, to] = settings.equal_range("SystemCallFilter");
  for (auto it = from; it != to; ++it) {
    std::string list = it->second;
    const bool deny = !list.empty() && list[0] == '~';
    std::set<std::string> calls;
    for (const std::string& word : Words(deny ? list.substr(1) : list)) {
      AddCalls(word, &calls);
    }
    for (const std::string& call : calls) {
      if (deny) {
        allowed.erase(call);
      } else {
        allowed.insert(call);
      }
    }
  }
  return allowed;
}

void Load(scmp_filter_ctx filter, const char* what) {
  if (seccomp_load(filter) != 0) {
    Fail(what);
  }
  seccomp_release(filter);
}

// The calls of the allow list; any other fails with SystemCallErrorNumber
// (a call the library does not know on this processor is left out).
void FilterCalls(const Settings& settings) {
  const std::set<std::string> allowed = AllowedCalls(settings);
  if (allowed.empty()) {
    return;
  }
  const int error = Setting(settings, "SystemCallErrorNumber") == "EPERM" ? EPERM : ENOSYS;
  scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ERRNO(error));
  for (const std::string& call : allowed) {
    const int number = seccomp_syscall_resolve_name(call.c_str());
    if (number != __NR_SCMP_ERROR) {
      seccomp_rule_add(filter, SCMP_ACT_ALLOW, number, 0);
    }
  }
  Load(filter, "SystemCallFilter");
}

int Family(const std::string& name) {
  static const std::map<std::string, int> families = {{"AF_UNIX", AF_UNIX},
                                                      {"AF_INET", AF_INET},
                                                      {"AF_INET6", AF_INET6},
                                                      {"AF_NETLINK", AF_NETLINK},
                                                      {"AF_PACKET", AF_PACKET}};
  auto found = families.find(name);
  if (found == families.end()) {
    errno = EINVAL;
    Fail("RestrictAddressFamilies: " + name);
  }
  return found->second;
}

void Deny(scmp_filter_ctx filter, int error, int call, scmp_arg_cmp compare) {
  if (seccomp_rule_add(filter, SCMP_ACT_ERRNO(error), call, 1, compare) != 0) {
    Fail("a rule");
  }
}

// Rules on arguments, in a second filter that allows anything else: of
// stacked filters the strictest answer wins.
void FilterArguments(const Settings& settings) {
  scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
  const std::string families = Setting(settings, "RestrictAddressFamilies");
  if (!families.empty()) {
    std::set<int> kept;
    for (const std::string& name : Words(families)) {
      kept.insert(Family(name));
    }
    for (scmp_datum_t family = 0; family < AF_MAX; ++family) {
      if (kept.count(static_cast<int>(family)) == 0) {
        Deny(filter, EAFNOSUPPORT, SCMP_SYS(socket), SCMP_A0(SCMP_CMP_EQ, family));
      }
    }
    Deny(filter, EAFNOSUPPORT, SCMP_SYS(socket), SCMP_A0(SCMP_CMP_GE, AF_MAX));
  }
  if (Setting(settings, "MemoryDenyWriteExecute") == "yes") {
    const scmp_datum_t writeExecute = PROT_WRITE | PROT_EXEC;
    Deny(filter, EPERM, SCMP_SYS(mmap), SCMP_A2(SCMP_CMP_MASKED_EQ, writeExecute, writeExecute));
    Deny(filter, EPERM, SCMP_SYS(mprotect), SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, PROT_EXEC));
    Deny(filter, EPERM, SCMP_SYS(pkey_mprotect), SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, PROT_EXEC));
    Deny(filter, EPERM, SCMP_SYS(shmat), SCMP_A2(SCMP_CMP_MASKED_EQ, SHM_EXEC, SHM_EXEC));
  }
  if (Setting(settings, "RestrictNamespaces") == "yes") {
    for (const scmp_datum_t kind : {CLONE_NEWNS, CLONE_NEWUTS, CLONE_NEWIPC, CLONE_NEWUSER,
                                    CLONE_NEWPID, CLONE_NEWNET, CLONE_NEWCGROUP}) {
      Deny(filter, EPERM, SCMP_SYS(unshare), SCMP_A0(SCMP_CMP_MASKED_EQ, kind, kind));
      Deny(filter, EPERM, SCMP_SYS(clone), SCMP_A0(SCMP_CMP_MASKED_EQ, kind, kind));
    }
    seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(setns), 0);
    seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0);
  }
  if (Setting(settings, "RestrictRealtime") == "yes") {
    for (const scmp_datum_t policy : {SCHED_FIFO, SCHED_RR, 6 /* SCHED_DEADLINE */}) {
      Deny(filter, EPERM, SCMP_SYS(sched_setscheduler), SCMP_A1(SCMP_CMP_EQ, policy));
    }
  }
  Load(filter, "argument rules");
}

void Remount(const std::string& path, unsigned long flags) {
  if (mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND | flags, nullptr) != 0) {
    Fail("read-only " + path);
  }
}

// Every mount read-only but the kernel's own file systems under /dev, /proc
// and /sys (whose tunables stay read-only too); flags a mount is locked with
// are kept.
void ProtectSystem() {
  std::ifstream mounts("/proc/self/mountinfo");
  std::vector<std::pair<std::string, unsigned long>> points;
  for (std::string line; std::getline(mounts, line);) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point, options;
    fields >> id >> parent >> device >> root >> point >> options;
    unsigned long flags = MS_RDONLY;
    for (const auto& [word, flag] : {std::pair<const char*, unsigned long>{"nosuid", MS_NOSUID},
                                     {"nodev", MS_NODEV},
                                     {"noexec", MS_NOEXEC},
                                     {"noatime", MS_NOATIME},
                                     {"nodiratime", MS_NODIRATIME},
                                     {"relatime", MS_RELATIME}}) {
      flags |= options.find(word) != std::string::npos ? flag : 0;
    }
    const bool kernel = point.rfind("/dev", 0) == 0 || point.rfind("/proc", 0) == 0 ||
                        (point.rfind("/sys", 0) == 0);
    if (!kernel) {
      points.emplace_back(point, flags);
    }
  }
  for (const auto& [point, flags] : points) {
    Remount(point, flags);
  }
  for (const char* tunables : {"/proc/sys", "/sys"}) {
    if (mount(tunables, tunables, nullptr, MS_BIND | MS_REC, nullptr) != 0) {
      Fail(tunables);
    }
    Remount(tunables, MS_NOSUID | MS_NODEV | MS_NOEXEC);
    Remount(tunables, MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC);
  }
}

// The folder of the sound server's socket, if it is one.
std::string SoundServerFolder() {
  const char* server = std::getenv("PULSE_SERVER");
  std::string path = server != nullptr ? server : "";
  if (path.rfind("unix:", 0) == 0) {
    path.erase(0, 5);
  }
  return path.empty() || path[0] != '/' ? "" : path.substr(0, path.find_last_of('/'));
}

// The folder of the first PATH entry: where the test put the program, which
// may itself lie under /tmp (a clone checked out there).
std::string ProgramFolder() {
  const char* path = std::getenv("PATH");
  const std::string entries = path != nullptr ? path : "";
  return entries.substr(0, entries.find(':'));
}

// Creates folder and the parents it lacks, as on the fresh tmpfs.
bool MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      return false;
    }
    if (slash == std::string::npos) {
      return true;
    }
  }
}

bool UnderTmp(const std::string& folder) {
  return folder.rfind("/tmp/", 0) == 0 || folder.rfind("/var/tmp/", 0) == 0;
}

// Fresh /tmp and /var/tmp, in which the folders to keep (the sound server's
// socket, the program) stay visible as they were.
void PrivateTmp(const std::vector<std::string>& keep) {
  const std::string held = "/proc/self/fd/";
  std::vector<std::pair<std::string, int>> kept;
  for (const std::string& folder : keep) {
    if (!UnderTmp(folder)) {
      continue;
    }
    const int handle = open(folder.c_str(), O_PATH | O_DIRECTORY);
    if (handle < 0) {
      Fail(folder);
    }
    kept.emplace_back(folder, handle);
  }
  for (const char* folder : {"/tmp", "/var/tmp"}) {
    if (mount("tmpfs", folder, "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0) {
      Fail(folder);
    }
  }
  for (const auto& [folder, handle] : kept) {
    if (!MakeFolders(folder) || mount((held + std::to_string(handle)).c_str(), folder.c_str(),
                                      nullptr, MS_BIND, nullptr) != 0) {
      Fail(folder);
    }
    close(handle);
  }
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream file(path);
  file << text;
  file.close();
  if (!file) {
    Fail(path);
  }
}

// A user namespace with the caller's own ids, and a mount namespace in it.
void OwnUserNamespace() {
  const std::string uid = std::to_string(getuid());
  const std::string gid = std::to_string(getgid());
  if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
    Fail("a user and mount namespace");
  }
  WriteFile("/proc/self/setgroups", "deny");
  WriteFile("/proc/self/uid_map", uid + " " + uid + " 1");
  WriteFile("/proc/self/gid_map", gid + " " + gid + " 1");
}

void MountNamespace(const Settings& settings) {
  const bool strict = Setting(settings, "ProtectSystem") == "strict";
  const std::string home = Setting(settings, "ProtectHome");
  const bool privateTmp = Setting(settings, "PrivateTmp") == "yes";
  if (!strict && home.empty() && !privateTmp) {
    return;
  }
  if (geteuid() != 0) {
    OwnUserNamespace();  // as a user's service manager does it
  } else if (unshare(CLONE_NEWNS) != 0) {
    Fail("a mount namespace");
  }
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    Fail("private mounts");
  }
  if (strict) {
    ProtectSystem();  // the home folders with the rest
  } else if (home == "read-only") {
    for (const char* folder : {"/home", "/root", "/run/user"}) {
      if (access(folder, F_OK) == 0 &&
          mount(folder, folder, nullptr, MS_BIND | MS_REC, nullptr) == 0) {
        Remount(folder, MS_RDONLY);
      }
    }
  }
  if (privateTmp) {
    PrivateTmp({SoundServerFolder(), ProgramFolder()});
  }
}

// The shell line of ExecStart=/bin/sh -c '...', with $$ as a plain $.
std::string ShellLine(const Settings& settings) {
  std::string line = Setting(settings, "ExecStart");
  const std::string prefix = "/bin/sh -c '";
  if (line.rfind(prefix, 0) != 0 || line.back() != '\'') {
    errno = EINVAL;
    Fail("ExecStart is not /bin/sh -c '...'");
  }
  line = line.substr(prefix.size(), line.size() - prefix.size() - 1);
  for (size_t at = line.find("$$"); at != std::string::npos; at = line.find("$$", at + 1)) {
    line.erase(at, 1);
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: unit_sandbox UNIT\n");
    return 2;
  }
  const Settings settings = ServiceSettings(argv[1]);
  const std::string line = ShellLine(settings);
  MountNamespace(settings);
  if (Setting(settings, "NoNewPrivileges") == "yes" &&
      prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
    Fail("NoNewPrivileges");
  }
  FilterArguments(settings);
  FilterCalls(settings);
  execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
  Fail("exec /bin/sh");
}
