// The window tests run on Qt's offscreen platform, with no real modal box: every message,
// picker and page goes through the replaceable services, which each test sets.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "common/utf8_locale.h"
#include "app/application.h"

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  quorvane::UseUtf8CharacterHandling();
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  quorvane::gui::SetUpApplication(app);
  return RUN_ALL_TESTS();
}
