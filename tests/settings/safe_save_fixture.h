// What the tests of refused and huge saves share: writing big files and one save with its
// message on stderr.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "settings/settings_store.h"
#include "tests/support/temp_folder.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define GLIMMERIX_SANITIZED 1
#else
#define GLIMMERIX_SANITIZED 0
#endif

// The 64 MB cases are single-threaded: nothing for the thread sanitizer to see, and minutes
// under it.
#if defined(__SANITIZE_THREAD__)
#define SKIP_HUGE_FILES_UNDER_THREAD_SANITIZER() \
  GTEST_SKIP() << "64 MB files, one thread: skipped under the thread sanitizer"
#else
#define SKIP_HUGE_FILES_UNDER_THREAD_SANITIZER() (void)0
#endif

namespace glimmerix::testing {

// Writes count copies of line to path without holding them all in memory.
inline void WriteRepeated(const std::string& path, const std::string& line, std::size_t count) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::string block;
  for (int i = 0; i < 4096; ++i) block += line;
  for (std::size_t done = 0; done < count;) {
    const std::size_t lines = std::min<std::size_t>(4096, count - done);
    ASSERT_EQ(std::fwrite(block.data(), line.size(), lines, out), lines);
    done += lines;
  }
  ASSERT_EQ(std::fclose(out), 0);
}

class SafeSave : public ::testing::Test {
 protected:
  // Opens name, writes one key and closes; returns Close's result and what went to stderr.
  std::pair<bool, std::string> WriteOneKey(const std::string& name) {
    ::testing::internal::CaptureStderr();
    SettingsStore store(folder.path());
    store.Open(name);
    store.WriteNumber("fr1", 9);
    const bool saved = store.Close();
    return {saved, ::testing::internal::GetCapturedStderr()};
  }
  TempFolder folder;
};

}  // namespace glimmerix::testing
