// Saves the store refuses: a file whose new form would pass the read cap, UTF-16 files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "settings/settings_store.h"
#include "tests/settings/safe_save_fixture.h"

namespace glimmerix {
namespace {

using testing::SafeSave;
using testing::WriteRepeated;
using namespace std::string_literals;

// A file whose rewritten form would pass the cap stays as it was: written, the next start would
// refuse it and lose every setting in it.
TEST_F(SafeSave, SaveThatWouldPassTheReadCapIsRefused) {
  SKIP_HUGE_FILES_UNDER_THREAD_SANITIZER();
  // Exactly at the cap; each line grows by two bytes when written (LF to CR LF, ";" to "; ").
  const std::string comment = ";" + std::string(4094, 'c') + "\n";
  const std::size_t lines = SettingsStore::kMaxFileBytes / comment.size();
  WriteRepeated(folder / "setting.dat", comment, lines);
  const auto [saved, said] = WriteOneKey("setting.dat");
  EXPECT_FALSE(saved);
  EXPECT_NE(said.find("setting.dat would grow to"), std::string::npos) << said;
  EXPECT_EQ(std::filesystem::file_size(folder / "setting.dat"), SettingsStore::kMaxFileBytes);
  {
    // Closed again before the next save: Windows replaces no file another handle holds.
    std::ifstream kept(folder / "setting.dat", std::ios::binary);
    std::string head(2 * comment.size(), '\0');
    kept.read(head.data(), static_cast<std::streamsize>(head.size()));
    EXPECT_EQ(head, comment + comment);
  }
  EXPECT_EQ(folder.Count(), 1);  // no temporary file left

  // Just under the cap the file is written, and reads back.
  const std::string line = "k = " + std::string(4090, 'v') + "\r\n";
  WriteRepeated(folder / "setting.dat", line, SettingsStore::kMaxFileBytes / line.size() - 1);
  EXPECT_TRUE(WriteOneKey("setting.dat").first);
  SettingsStore store(folder.path());
  ASSERT_TRUE(store.Open("setting.dat"));
  EXPECT_EQ(store.ReadNumber("fr1"), 9);
}

TEST_F(SafeSave, Utf16FilesAreNeitherReadNorRewritten) {
  for (const std::string& mark : {"\xFF\xFE"s, "\xFE\xFF"s}) {
    const std::string name = mark[0] == '\xFF' ? "le.dat" : "be.dat";
    const std::string old = mark + "f\0r\0"s + "1\0=\0"s + "5\0\r\0\n\0"s;
    folder.Put(name, old);
    const auto [saved, said] = WriteOneKey(name);
    EXPECT_FALSE(saved);
    EXPECT_NE(said.find(name + " is a UTF-16 file"), std::string::npos) << said;
    EXPECT_EQ(WriteOneKey(name).second, "");  // said once
    SettingsStore store(folder.path());
    EXPECT_FALSE(store.Open(name));
    EXPECT_EQ(folder.Take(name), old);
  }
  EXPECT_EQ(folder.Count(), 2);
}

}  // namespace
}  // namespace glimmerix
