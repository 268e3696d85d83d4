// The desktop tests run on Qt's offscreen platform, with the built-in sound
// devices, so they need neither a display nor a sound server. Qt's thread is
// this, the main thread, which is also the program's user-interface thread.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (as the build does to register them) needs no Qt.
  if (GTEST_FLAG_GET(list_tests)) {
    return RUN_ALL_TESTS();
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("TONEWIRE_AUDIO", "builtin", 1);
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
