#include "test_host.h"

#include <chrono>

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

}  // namespace twtest
