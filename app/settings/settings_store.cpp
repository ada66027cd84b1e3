#include "app/settings/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>

namespace glimmerix {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t";

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

bool ValidFileName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);  // keeps the separator; "/" for the root
}

// Follows a chain of symbolic links to the file they finally name (which may not exist yet).
std::string ResolveLinks(std::string path) {
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(PATH_MAX, '\0');
    const ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return path;
    target.resize(static_cast<std::size_t>(n));
    path = target.front() == '/' ? target : DirectoryOf(path) + target;
  }
  return path;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Writes bytes to a fresh file in the folder of target and renames it over target.
bool ReplaceFile(const std::string& target, std::string_view bytes) {
  struct stat old_stat;
  bool exists = false;
  const int probe = open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (probe >= 0) {
    exists = fstat(probe, &old_stat) == 0;
    close(probe);
    if (!exists || !S_ISREG(old_stat.st_mode)) return false;
  } else if (errno != ENOENT) {
    return false;  // read-only, locked away or otherwise not ours to change
  }

  static std::atomic<unsigned> counter{0};
  const std::string folder = DirectoryOf(target);
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    const auto stamp = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    // Hidden and ending in ".tmp", so it is never taken for a pattern file.
    temp = folder + ".glimmerix-" + std::to_string(getpid()) + "-" +
           std::to_string(counter.fetch_add(1)) + "-" + std::to_string(stamp % 1000000) + ".tmp";
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
              exists ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  bool ok = true;
  if (exists) {
    if (old_stat.st_uid != geteuid() || old_stat.st_gid != getegid()) {
      // Only a privileged process may give the file back to its owner; failing that it
      // still keeps its permission bits.
      if (fchown(fd, old_stat.st_uid, old_stat.st_gid) != 0) errno = 0;
    }
    ok = fchmod(fd, old_stat.st_mode & 07777) == 0;
  }
  ok = ok && WriteAll(fd, bytes) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  const int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
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

SettingsDocument SettingsDocument::Parse(std::string_view bytes) {
  SettingsDocument doc;
  if (bytes.starts_with(kBom)) {
    doc.bom_ = true;
    bytes.remove_prefix(kBom.size());
  }
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t end = bytes.find_first_of("\r\n", pos);
    std::string_view line = bytes.substr(pos, end == std::string_view::npos ? end : end - pos);
    if (end == std::string_view::npos) {
      pos = bytes.size();
    } else {
      pos = end + 1;
      if (bytes[end] == '\r' && pos < bytes.size() && bytes[pos] == '\n') ++pos;
    }

    std::size_t start = line.find_first_not_of(kBlanks);
    if (start == std::string_view::npos) continue;  // empty lines are dropped
    line.remove_prefix(start);
    if (doc.lines_.empty() && !doc.bom_ && line.starts_with(kBom)) {
      // A mark after blanks or empty lines: taken as the file's, as written back it would be.
      doc.bom_ = true;
      line.remove_prefix(kBom.size());
      start = line.find_first_not_of(kBlanks);
      if (start == std::string_view::npos) continue;
      line.remove_prefix(start);
    }
    Line parsed;
    if (line.front() == ';') {
      line.remove_prefix(1);
      if (!line.empty() && line.front() == ' ') line.remove_prefix(1);
      parsed.kind = Kind::kComment;
      parsed.text = line;
    } else if (line.front() == '[') {
      parsed.kind = Kind::kGroup;
      parsed.text = line.substr(1, line.find(']') - 1);  // npos - 1 still runs to the end
    } else if (const std::size_t eq = line.find('='); eq != std::string_view::npos) {
      std::string_view key = line.substr(0, eq);
      while (!key.empty() && IsBlank(key.back())) key.remove_suffix(1);
      std::string_view value = line.substr(eq + 1);
      while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
      parsed.kind = Kind::kData;
      parsed.key = key;
      parsed.text = value;
    } else {
      parsed.kind = Kind::kText;
      parsed.text = line;
    }
    doc.lines_.push_back(std::move(parsed));
  }
  return doc;
}

const std::string* SettingsDocument::Find(std::string_view key) const {
  for (const Line& line : lines_) {
    if (line.kind == Kind::kGroup) break;
    if (line.kind == Kind::kData && SameKey(line.key, key)) return &line.text;
  }
  return nullptr;
}

std::string SettingsDocument::Get(std::string_view key, std::string_view default_text) const {
  const std::string* value = Find(key);
  return std::string(value ? Trim(*value) : default_text);
}

bool SettingsDocument::Set(std::string_view key, std::string_view value) {
  if (key.empty() || key.find_first_of("=\r\n") != std::string_view::npos || key.front() == ';' ||
      key.front() == '[' || IsBlank(key.front()) || IsBlank(key.back()) || key.starts_with(kBom) ||
      value.find_first_of("\r\n") != std::string_view::npos) {
    return false;
  }
  value = Trim(value);  // blanks at the ends would not read back
  std::size_t insert_at = lines_.size();
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    Line& line = lines_[i];
    if (line.kind == Kind::kGroup) {
      insert_at = i;
      break;
    }
    if (line.kind == Kind::kData && SameKey(line.key, key)) {
      line.key = key;
      line.text = value;
      return true;
    }
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert_at),
                Line{Kind::kData, std::string(key), std::string(value)});
  return true;
}

std::string SettingsDocument::Serialize() const {
  std::string out;
  if (bom_) {
    out += kBom;
    out += "\r\n";
  }
  for (const Line& line : lines_) {
    switch (line.kind) {
      case Kind::kData:
        out += line.key;
        out += " = ";
        out += line.text;
        break;
      case Kind::kComment:
        out += "; ";
        out += line.text;
        break;
      case Kind::kGroup:
        out += '[';
        out += line.text;
        out += ']';
        break;
      case Kind::kText:
        out += line.text;
        break;
    }
    out += "\r\n";
  }
  return out;
}

SettingsStore::SettingsStore(std::string folder) : folder_(std::move(folder)) {}

SettingsStore::~SettingsStore() {
  Close();
}

bool SettingsStore::Open(const std::string& file_name) {
  Close();
  if (!ValidFileName(file_name)) return false;
  name_ = file_name;
  const std::string path = folder_.empty() ? name_ : folder_ + "/" + name_;

  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    writable_ = errno == ENOENT;  // a missing file is created by the first save
    return false;
  }
  struct stat st;
  std::string bytes;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            static_cast<std::size_t>(st.st_size) <= kMaxFileBytes;
  if (ok) bytes.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  while (ok) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
    } else if (bytes.size() + static_cast<std::size_t>(n) > kMaxFileBytes) {
      ok = false;
    } else {
      bytes.append(buffer, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  if (!ok) return false;  // writable_ stays false: what we could not read we must not replace
  document_ = SettingsDocument::Parse(bytes);
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

bool SettingsStore::Save() {
  const std::string path = folder_.empty() ? name_ : folder_ + "/" + name_;
  return ReplaceFile(ResolveLinks(path), document_.Serialize());
}

void IgnoreFileSizeSignal() {
  std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace glimmerix
