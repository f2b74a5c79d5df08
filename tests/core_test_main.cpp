#include <gtest/gtest.h>

#include "common/utf8_locale.h"

int main(int argc, char** argv) {
  quorvane::UseUtf8CharacterHandling();  // as both programs do, so "?" is one character
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
