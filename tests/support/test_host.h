// A host for tests: records every message box and either answers it at once
// or holds the calling thread until the test dismisses the box. Constructing
// one installs it for the process; destroying it restores the headless host.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/host.h"

namespace twtest {

struct BoxInfo {
  HWND owner;
  std::string caption;
  std::string text;
  UINT style;
  DWORD threadId;
};

class TestHost : public twplat::Host {
 public:
  TestHost();
  ~TestHost() override;

  // While held, new boxes stay open until Dismiss() (or until holding stops).
  void HoldBoxes(bool hold);

  void MessageBoxOpened(const std::shared_ptr<twplat::MessageBoxRecord>& box) override;

  std::vector<BoxInfo> Boxes() const;
  size_t BoxCount() const;
  // Waits until at least count boxes have opened; false after timeoutMs.
  bool WaitForBoxCount(size_t count, int timeoutMs) const;
  // The box with this index (in order of opening), or null.
  std::shared_ptr<twplat::MessageBoxRecord> Box(size_t index) const;
  void Dismiss(size_t index, int result = IDOK);
  void ClearBoxes();

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool hold_ = false;
  std::vector<std::shared_ptr<twplat::MessageBoxRecord>> boxes_;
};

}  // namespace twtest
