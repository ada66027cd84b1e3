// The key-and-value store: line parsing, the written form, the number rule and the safe replace.
#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <random>

#include "tests/support/temp_folder.h"

namespace glimmerix {
namespace {

using testing::TempFolder;
using Kind = SettingsDocument::Kind;
using namespace std::string_literals;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TEST(SettingNumber, FollowsTheNumberRule) {
  const std::pair<const char*, std::int32_t> cases[] = {
      {"$1F", 31},
      {"%101", 5},
      {"42abc", 42},
      {"abc", 0},
      {"-7", -7},
      {" \t+12", 12},
      {"-$10", -16},
      {"$ff", 255},
      {"$", 0},
      {"%", 0},
      {"", 0},
      {"%102", 2},
      {"- 5", 0},
      {"12 34", 12},
      {"\xCD\xE5\xF2", 0},
      {"0x10", 0},
      {"2147483647", 2147483647},
      {"2147483648", INT32_MIN},
      {"4294967297", 1},
      {"-2147483648", INT32_MIN},
      {"$FFFFFFFF", -1},
      {"99999999999999999999999", static_cast<std::int32_t>(0xF67FFFFFu)},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ParseSettingNumber(text), expected) << '"' << text << '"';
  }
}

TEST(SettingsDocument, ParsesLinesAsTheFormatSays) {
  const auto doc = SettingsDocument::Parse(
      "  x_form\t= \t120  \r"
      "\t;  two blanks\n"
      "\r\n"
      "no equals here\r\n"
      "Key=first\n"
      "KEY = second\n"
      " = empty key\n"
      "[Group] trailing\n"
      "after = hidden\n");
  EXPECT_EQ(doc.Get("X_FORM", "d"), "120");
  EXPECT_EQ(doc.Get("key", "d"), "first");  // the first line with a key wins
  EXPECT_EQ(doc.Get("no equals here", "d"), "d");
  EXPECT_EQ(doc.Get("after", "d"), "d");  // only lines before the first group are seen
  EXPECT_EQ(doc.Get("missing", "def"), "def");
  const std::vector<SettingsDocument::Line> expected = {
      {Kind::kData, "x_form", "120  "},    {Kind::kComment, "", " two blanks"},
      {Kind::kText, "", "no equals here"}, {Kind::kData, "Key", "first"},
      {Kind::kData, "KEY", "second"},      {Kind::kData, "", "empty key"},
      {Kind::kGroup, "", "Group"},         {Kind::kData, "after", "hidden"},
  };
  EXPECT_EQ(doc.lines(), expected);
}

TEST(SettingsDocument, WritesTheDocumentedExample) {
  auto doc = SettingsDocument::Parse("  x_form=120\r\n\r\n;note\r\n[Old]\r\na=1\r\n");
  ASSERT_TRUE(doc.Set("Y_form", "5"));
  EXPECT_EQ(doc.Serialize(), "x_form = 120\r\n; note\r\nY_form = 5\r\n[Old]\r\na = 1\r\n");
}

TEST(SettingsDocument, NewKeysGoBeforeTheFirstGroupAndReplacedKeysTakeTheGivenCase) {
  auto grouped = SettingsDocument::Parse("[First]\r\nb = 2\r\n");
  grouped.Set("A", "1");
  EXPECT_EQ(grouped.Serialize(), "A = 1\r\n[First]\r\nb = 2\r\n");

  auto plain = SettingsDocument::Parse("; c\nlevel = 3\nz = 9");
  plain.Set("Level", "60");
  plain.Set("New", "");
  EXPECT_EQ(plain.Serialize(), "; c\r\nLevel = 60\r\nz = 9\r\nNew = \r\n");
}

TEST(SettingsDocument, RefusesWhatCouldNotBeReadBack) {
  auto doc = SettingsDocument::Parse("a = 1\r\n");
  for (const char* key : {"", "a=b", "a\nb", ";a", "[a", " a", "a\t"}) {
    EXPECT_FALSE(doc.Set(key, "1")) << key;
  }
  EXPECT_FALSE(doc.Set("a", "2\r\nPID = 99"));
  EXPECT_EQ(doc.Serialize(), "a = 1\r\n");
}

TEST(SettingsDocument, ByteOrderMarkIsKeptWithoutPilingUpEmptyLines) {
  auto doc = SettingsDocument::Parse("\xEF\xBB\xBFPreset = \xC3\xA9t\xC3\xA9\r\n");
  EXPECT_EQ(doc.Get("Preset", ""), "\xC3\xA9t\xC3\xA9");
  doc.Set("X_form", "1");
  const std::string once = doc.Serialize();
  EXPECT_EQ(once, "\xEF\xBB\xBF\r\nPreset = \xC3\xA9t\xC3\xA9\r\nX_form = 1\r\n");
  auto again = SettingsDocument::Parse(once);
  again.Set("X_form", "1");
  EXPECT_EQ(again.Serialize(), once);

  // A mark after empty lines is the file's mark too, so a rewrite is stable; keys never start
  // with one.
  auto late = SettingsDocument::Parse("\r\n  \xEF\xBB\xBFX_form = 5");
  EXPECT_TRUE(late.has_bom());
  EXPECT_EQ(late.Get("x_form", ""), "5");
  EXPECT_EQ(SettingsDocument::Parse(late.Serialize()).Serialize(), late.Serialize());
  EXPECT_FALSE(SettingsDocument::Parse("[g]").Set("\xEF\xBB\xBFk", "1"));

  // A late byte-order mark before a comment, runs of comments and text around data lines, a
  // key added in front of the first group and a replaced key in the middle.
  auto runs = SettingsDocument::Parse("\r\n \xEF\xBB\xBF; one\rtext\n  b=2\n;two\n\n[g]\nb=3\n"s);
  EXPECT_TRUE(runs.has_bom());
  EXPECT_EQ(runs.Get("b", ""), "2");
  ASSERT_TRUE(runs.Set("B", "7"));
  ASSERT_TRUE(runs.Set("new", " 1 "));
  const std::string written =
      "\xEF\xBB\xBF\r\n; one\r\ntext\r\nB = 7\r\n; two\r\nnew = 1\r\n[g]\r\nb = 3\r\n";
  EXPECT_EQ(runs.Serialize(), written);
  EXPECT_EQ(runs.SerializedSize(), written.size());
  EXPECT_EQ(SettingsDocument::Parse(written).lines(), runs.lines());
}

TEST(SettingsDocument, CarriageReturnOnlyAndLegacyBytesAndNulsAreKept) {
  auto doc = SettingsDocument::Parse("; \xE9t\xE9\rname = caf\xE9\rz = a\0b"s);
  EXPECT_EQ(doc.Get("name", ""), "caf\xE9");
  EXPECT_EQ(doc.Get("z", ""), "a\0b"s);
  EXPECT_EQ(doc.Serialize(), "; \xE9t\xE9\r\nname = caf\xE9\r\nz = a\0b\r\n"s);
}

TEST(SettingsDocument, MalformedInputIsReadAsFarAsItMakesSense) {
  std::string huge(10 << 20, 'v');
  huge.insert(0, "k=");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SettingsDocument::Parse(huge).Find("K")->size(), std::size_t{10 << 20});
  EXPECT_EQ(SettingsDocument::Parse(std::string(1 << 20, '\r')).lines().size(), 0u);
  EXPECT_EQ(SettingsDocument::Parse(std::string(1 << 20, '\0')).lines().size(), 1u);
  EXPECT_EQ(SettingsDocument::Parse("[").lines()[0].text, "");
  EXPECT_EQ(SettingsDocument::Parse("=").Get("", "d"), "");
  std::mt19937 random(7);
  std::string garbage(1 << 20, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  const auto doc = SettingsDocument::Parse(garbage);
  EXPECT_EQ(SettingsDocument::Parse(doc.Serialize()).Serialize(), doc.Serialize());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// Any file the store wrote reads back to the same keys and values, and rewriting it unchanged
// gives the same bytes.
TEST(SettingsDocument, WrittenFilesRoundTrip) {
  std::mt19937 random(2024);
  const std::string key_chars = "aAbBkK_1=;[] \t";
  const std::string value_chars = "aZ09 \t=;[]$%-\xE9\xFF\0"s;
  auto pick = [&](const std::string& from, int max_length) {
    std::string s(random() % (max_length + 1), ' ');
    for (char& c : s) c = from[random() % from.size()];
    return s;
  };
  for (int round = 0; round < 2000; ++round) {
    std::string start;
    for (int i = random() % 6; i > 0; --i) start += pick(key_chars + "\r\n", 12) + "\r\n";
    auto doc = SettingsDocument::Parse(start);
    std::vector<std::pair<std::string, std::string>> written;
    for (int i = random() % 8; i > 0; --i) {
      const std::string key = pick(key_chars, 4), value = pick(value_chars, 8);
      if (doc.Set(key, value)) written.emplace_back(key, value);
    }
    const std::string bytes = doc.Serialize();
    const auto back = SettingsDocument::Parse(bytes);
    ASSERT_EQ(back.Serialize(), bytes) << "round " << round;
    ASSERT_EQ(back.lines(), doc.lines()) << "round " << round;
    for (const auto& [key, value] : written) {
      // The last value written under the key in any letter case reads back, without the
      // blanks and tabs at its ends.
      std::string last;
      for (const auto& [k, v] : written) {
        if (Lower(k) == Lower(key)) last = v;
      }
      const std::size_t first = last.find_first_not_of(" \t");
      last = first == std::string::npos
                 ? ""
                 : last.substr(first, last.find_last_not_of(" \t") - first + 1);
      EXPECT_EQ(back.Get(key, "(missing)"), last) << "round " << round << " key " << key;
    }
  }
}

class SettingsStoreFile : public ::testing::Test {
 protected:
  TempFolder folder;
  SettingsStore store{folder.path()};
};

TEST_F(SettingsStoreFile, MissingFileIsCreatedOnlyWhenWritten) {
  EXPECT_FALSE(store.Open("setting.dat"));
  EXPECT_EQ(store.ReadNumber("X_form"), 0);
  EXPECT_EQ(store.ReadText("Preset", ""), "");
  EXPECT_TRUE(store.Close());
  EXPECT_FALSE(folder.Has("setting.dat"));

  store.Open("setting.dat");
  store.WriteNumber("X_form", -12);
  store.WriteText("Preset", "Disco");
  // Opening another file closes, and so saves, the first.
  EXPECT_FALSE(store.Open("other.dat"));
  EXPECT_EQ(folder.Take("setting.dat"), "X_form = -12\r\nPreset = Disco\r\n");
  EXPECT_EQ(folder.Count(), 1);  // no temporary file left behind
}

TEST_F(SettingsStoreFile, NamesThatLeaveTheFolderAndFilesThatAreNotFilesAreNeverWritten) {
  std::filesystem::create_directory(folder / "sub");
  for (const std::string& name : {"sub/setting.dat"s, "../setting.dat"s, "a\0b"s}) {
    EXPECT_FALSE(store.Open(name));
    store.WriteNumber("a", 1);
    EXPECT_TRUE(store.Close());
  }
  EXPECT_FALSE(folder.Has("sub/setting.dat"));
  EXPECT_FALSE(folder.Has("a"));

  std::filesystem::create_directory(folder / "setting.dat");
  EXPECT_FALSE(store.Open("setting.dat"));
  store.WriteNumber("a", 1);
  EXPECT_FALSE(store.Close());
  EXPECT_TRUE(std::filesystem::is_directory(folder / "setting.dat"));

  EXPECT_EQ(folder.Count(), 2);
}

}  // namespace
}  // namespace glimmerix
