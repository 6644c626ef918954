#pragma once

#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/XScreen.h"

namespace qm::test {

// A test of what lands on the X screen: a known picture over the whole screen, and a folder of
// the test's own for the files it makes.
class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(screen_.Ok()) << "no X display";
    screen_.Show(screen_.Bounds());
    ASSERT_TRUE(dir_.isValid());
  }
  QString Path(const QString& name) const { return dir_.filePath(name); }

  XScreen screen_;
  QTemporaryDir dir_;
};

}  // namespace qm::test
