// FormatMessageA's system texts, allocated or in the caller's buffer, and
// the codes it has no text for.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr DWORD kSystemFlags =
    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
constexpr DWORD kUserDefault = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

// The allocated text for a code, or "<none>" with GetLastError kept.
std::string SystemText(DWORD code, DWORD language = kUserDefault) {
  char* text = nullptr;
  DWORD length = FormatMessageA(kSystemFlags, nullptr, code, language,
                                reinterpret_cast<LPSTR>(&text), 0, nullptr);
  if (length == 0) {
    EXPECT_EQ(nullptr, text);
    return "<none>";
  }
  std::string result(text);
  EXPECT_EQ(length, result.size());
  EXPECT_EQ(nullptr, LocalFree(text));
  return result;
}

TEST(FormatMessage, WinsockCodesHaveWindowsTexts) {
  EXPECT_EQ("No connection could be made because the target machine actively refused it.\r\n",
            SystemText(10061));
  EXPECT_EQ("An existing connection was forcibly closed by the remote host.\r\n",
            SystemText(10054));
  EXPECT_EQ("A non-blocking socket operation could not be completed immediately.\r\n",
            SystemText(10035));
}

TEST(FormatMessage, KernelCodesHaveWindowsTexts) {
  EXPECT_EQ("Access is denied.\r\n", SystemText(ERROR_ACCESS_DENIED));
  EXPECT_EQ("The handle is invalid.\r\n", SystemText(ERROR_INVALID_HANDLE));
  EXPECT_EQ("The parameter is incorrect.\r\n", SystemText(ERROR_INVALID_PARAMETER));
  EXPECT_EQ("The operation completed successfully.\r\n", SystemText(ERROR_SUCCESS));
  for (DWORD code :
       {ERROR_INVALID_FUNCTION, ERROR_NOT_ENOUGH_MEMORY, ERROR_OUTOFMEMORY,
        ERROR_INSUFFICIENT_BUFFER, ERROR_MR_MID_NOT_FOUND, ERROR_INVALID_WINDOW_HANDLE,
        ERROR_CONTROL_ID_NOT_FOUND, ERROR_RESOURCE_NAME_NOT_FOUND, ERROR_RESOURCE_LANG_NOT_FOUND}) {
    std::string text = SystemText(code);
    ASSERT_GT(text.size(), 2u) << code;
    EXPECT_EQ("\r\n", text.substr(text.size() - 2)) << code;
  }
}

TEST(FormatMessage, CodesWithoutTextYieldZeroAndMrMidNotFound) {
  SetLastError(0);
  EXPECT_EQ("<none>", SystemText(0x88780078));  // DSERR_NODRIVER: DirectSound's, not the system's
  EXPECT_EQ(static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND), GetLastError());
  SetLastError(0);
  EXPECT_EQ("<none>", SystemText(0x12345678));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND), GetLastError());
}

TEST(FormatMessage, CallerBufferIsFilledWhenLargeEnough) {
  char buffer[128];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                ERROR_ACCESS_DENIED, kUserDefault, buffer, sizeof buffer, nullptr);
  EXPECT_EQ(19u, length);
  EXPECT_STREQ("Access is denied.\r\n", buffer);

  char small[10];
  SetLastError(0);
  EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               ERROR_ACCESS_DENIED, kUserDefault, small, sizeof small, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
}

TEST(FormatMessage, AllocatedTextHonoursAMinimumSize) {
  char* text = nullptr;
  DWORD length = FormatMessageA(kSystemFlags, nullptr, 10061, 0, reinterpret_cast<LPSTR>(&text),
                                4096, nullptr);
  ASSERT_GT(length, 0u);
  text[4095] = 'x';  // 4096 characters were allocated
  EXPECT_EQ(nullptr, LocalFree(text));
  EXPECT_EQ(nullptr, LocalFree(nullptr));
}

TEST(FormatMessage, EnglishAndDefaultLanguagesOnly) {
  EXPECT_NE("<none>", SystemText(10061, 0));
  EXPECT_NE("<none>", SystemText(10061, MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT)));
  EXPECT_NE("<none>", SystemText(10061, MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT)));
  SetLastError(0);
  EXPECT_EQ("<none>", SystemText(10061, MAKELANGID(0x07, 0x01)));  // German
  EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND), GetLastError());
}

TEST(FormatMessage, OnlySystemTextsAndInsertsOnlyWhenIgnored) {
  char buffer[256];
  SetLastError(0);
  EXPECT_EQ(
      0u, FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "text", 0, 0, buffer, sizeof buffer, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  // ERROR_MR_MID_NOT_FOUND's text has inserts (%1, %2).
  EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_MR_MID_NOT_FOUND, 0,
                               buffer, sizeof buffer, nullptr));
  EXPECT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           ERROR_MR_MID_NOT_FOUND, 0, buffer, sizeof buffer, nullptr),
            0u);
  EXPECT_NE(std::string::npos, std::string(buffer).find("%1"));
  // A text without inserts needs no IGNORE_INSERTS.
  EXPECT_GT(
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 10061, 0, buffer, sizeof buffer, nullptr),
      0u);
}

}  // namespace
