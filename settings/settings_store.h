// The key-and-value text store of setting.dat and the pattern files.
//
// A file is a list of lines: data lines "key = value", comments "; text", groups "[name]" and
// lines without "=" kept as their text. Only the lines before the first group line are seen and
// changed; every line is written back in its one-line form, each ending in CR LF. Keys match
// regardless of ASCII letter case; the first line with a key is the one read and replaced.
// Keys, values and names are bytes: nothing is converted between code pages.
//
// Threads: a SettingsDocument or SettingsStore belongs to one thread (the main thread in the
// program); nothing here is shared but the record of what was already said on stderr (locked).
//
// Files are replaced atomically: close writes a temporary file in the same folder, flushes it to
// disk and renames it over the old one, keeping the old file's permission bits (and owner, where
// the process may set it). A hard link to the old file keeps the old content: the name gets a
// new file. A file that is a symbolic link is updated where it points and stays a link, but only
// when every link on the way is owned by the user running the program or by root; a link of
// anybody else's makes the file read-only. A file that exists but cannot be read (including a
// UTF-16 file), cannot be opened for writing, or whose new form would be larger than the store
// reads, is never changed; when any step of a write fails the old file stays byte for byte as it
// was. A UTF-16 file, a link of another user's and a save refused for its size are said on
// stderr, once per file and cause in a process; other refusals stay silent.
//
// On Windows (settings/windows_files.cpp) file names are bytes in the system's ANSI code page;
// the temporary file is flushed with FlushFileBuffers and moved over the old one with MoveFileExW
// (replace existing, write through), taking the old file's hidden and system marks. A file marked
// read-only, or held by another program that does not share it for reading (Open) or for
// replacing (Close), is left as it is. There are no links to follow.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glimmerix {

// The default text the number reads ask with: three bytes that hold no digit.
inline constexpr std::string_view kNoDigits = "\xCD\xE5\xF2";

// The number rule: blanks and tabs, an optional sign, then decimal digits up to the first other
// character; "$" in place of the digits introduces hexadecimal digits, "%" binary ones. Text
// without digits gives 0. The result wraps as a 32-bit two's-complement integer.
std::int32_t ParseSettingNumber(std::string_view text);

// One file's lines in memory: parsing, lookup, change and the written form.
class SettingsDocument {
 public:
  enum class Kind { kData, kComment, kGroup, kText };
  struct Line {
    Kind kind = Kind::kText;
    std::string key;   // data lines: the key as read or as the program gave it
    std::string text;  // data lines: the value; comments, groups, text lines: their text
    bool operator==(const Line&) const = default;
  };

  // Reads a whole file's bytes, taking them over. Never fails: anything is read as far as it
  // makes sense. Time is linear in the size; memory is the bytes plus 12 bytes per data line
  // before the first group line (comments, text and everything from the first group on cost
  // nothing more). At most kMaxBytes are read; anything after them is dropped.
  static SettingsDocument Parse(std::string bytes);

  // The value of the first data line with the key before the first group line, as it stands
  // after the blanks and tabs that follow "="; nullopt when there is none. Valid until the next
  // Set.
  std::optional<std::string_view> Find(std::string_view key) const;
  // The found value trimmed at both ends, else the default.
  std::string Get(std::string_view key, std::string_view default_text) const;

  // Replaces the value of the key in place, taking the key's letter case as given; a new key goes
  // after the last line before the first group line (at the very top when the first line is a
  // group). A key that could not be read back as written (empty, holding "=", CR or LF, starting
  // with ";", "[" or the byte-order mark, or with blanks or tabs at either end) and a value
  // holding CR or LF are refused: returns false and nothing changes. Blanks and tabs at the
  // value's ends are dropped.
  bool Set(std::string_view key, std::string_view value);

  // The file's bytes: the byte-order mark line when the file had one, then every line in its
  // one-line form ending in CR LF.
  std::string Serialize() const;
  // The length of Serialize(), without building it.
  std::size_t SerializedSize() const;

  // Every line, empty ones left out, built as a copy (for tests: large files cost much more
  // memory this way than the document itself).
  std::vector<Line> lines() const;
  bool has_bom() const { return bom_; }

  // The largest input Parse reads, and the most the document grows to through Set.
  static constexpr std::size_t kMaxBytes = 0xFFFF0000u;

 private:
  // A data line before the first group: [begin, equals) holds the key and its trailing blanks,
  // the value follows the "=" at equals and runs to end. Any other span (equals == kRun) is a run
  // of whole lines of other kinds, or everything from the first group line on, each line ended
  // as read; they are put into their one-line form when written.
  struct Span {
    std::uint32_t begin = 0;
    std::uint32_t equals = 0;
    std::uint32_t end = 0;
  };
  static constexpr std::uint32_t kRun = 0xFFFFFFFFu;

  template <typename Fn>
  void ForEachLine(Fn&& fn) const;  // fn(parts of the line), every line but empty ones
  template <typename Sink>
  void Emit(Sink&& sink) const;  // sink(piece) for each piece of the written form, in order

  std::string bytes_;           // the file's bytes, then the data lines Set made, one after another
  std::vector<Span> spans_;     // in file order
  std::size_t group_span_ = 0;  // index of the span that starts at the first group line, else size
  bool bom_ = false;
};

// The store as the program uses it: one file at a time, opened, read or written, closed.
class SettingsStore {
 public:
  // Files are named relative to folder; empty means the process's current folder.
  explicit SettingsStore(std::string folder = {});
  ~SettingsStore();  // closes (and so saves) a file still open
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // Closes (saving) a file still open, then reads the named file. True when it exists and was
  // read. A missing file gives false, but the name is kept, so writes and Close create it. A file
  // that exists but cannot be read (no permission, not a regular file, larger than kMaxFileBytes,
  // UTF-16 by its byte-order mark FF FE or FE FF) gives false and is never written. A file reached
  // through a symbolic link of another user's is read but never written. A name holding "/" or
  // NUL (on Windows also "\" or ":") names no file: false, and writes go nowhere.
  bool Open(const std::string& file_name);

  std::string ReadText(std::string_view key, std::string_view default_text);
  // ReadText with the digit-less default, through the number rule: a missing key reads as 0.
  int ReadNumber(std::string_view key);

  // Writes a value (see SettingsDocument::Set for what is refused). Nothing reaches the disk
  // before Close. Without an open file name nothing happens.
  void WriteText(std::string_view key, std::string_view value);
  void WriteNumber(std::string_view key, int value);

  // Saves the file when anything was written since Open, then forgets it. Returns false only when
  // a save was due and did not happen (the program ignores it; tests look at it). A save whose
  // file would be larger than kMaxFileBytes (which the next Open would refuse) does not happen.
  bool Close();

  static constexpr std::size_t kMaxFileBytes = 64u << 20;

 private:
  std::string Path() const;
  bool Save();

  std::string folder_;
  std::string name_;       // empty: no file open
  bool writable_ = false;  // false for files that exist but could not be read
  bool changed_ = false;
  SettingsDocument document_;
};

// Removes the temporary files that saves into folder (empty: the current folder) left behind
// when the process was killed in the middle: hidden files named as the store names them, regular
// files owned by the effective user (on Windows: regular files not marked read-only), made by a
// process that no longer runs. Anything else is left alone. Returns how many were removed. Call
// once at start-up, before any save.
int RemoveStaleSaveFiles(const std::string& folder);

// Has the process ignore SIGXFSZ, so that a file-size limit makes a write fail (and the old file
// stay) instead of ending the program. main() calls it once, before any file is written. Windows
// has no such signal: there it does nothing.
void IgnoreFileSizeSignal();

}  // namespace glimmerix
