// Any bytes: parsing never crashes or hangs, what is written reads back to the same lines, and
// writing that again gives the same bytes. A key and value taken from the input, once accepted,
// read back as given (less blanks at the value's ends).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/settings_store.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using glimmerix::SettingsDocument;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  glimmerix::ParseSettingNumber(bytes);

  SettingsDocument doc = SettingsDocument::Parse(std::string(bytes));
  const std::string once = doc.Serialize();
  const SettingsDocument back = SettingsDocument::Parse(once);
  Check(back.lines() == doc.lines() && back.has_bom() == doc.has_bom());
  Check(back.Serialize() == once);

  // The first byte splits a short key from a value in the rest.
  if (size < 2) return 0;
  const std::size_t key_length = 1 + data[0] % 8;
  if (size < 1 + key_length) return 0;
  const std::string_view key = bytes.substr(1, key_length);
  const std::string_view value = bytes.substr(1 + key_length, 64);
  if (!doc.Set(key, value)) return 0;
  const std::string written = doc.Serialize();
  const SettingsDocument reread = SettingsDocument::Parse(written);
  Check(reread.Get(key, "\n") == Trim(value));
  Check(reread.Serialize() == written);
  return 0;
}
