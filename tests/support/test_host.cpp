#include "test_host.h"

#include <algorithm>
#include <chrono>

#include "platform/win32/kernel_object.h"

namespace twtest {

TestHost::TestHost() { twplat::SetHost(this); }

TestHost::~TestHost() {
  HoldBoxes(false);
  twplat::SetHost(nullptr);
}

void TestHost::HoldBoxes(bool hold) {
  std::vector<std::shared_ptr<twplat::MessageBoxRecord>> open;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_ = hold;
    if (!hold) {
      open = boxes_;
    }
  }
  for (auto& box : open) {
    box->Close(IDOK);
  }
}

void TestHost::MessageBoxOpened(const std::shared_ptr<twplat::MessageBoxRecord>& box) {
  bool hold = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.push_back(box);
    hold = hold_;
  }
  changed_.notify_all();
  if (!hold) {
    box->Close(IDOK);
  }
}

std::vector<BoxInfo> TestHost::Boxes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<BoxInfo> infos;
  for (const auto& box : boxes_) {
    infos.push_back({box->owner(), box->caption(), box->text(), box->style(), box->threadId()});
  }
  return infos;
}

size_t TestHost::BoxCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_.size();
}

bool TestHost::WaitForBoxCount(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return boxes_.size() >= count; });
}

std::shared_ptr<twplat::MessageBoxRecord> TestHost::Box(size_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return index < boxes_.size() ? boxes_[index] : nullptr;
}

void TestHost::Dismiss(size_t index, int result) {
  auto box = Box(index);
  if (box) {
    box->Close(result);
  }
}

void TestHost::ClearBoxes() {
  std::lock_guard<std::mutex> lock(mutex_);
  boxes_.clear();
}

void TestHost::WindowCreated(const twplat::WindowDescription& window,
                             const twplat::WindowState& state) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    windows_[window.handle] = WindowRecord{window, state, {state.text}};
  }
  changed_.notify_all();
}

void TestHost::WindowChanged(HWND window, twplat::WindowChange what,
                             const twplat::WindowState& state) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = windows_.find(window);
    if (found == windows_.end()) {
      return;
    }
    found->second.state = state;
    if (what == twplat::WindowChange::kText) {
      found->second.texts.push_back(state.text);
    }
  }
  changed_.notify_all();
}

void TestHost::WindowDestroyed(HWND window) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    windows_.erase(window);
  }
  changed_.notify_all();
}

std::optional<twplat::WindowState> TestHost::State(HWND window) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = windows_.find(window);
  if (found == windows_.end()) {
    return std::nullopt;
  }
  return found->second.state;
}

std::optional<twplat::WindowDescription> TestHost::Description(HWND window) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = windows_.find(window);
  if (found == windows_.end()) {
    return std::nullopt;
  }
  return found->second.description;
}

// Handles grow with creation, so the map's order is the template order.
std::vector<HWND> TestHost::Controls(HWND dialog) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<HWND> controls;
  for (const auto& [handle, record] : windows_) {
    if (record.description.parent == dialog && record.description.className != "#32770") {
      controls.push_back(handle);
    }
  }
  return controls;
}

std::vector<std::string> TestHost::Texts(HWND window) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = windows_.find(window);
  return found == windows_.end() ? std::vector<std::string>{} : found->second.texts;
}

bool TestHost::WaitForState(HWND window,
                            const std::function<bool(const twplat::WindowState&)>& done,
                            int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    auto found = windows_.find(window);
    return found != windows_.end() && done(found->second.state);
  });
}

bool TestHost::WaitForText(HWND window, const std::string& text, int timeoutMs) const {
  return WaitForState(
      window, [&](const twplat::WindowState& state) { return state.text == text; }, timeoutMs);
}

HWND TestHost::WaitForDialog(const std::string& caption, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  HWND found = nullptr;
  changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    for (const auto& [handle, record] : windows_) {
      if (record.description.className == "#32770" && record.state.visible &&
          record.state.text == caption) {
        found = handle;
        return true;
      }
    }
    return false;
  });
  return found;
}

bool TestHost::Click(HWND dialog, int id) { return twplat::ClickButton(GetDlgItem(dialog, id)); }

bool TestHost::Type(HWND dialog, int id, const char* text) {
  return twplat::TypeText(GetDlgItem(dialog, id), text);
}

bool TestHost::Replace(HWND dialog, int id, const char* text) {
  return twplat::ReplaceText(GetDlgItem(dialog, id), text);
}

bool TestHost::Select(HWND dialog, int id, int index) {
  return twplat::SelectComboItem(GetDlgItem(dialog, id), index);
}

bool TestHost::Slide(HWND dialog, int id, int position) {
  return twplat::MoveSlider(GetDlgItem(dialog, id), position);
}

void DrainMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  const unsigned long long deadline = twplat::MonotonicMs() + static_cast<unsigned>(timeoutMs);
  while (!done()) {
    unsigned long long now = twplat::MonotonicMs();
    if (now >= deadline) {
      return false;
    }
    DrainMessages();
    if (done()) {
      return true;
    }
    // Short slices, so a condition changed by another thread without a
    // message is seen too.
    DWORD slice = static_cast<DWORD>(std::min<unsigned long long>(deadline - now, 10));
    MsgWaitForMultipleObjects(0, nullptr, FALSE, slice, QS_ALLINPUT);
  }
  return true;
}

}  // namespace twtest
