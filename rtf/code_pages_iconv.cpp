// Code pages through iconv.
#include "rtf/code_pages.h"

#include <iconv.h>

#include <bit>
#include <cerrno>
#include <string>
#include <unordered_map>

namespace glimmerix::rtf {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The iconv name of a Windows code page.
std::string IconvName(int code_page) {
  switch (code_page) {
    case 936:
      return "GBK";
    case 950:
      return "BIG5";
    case 1361:
      return "JOHAB";
    case 10000:
      return "MACINTOSH";
    case 10007:
      return "MAC-CYRILLIC";
    case 20866:
      return "KOI8-R";
    case 21866:
      return "KOI8-U";
    case 65001:
      return "UTF-8";
    default:
      break;
  }
  if (code_page >= 28591 && code_page <= 28605) {
    return "ISO-8859-" + std::to_string(code_page - 28590);
  }
  return "CP" + std::to_string(code_page);
}

// One iconv descriptor per code page. Opening a descriptor costs far more than a short
// document's decoding, so each thread keeps its descriptors (ThreadDecoder) for all the documents
// it reads; iconv descriptors must not be shared between threads.
class Decoder {
 public:
  Decoder() = default;
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  ~Decoder() { CloseAll(); }

  // As DecodeCodePage.
  bool Decode(int code_page, std::string_view bytes, std::u32string& out, bool final = true,
              std::size_t* left_over = nullptr) {
    if (left_over != nullptr) *left_over = 0;
    if (bytes.empty()) return true;
    iconv_t cd = Descriptor(code_page);
    if (cd == kInvalid) cd = Descriptor(1252);
    if (cd == kInvalid) {  // no iconv at all: Latin-1 is better than nothing
      for (unsigned char b : bytes) out.push_back(b);
      return true;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    bool clean = true;
    char* in = const_cast<char*>(bytes.data());
    std::size_t in_left = bytes.size();
    char32_t buffer[256];
    while (in_left > 0) {
      char* outp = reinterpret_cast<char*>(buffer);
      std::size_t out_left = sizeof(buffer);
      std::size_t rc = iconv(cd, &in, &in_left, &outp, &out_left);
      out.append(buffer, (sizeof(buffer) - out_left) / sizeof(char32_t));
      if (rc != static_cast<std::size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      if (errno == EINVAL && !final && left_over != nullptr) {  // the rest comes later
        *left_over = in_left;
        break;
      }
      clean = false;
      out.push_back(kReplacement);
      if (errno == EILSEQ) {  // skip the byte that starts the bad sequence
        ++in;
        --in_left;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
      } else {  // EINVAL: a sequence cut off by the end
        break;
      }
    }
    return clean;
  }

 private:
  static inline const iconv_t kInvalid = reinterpret_cast<iconv_t>(-1);
  static constexpr std::size_t kMaxOpen = 32;

  void CloseAll() {
    for (auto& [page, cd] : open_) {
      if (cd != kInvalid) iconv_close(cd);
    }
    open_.clear();
  }

  iconv_t Descriptor(int code_page) {
    auto found = open_.find(code_page);
    if (found != open_.end()) return found->second;
    const char* to = std::endian::native == std::endian::little ? "UTF-32LE" : "UTF-32BE";
    if (open_.size() >= kMaxOpen) CloseAll();  // a document naming ever new code pages
    iconv_t cd = kInvalid;
    if (code_page > 0) cd = iconv_open(to, IconvName(code_page).c_str());
    open_.emplace(code_page, cd);
    return cd;
  }

  std::unordered_map<int, iconv_t> open_;
};

Decoder& ThreadDecoder() {
  thread_local Decoder decoder;
  return decoder;
}

}  // namespace

bool DecodeCodePage(int code_page, std::string_view bytes, std::u32string& out, bool final,
                    std::size_t* left_over) {
  return ThreadDecoder().Decode(code_page, bytes, out, final, left_over);
}

}  // namespace glimmerix::rtf
