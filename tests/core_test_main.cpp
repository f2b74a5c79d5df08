#include <gtest/gtest.h>
#include <stdlib.h>

#include "common/utf8_locale.h"
#include "support/temp_dir.h"

int main(int argc, char** argv) {
  quorvane::UseUtf8CharacterHandling();  // as both programs do, so "?" is one character
  ::testing::InitGoogleTest(&argc, argv);
  // The journals of the rename batches go to a folder of the tests' own.
  const quorvane::testing::TempDir state;
  ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
  return RUN_ALL_TESTS();
}
