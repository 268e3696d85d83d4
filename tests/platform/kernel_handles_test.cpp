// Kernel handles: a closed or foreign handle fails cleanly, and a handle value
// is never given out twice (ASan would report any touch of a freed object).
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <set>
#include <thread>

#include "tests/support/test_dialog.h"
#include "tests/support/test_host.h"

namespace {

// Runs one kernel call that must fail and returns its last-error value.
template <class Call>
DWORD ErrorOf(Call call) {
  SetLastError(ERROR_SUCCESS);
  call();
  return GetLastError();
}

TEST(KernelHandles, AClosedEventHandleFailsEveryCallWithInvalidHandle) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  ASSERT_TRUE(CloseHandle(event));

  EXPECT_FALSE(SetEvent(event));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(ErrorOf([&] { EXPECT_FALSE(ResetEvent(event)); }),
            static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED); }),
            static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(ErrorOf([&] { EXPECT_FALSE(CloseHandle(event)); }),
            static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(ErrorOf([&] {
              EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLEVENTS), WAIT_FAILED);
            }),
            static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(KernelHandles, ForeignValuesAreRefusedWithoutBeingTouched) {
  int onTheStack = 0;
  twtest::TestHost host;
  twtest::RunInsideDialog([&](HWND dialog) {
    const HANDLE foreign[] = {nullptr, reinterpret_cast<HANDLE>(std::intptr_t{-1}),
                              static_cast<HANDLE>(&onTheStack), static_cast<HANDLE>(dialog)};
    for (HANDLE handle : foreign) {
      EXPECT_EQ(ErrorOf([&] { EXPECT_FALSE(SetEvent(handle)); }),
                static_cast<DWORD>(ERROR_INVALID_HANDLE));
      EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_FAILED); }),
                static_cast<DWORD>(ERROR_INVALID_HANDLE));
      EXPECT_EQ(ErrorOf([&] { EXPECT_FALSE(CloseHandle(handle)); }),
                static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    // The window survived being offered to CloseHandle.
    EXPECT_TRUE(PostMessageA(dialog, WM_NULL, 0, 0));
  });
  EXPECT_EQ(onTheStack, 0);
}

TEST(KernelHandles, AThreadHandleIsNotAnEventAndAnEventIsNotAThread) {
  HANDLE thread = CreateThread(
      nullptr, 0, [](LPVOID) -> DWORD { return 7; }, nullptr, 0, nullptr);
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(ErrorOf([&] { EXPECT_FALSE(SetEvent(thread)); }),
            static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(ErrorOf([&] { EXPECT_FALSE(SetThreadPriority(event, 1)); }),
            static_cast<DWORD>(ERROR_INVALID_HANDLE));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_FALSE(GetExitCodeThread(thread, &code));
  EXPECT_TRUE(CloseHandle(event));
}

TEST(KernelHandles, HandleValuesAreNeverReused) {
  std::set<HANDLE> seen;
  for (int i = 0; i < 1000; ++i) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_TRUE(seen.insert(event).second) << "handle given out twice: " << event;
    ASSERT_TRUE(CloseHandle(event));
  }
}

// A wait that is under way keeps its object alive when another thread closes
// the handle; the wait still ends by its time-out, and the handle is gone.
TEST(KernelHandles, ClosingAHandleDuringAWaitLeavesTheWaitSafe) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::atomic<DWORD> result{0};
  std::thread waiter([&] { result.store(WaitForSingleObject(event, 300)); });
  Sleep(50);
  EXPECT_TRUE(CloseHandle(event));
  waiter.join();
  EXPECT_EQ(result.load(), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_FALSE(SetEvent(event));
}

}  // namespace
