// What a field shows while the user's typing travels to the window system
// and back.
#include <gtest/gtest.h>

#include "platform/qt/typed_text.h"

namespace twqt {
namespace {

// The user typed "5" and then "55" before the window system had either:
// the reports of both ("5", then "5", "55") come back one by one.
TEST(TypedTextTest, ReportsOnTheWayToTheUsersTextAreNotShown) {
  TypedText typed;
  typed.Sent("5");
  typed.Sent("55");
  EXPECT_FALSE(typed.ShouldShow("5"));
  EXPECT_FALSE(typed.ShouldShow("5"));
  EXPECT_FALSE(typed.ShouldShow("55"));
  // The wait is over: the program's own text is shown again.
  EXPECT_TRUE(typed.ShouldShow("1234"));
}

TEST(TypedTextTest, ATextNotOnTheWayWasSetBySomeoneElseAndShows) {
  TypedText typed;
  typed.Sent("abc");
  EXPECT_FALSE(typed.ShouldShow("ab"));
  EXPECT_TRUE(typed.ShouldShow("xyz"));
  EXPECT_TRUE(typed.ShouldShow("a"));
}

TEST(TypedTextTest, RefusedTypingShowsTheWindowSystemsText) {
  TypedText typed;
  typed.Sent("abc");
  typed.Refused();
  EXPECT_TRUE(typed.ShouldShow("a"));
}

TEST(TypedTextTest, AnEmptiedFieldWaitsForTheEmptyReport) {
  TypedText typed;
  typed.Sent("");
  EXPECT_FALSE(typed.ShouldShow(""));
  EXPECT_TRUE(typed.ShouldShow("x"));
}

}  // namespace
}  // namespace twqt
