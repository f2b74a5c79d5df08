// The window tests run on Qt's offscreen platform, with no real modal box: every message,
// picker and page goes through the replaceable services, which each test sets.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <cstdlib>

#include "common/utf8_locale.h"
#include "support/temp_dir.h"
#include "app/application.h"

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  quorvane::UseUtf8CharacterHandling();
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  quorvane::gui::SetUpApplication(app);
  // The journals of the rename batches go to a folder of the tests' own.
  const quorvane::testing::TempDir state;
  ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
  return RUN_ALL_TESTS();
}
