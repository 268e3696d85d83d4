// The registry calls over the per-user settings file: Windows' results and
// codes, the file's place, and damaged or unreadable files.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "tests/support/config_home.h"

namespace {

namespace fs = std::filesystem;

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = twtest::UseFreshConfigHome();
    ASSERT_FALSE(home_.empty());
  }
  void TearDown() override {
    if (key_ != nullptr) {
      EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key_));
    }
  }

  LONG Create(const char* path = "Software\\Tonewire", REGSAM access = KEY_ALL_ACCESS) {
    return RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                           nullptr, &key_, &disposition_);
  }
  LONG SetText(const char* name, const std::string& text) {
    return RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
  }
  LONG SetNumber(const char* name, DWORD number) {
    return RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                          sizeof number);
  }
  std::string FileText() const {
    std::ifstream in(fs::path(home_) / "tonewire" / "settings.conf");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string home_;
  HKEY key_ = nullptr;
  DWORD disposition_ = 0;
};

TEST_F(Registry, ValuesSurviveInTheUsersConfigurationFolder) {
  HKEY missing = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tonewire", 0, KEY_READ, &missing));
  ASSERT_EQ(ERROR_SUCCESS, Create());
  EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition_);
  const std::string awkward = "line one\nback\\slash = and more\r";
  ASSERT_EQ(ERROR_SUCCESS, SetText("Host", awkward));
  ASSERT_EQ(ERROR_SUCCESS, SetNumber("Port", 0xFFFFFFFFu));
  EXPECT_NE(FileText().find("[Software\\Tonewire]"), std::string::npos) << FileText();
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key_));
  key_ = nullptr;

  // Another handle, names in another case, as Windows compares them.
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\tonewire", 0, KEY_READ, &key_));
  char text[64] = {};
  DWORD type = REG_NONE;
  DWORD bytes = sizeof text;
  ASSERT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(key_, "host", nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(awkward, text);
  EXPECT_EQ(awkward.size() + 1, bytes);  // with its terminating zero
  DWORD number = 0;
  bytes = sizeof number;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "Port", nullptr, &type,
                                            reinterpret_cast<BYTE*>(&number), &bytes));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  EXPECT_EQ(0xFFFFFFFFu, number);
}

// Names that would start a section or a comment line read back as written.
TEST_F(Registry, NamesLikeSectionsOrCommentsSurvive) {
  ASSERT_EQ(ERROR_SUCCESS, Create());
  ASSERT_EQ(ERROR_SUCCESS, SetText("[odd", "]"));
  ASSERT_EQ(ERROR_SUCCESS, SetText("#hash", "x"));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key_));
  key_ = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tonewire", 0, KEY_READ, &key_));
  for (const auto& [name, expected] : {std::pair<const char*, std::string>{"[odd", "]"},
                                       std::pair<const char*, std::string>{"#hash", "x"}}) {
    char text[16] = {};
    DWORD type = REG_NONE;
    DWORD bytes = sizeof text;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes))
        << name << "\n"
        << FileText();
    EXPECT_EQ(expected, text);
  }
}

TEST_F(Registry, QueriesAnswerAsWindowsDoes) {
  ASSERT_EQ(ERROR_SUCCESS, Create());
  ASSERT_EQ(ERROR_SUCCESS, SetText("Device", "Speakers"));
  DWORD bytes = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "Device", nullptr, nullptr, nullptr, &bytes));
  EXPECT_EQ(9u, bytes);  // the size alone, zero included
  char small[4] = {};
  bytes = sizeof small;
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key_, "Device", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(small), &bytes));
  EXPECT_EQ(9u, bytes);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegQueryValueExA(key_, "Volume", nullptr, nullptr, nullptr, &bytes));
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegSetValueExA(key_, "Odd", 0, REG_DWORD, reinterpret_cast<const BYTE*>("ab"), 2));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExA(reinterpret_cast<HKEY>(&bytes), "Device",
                                                   nullptr, nullptr, nullptr, &bytes));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(reinterpret_cast<HKEY>(&bytes)));

  HKEY reader = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tonewire", 0, KEY_READ, &reader));
  EXPECT_EQ(ERROR_ACCESS_DENIED,
            RegSetValueExA(reader, "Device", 0, REG_SZ, reinterpret_cast<const BYTE*>("y"), 2));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(reader));
}

TEST_F(Registry, OnlyAProgramsOwnBranchIsKept) {
  HKEY key = nullptr;
  for (const char* path : {"Software", "Software\\..", "System\\Tonewire", ""}) {
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0,
                                                   KEY_WRITE, nullptr, &key, nullptr))
        << path;
  }
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\a/../../b", 0, nullptr, 0, KEY_WRITE,
                            nullptr, &key, nullptr));
  EXPECT_FALSE(fs::exists(fs::path(home_) / "b"));
}

TEST_F(Registry, FallsBackToDotConfigInTheHomeFolder) {
  const std::string home = home_ + "/home";
  fs::create_directory(home);
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome != nullptr ? oldHome : "";
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", home.c_str(), 1);
  const LONG created = Create();
  setenv("HOME", savedHome.c_str(), 1);
  setenv("XDG_CONFIG_HOME", home_.c_str(), 1);
  ASSERT_EQ(ERROR_SUCCESS, created);
  EXPECT_TRUE(fs::exists(fs::path(home) / ".config" / "tonewire" / "settings.conf"));
}

TEST_F(Registry, ADamagedFileKeepsWhatItCanAndAnUnreadableOneIsAnError) {
  fs::create_directories(fs::path(home_) / "tonewire");
  std::ofstream(fs::path(home_) / "tonewire" / "settings.conf")
      << "Stray=sz:before any key\n[Software\\Tonewire]\nPort=dword:5567\nPort2=dword:99999999999\n"
         "Host=sz:bad\\escape\ngarbage\n\n=dword:1\n";
  ASSERT_EQ(ERROR_SUCCESS, Create());
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition_);
  DWORD number = 0;
  DWORD bytes = sizeof number;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "Port", nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(&number), &bytes));
  EXPECT_EQ(5567u, number);
  for (const char* name : {"Stray", "Port2", "Host", ""}) {
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key_, name, nullptr, nullptr, nullptr, &bytes))
        << name;
  }
  fs::remove(fs::path(home_) / "tonewire" / "settings.conf");
  fs::create_directory(fs::path(home_) / "tonewire" / "settings.conf");
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExA(key_, "Port", nullptr, nullptr, nullptr, &bytes));
  EXPECT_NE(ERROR_SUCCESS, SetNumber("Port", 1));
}

}  // namespace
