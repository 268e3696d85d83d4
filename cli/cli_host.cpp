#include "cli/cli_host.h"

#include <cctype>
#include <chrono>
#include <cstdio>

#include "platform/winsock/winsock_errors.h"
#include "res/resource.h"

namespace twcli {
namespace {

// System texts end with a line break; a box is printed on one line.
std::string WithoutTrailingBreaks(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

std::uint64_t NowMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// " (connection refused)" for a box whose caption carries a code that Linux
// has words for ("Error 0x274d in Connect"); empty otherwise.
std::string LinuxCause(const std::string& caption) {
  unsigned int code = 0;
  if (std::sscanf(caption.c_str(), "Error 0x%x in ", &code) != 1) {
    return std::string();
  }
  const char* text = twsock::LinuxErrorText(code);
  if (text == nullptr || text[0] == '\0') {
    return std::string();
  }
  std::string cause = text;
  // Lower-cased to read as part of the line, unless it starts with an
  // abbreviation ("I/O error").
  if (cause.size() > 1 && std::islower(static_cast<unsigned char>(cause[1]))) {
    cause[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(cause[0])));
  }
  return " (" + cause + ")";
}

// ShowClientInfo's box: "Info", OK only, no icon, from the window's thread.
// "Cannot init Winsock" shares the caption but carries the error icon.
bool IsClientInfoBox(const twplat::MessageBoxRecord& box, DWORD uiThread) {
  return box.threadId() == uiThread && box.caption() == "Info" && (box.style() & MB_ICONMASK) == 0;
}

}  // namespace

const twplat::WindowState* WindowView::State(int id) const {
  auto found = states.find(id);
  return found == states.end() ? nullptr : &found->second;
}

bool WindowView::Enabled(int id) const {
  const twplat::WindowState* state = State(id);
  return state != nullptr && state->enabled;
}

std::string WindowView::Text(int id) const {
  const twplat::WindowState* state = State(id);
  return state == nullptr ? std::string() : state->text;
}

CliHost::CliHost(Console& console, bool printStatus, StatusFilter filter)
    : console_(console),
      printStatus_(printStatus),
      quiet_(filter.quiet()),
      uiThread_(GetCurrentThreadId()),
      filter_(filter) {
  twplat::SetHost(this);
}

CliHost::~CliHost() { twplat::SetHost(nullptr); }

void CliHost::WindowCreated(const twplat::WindowDescription& window,
                            const twplat::WindowState& state) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    windows_[window.handle] = Known{window.parent, window.id};
    if (window.templateId == IDD_MAIN && view_.dialog == nullptr) {
      view_.dialog = window.handle;
      view_.visible = state.visible;
    } else if (window.parent != nullptr && window.parent == view_.dialog && window.id != -1) {
      view_.controls[window.id] = window.handle;
      view_.states[window.id] = state;
    }
  }
  changed_.notify_all();
}

void CliHost::WindowChanged(HWND window, twplat::WindowChange what,
                            const twplat::WindowState& state) {
  int id = 0;
  twplat::WindowState before;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (window == view_.dialog) {
      view_.visible = state.visible;
    }
    auto known = windows_.find(window);
    if (known == windows_.end() || known->second.parent != view_.dialog ||
        view_.dialog == nullptr || view_.states.count(known->second.id) == 0) {
      changed_.notify_all();
      return;
    }
    id = known->second.id;
    before = view_.states[id];
    view_.states[id] = state;
  }
  ControlChanged(id, what, before, state);
  // No wait depends on a meter's or a slider's position or on a Server's
  // "Received" counts, and a Server changes both with every chunk (250
  // times a second at 192000 Hz/8/32): waking the driver for them only
  // costs wake-ups.
  const bool perChunk =
      what == twplat::WindowChange::kPosition ||
      (id == IDC_STATUS && what == twplat::WindowChange::kText && IsReceivedStatus(state.text));
  if (!perChunk) {
    changed_.notify_all();
  }
}

// Runs inside the window system's notification order, so lines come out in
// the order the changes were made.
void CliHost::ControlChanged(int id, twplat::WindowChange what, const twplat::WindowState& before,
                             const twplat::WindowState& after) {
  if (id == IDC_STATUS && what == twplat::WindowChange::kText) {
    PrintStatus(after.text);
    if (after.text == "Playback" || after.text == "Transmitting") {
      std::lock_guard<std::mutex> lock(mutex_);
      ++(after.text == "Playback" ? view_.playbackShown : view_.transmittingShown);
    }
  } else if (id == IDC_START && what == twplat::WindowChange::kEnabled &&
             before.enabled != after.enabled) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++(after.enabled ? view_.startEnabled : view_.startDisabled);
  } else if (id == IDC_BUFFER_METER && what == twplat::WindowChange::kRange) {
    console_.MeterRange(after.rangeMin, after.rangeMax);
  } else if (id == IDC_BUFFER_METER && what == twplat::WindowChange::kPosition) {
    console_.MeterPosition(after.position);
  }
}

void CliHost::PrintStatus(const std::string& text) {
  std::vector<std::string> lines;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!printStatus_) {
      return;
    }
    lines = filter_.Take(text, NowMs());
  }
  for (const std::string& line : lines) {
    console_.Line(stdout, line);
  }
}

void CliHost::DebugOutput(const char* text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!printStatus_ || filter_.quiet()) {
      return;
    }
  }
  std::string line(text);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.pop_back();
  }
  console_.Line(stdout, line);
}

void CliHost::WindowDestroyed(HWND window) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (window == view_.dialog) {
      view_.gone = true;
      view_.visible = false;
    }
    windows_.erase(window);
  }
  changed_.notify_all();
}

// Printed before it is counted: once the driver sees the count, the line is out.
// A box per connection is limited as status texts are, on stderr in every
// mode: a peer must not be able to fill a log with refused headers.
void CliHost::MessageBoxOpened(const std::shared_ptr<twplat::MessageBoxRecord>& box) {
  const bool info = IsClientInfoBox(*box, uiThread_);
  std::vector<std::string> lines;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (info && !quiet_) {
      lines = filter_.TakeLine(box->text(), NowMs());
    } else if (!info) {
      lines = boxLines_.Take(
          box->caption() + ": " + WithoutTrailingBreaks(box->text()) + LinuxCause(box->caption()),
          NowMs());
    }
  }
  for (const std::string& line : lines) {
    console_.Line(info ? stdout : stderr, line);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (info) {
      ++view_.infoBoxes;
    } else {
      ++view_.errorBoxes;
      if (box->threadId() == uiThread_) {
        ++view_.uiThreadBoxes;
      }
    }
  }
  box->Close(IDOK);
  changed_.notify_all();
}

void CliHost::MarkProgramEnded() {
  std::vector<std::string> owed;
  std::vector<std::string> owedBoxes;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    owed = filter_.Flush(NowMs());
    owedBoxes = boxLines_.Flush(NowMs());
    view_.programEnded = true;
  }
  PrintLines(owed, owedBoxes);
  changed_.notify_all();
}

void CliHost::PrintDueSummaries() {
  std::vector<std::string> due;
  std::vector<std::string> dueBoxes;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (printStatus_) {
      due = filter_.Due(NowMs());
    }
    dueBoxes = boxLines_.Due(NowMs());
  }
  PrintLines(due, dueBoxes);
}

void CliHost::PrintLines(const std::vector<std::string>& out, const std::vector<std::string>& err) {
  for (const std::string& line : out) {
    console_.Line(stdout, line);
  }
  for (const std::string& line : err) {
    console_.Line(stderr, line);
  }
}

void CliHost::Wake() {
  {
    // A waiter between asking its condition and sleeping holds the lock: the
    // wake-up cannot fall in between.
    std::lock_guard<std::mutex> lock(mutex_);
  }
  changed_.notify_all();
}

WindowView CliHost::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return view_;
}

bool CliHost::WaitFor(const std::function<bool(const WindowView&)>& done,
                      std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return done(view_); });
}

}  // namespace twcli
