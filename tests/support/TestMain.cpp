#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The suite runs under the private Xvfb of scripts/test; without a display the
  // toolkit still starts, and the tests that need the X server fail loudly.
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
