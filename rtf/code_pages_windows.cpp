// Code pages through MultiByteToWideChar.
#include <windows.h>

#include <algorithm>

#include "rtf/code_pages.h"

namespace glimmerix::rtf {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsIsoLatin(int code_page) {
  return code_page >= 28591 && code_page <= 28605;
}

// Appends the UTF-32 of bytes when every byte is defined in code_page; false (nothing appended)
// otherwise. Windows maps the bytes its single-byte code pages leave undefined (1252's 0x81, ...)
// to the C1 control of the same value: outside the ISO 8859 pages, where C1 controls are what the
// bytes stand for, such a result counts as undefined.
bool Convert(int code_page, std::string_view bytes, std::u32string& out) {
  wchar_t buffer[512];
  std::wstring heap;
  wchar_t* wide = buffer;
  const int size = static_cast<int>(bytes.size());
  int n = MultiByteToWideChar(static_cast<UINT>(code_page), MB_ERR_INVALID_CHARS, bytes.data(),
                              size, buffer, static_cast<int>(std::size(buffer)));
  if (n == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    n = MultiByteToWideChar(static_cast<UINT>(code_page), MB_ERR_INVALID_CHARS, bytes.data(), size,
                            nullptr, 0);
    heap.resize(static_cast<std::size_t>(n));
    n = MultiByteToWideChar(static_cast<UINT>(code_page), MB_ERR_INVALID_CHARS, bytes.data(), size,
                            heap.data(), n);
    wide = heap.data();
  }
  if (n <= 0) return false;
  const std::size_t start = out.size();
  for (int i = 0; i < n; ++i) {
    const char32_t unit = wide[i];
    if (unit >= 0x80 && unit <= 0x9F && !IsIsoLatin(code_page)) {
      out.resize(start);
      return false;
    }
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < n && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      out.push_back(0x10000 + ((unit - 0xD800) << 10) +
                    (static_cast<char32_t>(wide[i + 1]) - 0xDC00));
      ++i;
    } else {
      out.push_back(unit);
    }
  }
  return true;
}

}  // namespace

bool DecodeCodePage(int code_page, std::string_view bytes, std::u32string& out, bool final,
                    std::size_t* left_over) {
  if (left_over != nullptr) *left_over = 0;
  if (bytes.empty()) return true;
  CPINFO info;
  if (code_page <= 0 || !IsValidCodePage(static_cast<UINT>(code_page)) ||
      !GetCPInfo(static_cast<UINT>(code_page), &info)) {
    code_page = 1252;
    GetCPInfo(1252, &info);
  }
  if (Convert(code_page, bytes, out)) return true;

  // Something is undefined or cut off: character by character, the shortest byte run that
  // converts being the character.
  const std::size_t longest = std::max<std::size_t>(info.MaxCharSize, 1);
  bool clean = true;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t rest = bytes.size() - at;
    std::size_t length = 1;
    while (length <= std::min(longest, rest) &&
           !Convert(code_page, bytes.substr(at, length), out)) {
      ++length;
    }
    if (length <= std::min(longest, rest)) {
      at += length;
      continue;
    }
    if (rest < longest) {  // a character cut off by the end
      if (!final && left_over != nullptr) {
        *left_over = rest;  // the rest comes later
        return clean;
      }
      out.push_back(kReplacement);
      return false;
    }
    clean = false;
    out.push_back(kReplacement);  // skip the byte that starts the bad sequence
    ++at;
  }
  return clean;
}

}  // namespace glimmerix::rtf
