// The RTF reader under libFuzzer: any bytes must parse without a crash, a leak or a hang, and the
// model must keep its promises (at least one paragraph, no empty run, neighbouring runs in
// different formats, the limits respected). Read again from a source that gives a few bytes at a
// time, the same bytes must give the same text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rtf/rtf_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace glimmerix::rtf;
  Limits limits;
  limits.max_chars = 20000;
  limits.max_paragraphs = 2000;
  limits.max_runs = 3000;
  const Document doc =
      ParseRtf(std::string_view(reinterpret_cast<const char*>(data), size), limits);
  if (doc.paragraphs.empty() || doc.paragraphs.size() > limits.max_paragraphs) __builtin_trap();
  std::size_t chars = 0;
  std::size_t runs = 0;
  for (const Paragraph& p : doc.paragraphs) {
    for (std::size_t i = 0; i < p.runs.size(); ++i) {
      if (p.runs[i].text.empty()) __builtin_trap();
      if (i > 0 && p.runs[i].format == p.runs[i - 1].format) __builtin_trap();
      for (char32_t c : p.runs[i].text) {
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || (c < 0x20 && c != U'\t')) {
          __builtin_trap();
        }
      }
      chars += p.runs[i].text.size();
      ++runs;
    }
  }
  if (chars > limits.max_chars || runs > limits.max_runs) __builtin_trap();

  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::size_t piece = size > 0 ? 1 + data[0] % 13 : 1;
  const Document pieces = ReadRtf(
      [&rest, piece](char* buffer, std::size_t want) {
        const std::size_t count = std::min({want, piece, rest.size()});
        rest.copy(buffer, count);
        rest.remove_prefix(count);
        return count;
      },
      limits);
  if (pieces.PlainText() != doc.PlainText() || pieces.truncated != doc.truncated) __builtin_trap();
  return 0;
}
