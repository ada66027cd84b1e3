#include "settings/settings_store.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>

#include "settings/file_access.h"

namespace glimmerix {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t";
// The temporary name of a save: kTempPrefix + PROCESS-COUNTER-STAMP + kTempSuffix.
constexpr std::string_view kTempPrefix = ".glimmerix-";
constexpr std::string_view kTempSuffix = ".tmp";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  const std::size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

}  // namespace

std::int32_t ParseSettingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  unsigned base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i < text.size() && text[i] == '%') {
    base = 2;
    ++i;
  }
  std::uint32_t value = 0;  // unsigned, so overflow wraps instead of being undefined
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i]);
    if (digit >= static_cast<int>(base)) break;
    value = value * base + static_cast<std::uint32_t>(digit);
  }
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

namespace {

struct RawLine {
  std::string_view text;  // without its ending
  std::size_t next;       // where the next line starts
};

// The line that starts at pos: CR, LF or CR LF end it.
RawLine NextLine(std::string_view bytes, std::size_t pos) {
  std::size_t end = pos;
  while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') ++end;
  std::size_t next = end;
  if (next < bytes.size()) {
    ++next;
    if (bytes[end] == '\r' && next < bytes.size() && bytes[next] == '\n') ++next;
  }
  return {bytes.substr(pos, end - pos), next};
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view SkipBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

struct LineParts {
  SettingsDocument::Kind kind;
  std::string_view key;
  std::string_view text;
};

// A line without its leading blanks, not empty.
LineParts Classify(std::string_view line) {
  using Kind = SettingsDocument::Kind;
  if (line.front() == ';') {
    line.remove_prefix(1);
    if (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    return {Kind::kComment, {}, line};
  }
  if (line.front() == '[') {
    return {Kind::kGroup, {}, line.substr(1, line.find(']') - 1)};  // npos - 1 runs to the end
  }
  if (const std::size_t eq = line.find('='); eq != std::string_view::npos) {
    return {Kind::kData, TrimRight(line.substr(0, eq)), SkipBlanks(line.substr(eq + 1))};
  }
  return {Kind::kText, {}, line};
}

// Calls fn(parts) for every line of a run, empty ones left out.
template <typename Fn>
void ForEachLineOfRun(std::string_view run, Fn&& fn) {
  for (std::size_t pos = 0; pos < run.size();) {
    const RawLine raw = NextLine(run, pos);
    pos = raw.next;
    const std::string_view line = SkipBlanks(raw.text);
    if (!line.empty()) fn(Classify(line));
  }
}

template <typename Sink>
void EmitLine(const LineParts& line, Sink& sink) {
  switch (line.kind) {
    case SettingsDocument::Kind::kData:
      sink(line.key);
      sink(" = ");
      sink(line.text);
      break;
    case SettingsDocument::Kind::kComment:
      sink("; ");
      sink(line.text);
      break;
    case SettingsDocument::Kind::kGroup:
      sink("[");
      sink(line.text);
      sink("]");
      break;
    case SettingsDocument::Kind::kText:
      sink(line.text);
      break;
  }
  sink("\r\n");
}

}  // namespace

SettingsDocument SettingsDocument::Parse(std::string bytes) {
  SettingsDocument doc;
  if (bytes.size() > kMaxBytes) bytes.resize(kMaxBytes);
  doc.bytes_ = std::move(bytes);
  const std::string_view all = doc.bytes_;
  auto at = [](std::size_t pos) { return static_cast<std::uint32_t>(pos); };
  // Room for every data line up front, so the spans are never copied: each holds an "=" and is
  // a line of its own.
  const auto count = [&](char c) {
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), c));
  };
  doc.spans_.reserve(std::min(count('='), count('\n') + count('\r')) + 2);

  std::size_t pos = 0;
  if (all.starts_with(kBom)) {
    doc.bom_ = true;
    pos = kBom.size();
  }
  bool any_line = false;
  std::size_t run_begin = std::string_view::npos;  // start of the run of other lines being read
  std::size_t group_begin = std::string_view::npos;
  while (pos < all.size() && group_begin == std::string_view::npos) {
    const std::size_t line_start = pos;
    const RawLine raw = NextLine(all, pos);
    pos = raw.next;
    std::string_view line = SkipBlanks(raw.text);
    if (line.empty()) continue;  // empty lines are dropped
    if (!any_line && !doc.bom_ && line.starts_with(kBom)) {
      // A mark after blanks or empty lines: taken as the file's, as written back it would be.
      doc.bom_ = true;
      line = SkipBlanks(line.substr(kBom.size()));
      if (line.empty()) continue;
    }
    any_line = true;
    const std::size_t content = static_cast<std::size_t>(line.data() - all.data());
    const bool data =
        line.front() != ';' && line.front() != '[' && line.find('=') != std::string_view::npos;
    if (line.front() != '[' && !data) {
      if (run_begin == std::string_view::npos) run_begin = content;
      continue;
    }
    if (run_begin != std::string_view::npos) {
      doc.spans_.push_back({at(run_begin), kRun, at(line_start)});
      run_begin = std::string_view::npos;
    }
    if (data) {
      const std::size_t equals = content + line.find('=');
      doc.spans_.push_back({at(content), at(equals), at(content + line.size())});
    } else {
      group_begin = content;
    }
  }
  if (run_begin != std::string_view::npos) {
    doc.spans_.push_back({at(run_begin), kRun, at(all.size())});
  }
  doc.group_span_ = doc.spans_.size();
  if (group_begin != std::string_view::npos) {
    doc.spans_.push_back({at(group_begin), kRun, at(all.size())});
  }
  return doc;
}

template <typename Fn>
void SettingsDocument::ForEachLine(Fn&& fn) const {
  const std::string_view all = bytes_;
  for (const Span& span : spans_) {
    if (span.equals == kRun) {
      ForEachLineOfRun(all.substr(span.begin, span.end - span.begin), fn);
    } else {
      fn(LineParts{Kind::kData, TrimRight(all.substr(span.begin, span.equals - span.begin)),
                   SkipBlanks(all.substr(span.equals + 1, span.end - span.equals - 1))});
    }
  }
}

std::optional<std::string_view> SettingsDocument::Find(std::string_view key) const {
  const std::string_view all = bytes_;
  for (std::size_t i = 0; i < group_span_; ++i) {
    const Span& span = spans_[i];
    if (span.equals == kRun) continue;
    if (SameKey(TrimRight(all.substr(span.begin, span.equals - span.begin)), key)) {
      return SkipBlanks(all.substr(span.equals + 1, span.end - span.equals - 1));
    }
  }
  return std::nullopt;
}

std::string SettingsDocument::Get(std::string_view key, std::string_view default_text) const {
  const std::optional<std::string_view> value = Find(key);
  return std::string(value ? Trim(*value) : default_text);
}

bool SettingsDocument::Set(std::string_view key, std::string_view value) {
  if (key.empty() || key.find_first_of("=\r\n") != std::string_view::npos || key.front() == ';' ||
      key.front() == '[' || IsBlank(key.front()) || IsBlank(key.back()) || key.starts_with(kBom) ||
      value.find_first_of("\r\n") != std::string_view::npos) {
    return false;
  }
  value = Trim(value);  // blanks at the ends would not read back
  if (key.size() + 1 + value.size() > kMaxBytes - bytes_.size()) return false;

  std::size_t index = group_span_;
  for (std::size_t i = 0; i < group_span_; ++i) {
    const Span& span = spans_[i];
    if (span.equals != kRun &&
        SameKey(TrimRight(std::string_view(bytes_).substr(span.begin, span.equals - span.begin)),
                key)) {
      index = i;
      break;
    }
  }
  const Span line{static_cast<std::uint32_t>(bytes_.size()),
                  static_cast<std::uint32_t>(bytes_.size() + key.size()),
                  static_cast<std::uint32_t>(bytes_.size() + key.size() + 1 + value.size())};
  bytes_ += key;
  bytes_ += '=';
  bytes_ += value;
  if (index < group_span_) {
    spans_[index] = line;
  } else {
    spans_.insert(spans_.begin() + static_cast<std::ptrdiff_t>(group_span_), line);
    ++group_span_;
  }
  return true;
}

template <typename Sink>
void SettingsDocument::Emit(Sink&& sink) const {
  if (bom_) {
    sink(kBom);
    sink("\r\n");
  }
  ForEachLine([&](const LineParts& line) { EmitLine(line, sink); });
}

std::string SettingsDocument::Serialize() const {
  std::string out;
  out.reserve(SerializedSize());
  Emit([&](std::string_view piece) { out += piece; });
  return out;
}

std::size_t SettingsDocument::SerializedSize() const {
  std::size_t size = 0;
  Emit([&](std::string_view piece) { size += piece.size(); });
  return size;
}

std::vector<SettingsDocument::Line> SettingsDocument::lines() const {
  std::vector<Line> lines;
  ForEachLine([&](const LineParts& line) {
    lines.push_back({line.kind, std::string(line.key), std::string(line.text)});
  });
  return lines;
}

SettingsStore::SettingsStore(std::string folder) : folder_(std::move(folder)) {}

SettingsStore::~SettingsStore() {
  Close();
}

bool SettingsStore::Open(const std::string& file_name) {
  Close();
  if (!files::IsPlainFileName(file_name)) return false;
  name_ = file_name;
  const std::string path = Path();

  std::string bytes;
  const files::ReadResult read = files::ReadWholeFile(path, kMaxFileBytes, bytes);
  if (read != files::ReadResult::kRead) {
    // A missing file is created by the first save; what we could not read we must not replace.
    writable_ = read == files::ReadResult::kMissing;
    return false;
  }
  if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
    // Read byte by byte it would be rewritten as a mix of two encodings.
    files::SayOnce(path + " is a UTF-16 file, which cannot be read; it is left as it is.");
    return false;
  }
  document_ = SettingsDocument::Parse(std::move(bytes));
  writable_ = true;
  return true;
}

std::string SettingsStore::ReadText(std::string_view key, std::string_view default_text) {
  return document_.Get(key, default_text);
}

int SettingsStore::ReadNumber(std::string_view key) {
  return ParseSettingNumber(ReadText(key, kNoDigits));
}

void SettingsStore::WriteText(std::string_view key, std::string_view value) {
  if (name_.empty()) return;
  if (document_.Set(key, value)) changed_ = true;
}

void SettingsStore::WriteNumber(std::string_view key, int value) {
  WriteText(key, std::to_string(value));
}

bool SettingsStore::Close() {
  bool ok = true;
  if (!name_.empty() && changed_) ok = writable_ && Save();
  name_.clear();
  writable_ = false;
  changed_ = false;
  document_ = SettingsDocument();
  return ok;
}

std::string SettingsStore::Path() const {
  return files::PathIn(folder_, name_);
}

bool SettingsStore::Save() {
  const std::string path = Path();
  std::string target;
  if (!files::ResolveSaveTarget(path, target)) {
    files::SayOnce(path +
                   " is reached through a symbolic link of another user's, so it is not written;"
                   " the changes are not saved.");
    return false;
  }
  if (const std::size_t size = document_.SerializedSize(); size > kMaxFileBytes) {
    files::SayOnce(path + " would grow to " + std::to_string(size) + " bytes, more than the " +
                   std::to_string(kMaxFileBytes) +
                   " that can be read back; it is left as it is and the changes are not saved.");
    return false;
  }
  return files::ReplaceFileContents(target, document_.Serialize());
}

namespace files {

std::string SaveFileName(std::uint64_t process, unsigned counter, std::uint64_t stamp) {
  return std::string(kTempPrefix) + std::to_string(process) + "-" + std::to_string(counter) + "-" +
         std::to_string(stamp) + std::string(kTempSuffix);
}

std::uint64_t SaveFileProcess(std::string_view name) {
  if (!name.starts_with(kTempPrefix) || !name.ends_with(kTempSuffix)) return 0;
  name.remove_prefix(kTempPrefix.size());
  name.remove_suffix(kTempSuffix.size());
  std::uint64_t pid = 0;
  int field = 0;
  std::size_t digits = 0;
  for (const char c : name) {
    if (c == '-') {
      if (digits == 0 || ++field > 2) return 0;
      digits = 0;
    } else if (c >= '0' && c <= '9' && digits < 19) {
      if (field == 0) pid = pid * 10 + static_cast<std::uint64_t>(c - '0');
      ++digits;
    } else {
      return 0;
    }
  }
  if (field != 2 || digits == 0 || pid > INT_MAX) return 0;
  return pid;
}

void SayOnce(const std::string& text) {
  static std::mutex mutex;
  static std::set<std::string> said;  // guarded by mutex: every text already said
  {
    const std::lock_guard<std::mutex> lock(mutex);
    if (!said.insert(text).second) return;
  }
  std::fprintf(stderr, "Glimmerix: %s\n", text.c_str());
}

}  // namespace files
}  // namespace glimmerix
