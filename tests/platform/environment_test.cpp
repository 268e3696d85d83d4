// The environment variables the platform reads: each within its bounds, a
// bad value rejected with one line on stderr and the default used instead.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "platform/env/environment.h"

namespace {

namespace env = twplat::env;

// Sets (or with nullptr unsets) one variable for the test, and restores it.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    const char* old = ::getenv(name);
    if (old != nullptr) {
      old_ = old;
      hadOld_ = true;
    }
    Set(value);
  }
  ~ScopedVariable() { Set(hadOld_ ? old_.c_str() : nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  void Set(const char* value) {
    if (value == nullptr) {
      ::unsetenv(name_);
    } else {
      ::setenv(name_, value, 1);
    }
  }
  const char* name_;
  std::string old_;
  bool hadOld_ = false;
};

// What reading the variable gives, and what it wrote to stderr meanwhile.
template <typename Variable>
auto ReadCapturingStderr(const Variable& variable, std::string* written) {
  testing::internal::CaptureStderr();
  const auto value = env::Read(variable);
  *written = testing::internal::GetCapturedStderr();
  return value;
}

// Each good text gives its number; each bad one is refused and leaves the
// value as it was.
void ExpectParsed(const env::WholeNumber& variable,
                  std::initializer_list<std::pair<const char*, long>> good,
                  std::initializer_list<const char*> bad) {
  long value = 7;
  for (const auto& [text, expected] : good) {
    EXPECT_TRUE(env::ParseWholeNumber(text, variable, &value)) << text;
    EXPECT_EQ(value, expected) << text;
  }
  for (const char* text : bad) {
    value = 7;
    EXPECT_FALSE(env::ParseWholeNumber(text, variable, &value)) << text;
    EXPECT_EQ(value, 7) << text;
  }
}

TEST(ClockPpm, AcceptsWholeSignedPartsPerMillionWithinTenPercent) {
  ExpectParsed(env::kBuiltinClockPpm, {{"-2000", -2000}, {"+2000", 2000}, {"100000", 100000}},
               {"", "fast", "20.5", "2000ppm", " ", "100001", "-100001", "99999999999999999999"});
}

TEST(ToneHz, AcceptsWholeHertzFromTwentyToTwentyThousand) {
  ExpectParsed(env::kTestToneHz, {{"437", 437}, {"20", 20}, {"20000", 20000}},
               {"", "19", "20001", "-440", "440.5", "440Hz", "a", "99999999999999999999"});
}

TEST(EnvironmentNumber, UnsetGivesTheDefaultSilentlyAndAValueInBoundsIsTaken) {
  std::string written;
  {
    ScopedVariable unset("TONEWIRE_PLAYBACK_QUEUE_MS", nullptr);
    EXPECT_EQ(40, ReadCapturingStderr(env::kPlaybackQueueMs, &written));
    EXPECT_EQ("", written);
  }
  for (const char* edge : {"1", "2000"}) {
    ScopedVariable set("TONEWIRE_PLAYBACK_QUEUE_MS", edge);
    EXPECT_EQ(std::stol(edge), ReadCapturingStderr(env::kPlaybackQueueMs, &written));
    EXPECT_EQ("", written) << edge;
  }
}

TEST(EnvironmentNumber, ABadValueIsRejectedWithOneLineNamingItAndTheDefaultIsUsed) {
  for (const char* bad : {"0", "2001", "-5", "50ms", ""}) {
    ScopedVariable set("TONEWIRE_CAPTURE_FRAGMENT_MS", bad);
    std::string written;
    EXPECT_EQ(25, ReadCapturingStderr(env::kCaptureFragmentMs, &written)) << bad;
    EXPECT_EQ("TONEWIRE_CAPTURE_FRAGMENT_MS=" + std::string(bad) +
                  " ignored: give a whole number from 1 to 2000; 25 is used\n",
              written);
  }
}

TEST(EnvironmentSwitch, EachWordTurnsItOnOrOffAndUnsetIsTheDefault) {
  std::string written;
  for (const char* on : {"on", "1"}) {
    ScopedVariable set("TONEWIRE_DRIFT_CORRECTION", on);
    EXPECT_TRUE(ReadCapturingStderr(env::kDriftCorrection, &written)) << on;
  }
  for (const char* off : {"off", "0"}) {
    ScopedVariable set("TONEWIRE_DRIFT_CORRECTION", off);
    EXPECT_FALSE(ReadCapturingStderr(env::kDriftCorrection, &written)) << off;
  }
  {
    ScopedVariable unset("TONEWIRE_DRIFT_CORRECTION", nullptr);
    EXPECT_TRUE(ReadCapturingStderr(env::kDriftCorrection, &written));
  }
  {
    ScopedVariable set("TONEWIRE_AUDIO", "builtin");
    EXPECT_TRUE(ReadCapturingStderr(env::kBuiltinAudioOnly, &written));
  }
  {
    ScopedVariable unset("TONEWIRE_AUDIO", nullptr);
    EXPECT_FALSE(ReadCapturingStderr(env::kBuiltinAudioOnly, &written));
  }
  EXPECT_EQ("", written);
}

TEST(EnvironmentSwitch, AnyOtherWordIsRejectedWithTheWordsToGiveAndTheDefaultIsUsed) {
  std::string written;
  {
    ScopedVariable set("TONEWIRE_DRIFT_CORRECTION", "OFF");
    EXPECT_TRUE(ReadCapturingStderr(env::kDriftCorrection, &written));
    EXPECT_EQ("TONEWIRE_DRIFT_CORRECTION=OFF ignored: give on, 1, off, 0, or leave it unset\n",
              written);
  }
  {
    ScopedVariable set("TONEWIRE_AUDIO", "builtins");
    EXPECT_FALSE(ReadCapturingStderr(env::kBuiltinAudioOnly, &written));
    EXPECT_EQ("TONEWIRE_AUDIO=builtins ignored: give builtin, or leave it unset\n", written);
  }
}

}  // namespace
