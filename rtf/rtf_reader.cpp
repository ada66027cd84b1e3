#include "rtf/rtf_reader.h"

#include <algorithm>
#include <climits>
#include <initializer_list>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "rtf/code_pages.h"

namespace glimmerix::rtf {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kLineSeparator = 0x2028;
constexpr int kMaxWordLetters = 32;
constexpr std::size_t kFlushBytes = 4096;
// Indents and spacing beyond 22 inches are nonsense; keep them to that.
constexpr int kMaxTwips = 31680;

void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The input, pulled from its source piecewise: a window of about one piece is held at a time,
// and no more than max_bytes are ever asked for.
class Input {
 public:
  static constexpr std::size_t kPiece = 64 * 1024;

  Input(const ByteSource& source, std::size_t max_bytes) : source_(source), max_bytes_(max_bytes) {}

  // The byte `ahead` places after the next one to read (0: the next one); -1 past the end.
  int Peek(std::size_t ahead = 0) {
    if (pos_ + ahead >= end_ && !Fill(ahead)) return -1;
    return static_cast<unsigned char>(window_[pos_ + ahead]);
  }

  // The next byte, consumed; -1 at the end.
  int Next() {
    const int c = Peek();
    if (c >= 0) ++pos_;
    return c;
  }

  // Consumes count bytes, or what is left of the input when that is less.
  void Skip(std::size_t count) {
    while (count > 0 && Peek() >= 0) {
      const std::size_t step = std::min(count, end_ - pos_);
      pos_ += step;
      count -= step;
    }
  }

  // Consumes the bytes before the next "{", "}" or "\\" (all of them when none comes).
  void SkipToSyntax() {
    while (Peek() >= 0) {
      const std::size_t found = Held().find_first_of("{}\\");
      if (found != std::string_view::npos) {
        pos_ += found;
        return;
      }
      pos_ = end_;
    }
  }

  // The bytes held and not yet consumed (a fresh piece when none is held), now consumed; empty
  // at the end. Valid until the next call.
  std::string_view Take() {
    if (Peek() < 0) return {};
    const std::string_view held = Held();
    pos_ = end_;
    return held;
  }

  // The input went on beyond max_bytes.
  bool capped() const { return capped_; }

 private:
  std::string_view Held() const { return std::string_view(window_.data() + pos_, end_ - pos_); }

  // Reads until the byte `ahead` places after pos_ is held; false when the input ends first.
  // The window is only moved and grown, never filled: a source that gives a byte at a time
  // costs a call per byte, nothing more.
  bool Fill(std::size_t ahead) {
    std::copy(window_.begin() + static_cast<std::ptrdiff_t>(pos_),
              window_.begin() + static_cast<std::ptrdiff_t>(end_), window_.begin());
    end_ -= pos_;
    pos_ = 0;
    while (end_ <= ahead && !ended_) {
      const std::size_t want = std::min(kPiece, max_bytes_ - read_);
      if (want == 0) {  // the cap: one probe byte tells whether anything was left unread
        char probe = 0;
        capped_ = source_(&probe, 1) > 0;
        ended_ = true;
        break;
      }
      if (window_.size() < end_ + want) window_.resize(end_ + want);
      const std::size_t got = std::min(source_(window_.data() + end_, want), want);
      end_ += got;
      read_ += got;
      if (got == 0) ended_ = true;
    }
    return end_ > ahead;
  }

  const ByteSource& source_;
  const std::size_t max_bytes_;
  std::vector<char> window_;
  std::size_t pos_ = 0;  // next byte to read, index into window_
  std::size_t end_ = 0;  // end of the bytes held in window_
  std::size_t read_ = 0;
  bool ended_ = false;
  bool capped_ = false;
};

enum class Destination {
  kText,        // shown
  kSkip,        // read for its braces only
  kFontTable,   // font entries: number, character set, name
  kColorTable,  // colour entries
};

struct GroupState {
  CharFormat chr;
  ParaFormat para;
  Destination dest = Destination::kText;
  int uc = 1;           // characters of fallback after each "\uN"
  bool star = false;    // "\*" seen: the next control word names an optional destination
  bool in_upr = false;  // inside "\upr": its "\*\ud" part holds the text to show
};

// The control words the reader acts on.
// clang-format off
enum class Kw {
  kUnknown, kBin, kUd, kUpr, kFonttbl, kColortbl, kSkipDestination,
  kF, kFcharset, kCpg, kRed, kGreen, kBlue,
  kAnsicpg, kAnsi, kMac, kPc, kPca, kDeff,
  kPar, kChar, kU, kUc,
  kPlain, kB, kI, kUl, kUlnone, kStrike, kSuper, kSub, kNosupersub, kFs, kCf, kHighlight,
  kPard, kQl, kQc, kQr, kQj, kLi, kRi, kFi, kSb, kSa, kTx,
};
// clang-format on

struct Keyword {
  Kw kw;
  char32_t ch;  // kChar: the character the word stands for
};

const std::unordered_map<std::string_view, Keyword>& Keywords() {
  static const std::unordered_map<std::string_view, Keyword> table = [] {
    std::unordered_map<std::string_view, Keyword> t;
    auto add = [&t](std::initializer_list<std::string_view> words, Kw kw, char32_t ch = 0) {
      for (std::string_view w : words) t.emplace(w, Keyword{kw, ch});
    };
    add({"bin"}, Kw::kBin);
    add({"ud"}, Kw::kUd);
    add({"upr"}, Kw::kUpr);
    add({"fonttbl"}, Kw::kFonttbl);
    add({"colortbl"}, Kw::kColortbl);
    // Destinations whose content is not shown.
    // clang-format off
    add({
        "stylesheet", "info", "pict", "object", "objdata", "header", "headerl", "headerr",
        "headerf", "footer", "footerl", "footerr", "footerf", "footnote", "annotation", "atnid",
        "atnauthor", "atnref", "fldinst", "filetbl", "listtable", "listoverridetable", "revtbl",
        "rsidtbl", "generator", "themedata", "colorschememapping", "latentstyles", "datastore",
        "xmlnstbl", "pgdsctbl", "private", "nonshppict", "shp", "xe", "tc", "txe", "rxe",
        "template", "docvar", "userprops", "bkmkstart", "bkmkend", "pn", "fldtype", "mmathPr",
        "ftnsep", "ftnsepc", "ftncn", "aftnsep", "aftnsepc", "aftncn", "comment", "title",
        "subject", "author", "operator", "keywords", "doccomm", "company", "manager", "category",
        "hlinkbase", "falt", "panose", "wgrffmtfilter", "passwordhash"},
        Kw::kSkipDestination);
    // clang-format on
    add({"f"}, Kw::kF);
    add({"fcharset"}, Kw::kFcharset);
    add({"cpg"}, Kw::kCpg);
    add({"red"}, Kw::kRed);
    add({"green"}, Kw::kGreen);
    add({"blue"}, Kw::kBlue);
    add({"ansicpg"}, Kw::kAnsicpg);
    add({"ansi"}, Kw::kAnsi);
    add({"mac"}, Kw::kMac);
    add({"pc"}, Kw::kPc);
    add({"pca"}, Kw::kPca);
    add({"deff"}, Kw::kDeff);
    add({"par", "page", "sect", "row"}, Kw::kPar);  // a table row ends like a paragraph
    add({"line"}, Kw::kChar, kLineSeparator);
    add({"tab", "cell", "nestcell"}, Kw::kChar, U'\t');  // table cells as tabs
    add({"bullet"}, Kw::kChar, 0x2022);
    add({"endash"}, Kw::kChar, 0x2013);
    add({"emdash"}, Kw::kChar, 0x2014);
    add({"lquote"}, Kw::kChar, 0x2018);
    add({"rquote"}, Kw::kChar, 0x2019);
    add({"ldblquote"}, Kw::kChar, 0x201C);
    add({"rdblquote"}, Kw::kChar, 0x201D);
    add({"emspace"}, Kw::kChar, 0x2003);
    add({"enspace"}, Kw::kChar, 0x2002);
    add({"qmspace"}, Kw::kChar, 0x2005);
    add({"zwj"}, Kw::kChar, 0x200D);
    add({"zwnj"}, Kw::kChar, 0x200C);
    add({"zwbo"}, Kw::kChar, 0x200B);
    add({"ltrmark"}, Kw::kChar, 0x200E);
    add({"rtlmark"}, Kw::kChar, 0x200F);
    add({"u"}, Kw::kU);
    add({"uc"}, Kw::kUc);
    add({"plain"}, Kw::kPlain);
    add({"b"}, Kw::kB);
    add({"i"}, Kw::kI);
    add({"ul", "uld", "uldash", "uldashd", "uldashdd", "uldb", "ulhwave", "ulldash", "ulth",
         "ulthd", "ulthdash", "ulthdashd", "ulthdashdd", "ulthldash", "ululdbwave", "ulw",
         "ulwave"},
        Kw::kUl);
    add({"ulnone"}, Kw::kUlnone);
    add({"strike", "striked"}, Kw::kStrike);
    add({"super"}, Kw::kSuper);
    add({"sub"}, Kw::kSub);
    add({"nosupersub"}, Kw::kNosupersub);
    add({"fs"}, Kw::kFs);
    add({"cf"}, Kw::kCf);
    add({"highlight", "cb"}, Kw::kHighlight);
    add({"pard"}, Kw::kPard);
    add({"ql"}, Kw::kQl);
    add({"qc"}, Kw::kQc);
    add({"qr"}, Kw::kQr);
    add({"qj", "qd"}, Kw::kQj);
    add({"li"}, Kw::kLi);
    add({"ri"}, Kw::kRi);
    add({"fi"}, Kw::kFi);
    add({"sb"}, Kw::kSb);
    add({"sa"}, Kw::kSa);
    add({"tx", "tb"}, Kw::kTx);  // a bar tab shows as a plain one
    return t;
  }();
  return table;
}

Keyword LookUp(std::string_view word) {
  const auto& table = Keywords();
  auto found = table.find(word);
  return found == table.end() ? Keyword{Kw::kUnknown, 0} : found->second;
}

class Parser {
 public:
  Parser(Input& input, const Limits& limits) : in_(input), limits_(limits) {
    doc_.paragraphs.emplace_back();
    stack_.reserve(kMaxGroupDepth + 1);
    stack_.emplace_back();
  }

  Document Parse() {
    while (!stopped_ && in_.Peek() >= 0) Step();
    Flush();
    FinishPending();
    while (stack_.size() > 1) PopGroup();
    Finish();
    if (in_.capped()) doc_.truncated = true;
    return std::move(doc_);
  }

 private:
  GroupState& top() { return stack_.back(); }

  void Step() {
    const int c = in_.Next();
    switch (c) {
      case '{':
        Flush();
        uc_skip_ = 0;
        PushGroup();
        return;
      case '}':
        Flush();
        uc_skip_ = 0;
        PopGroup();
        return;
      case '\\':
        ControlSequence();
        return;
      case '\r':
      case '\n':
      case '\0':
        return;
      case '\t':
        Flush();
        if (SkipFallback()) return;
        Emit(U'\t');
        return;
      default:
        if (c < 0x20) return;
        if (SkipFallback()) return;
        if (top().dest == Destination::kSkip) {  // e.g. a picture's data: only braces count
          in_.SkipToSyntax();
          return;
        }
        TextByte(static_cast<char>(c));
        return;
    }
  }

  // After "\uN" the next uc characters are the fallback for readers without Unicode: drop them.
  bool SkipFallback() {
    if (uc_skip_ == 0) return false;
    --uc_skip_;
    return true;
  }

  void PushGroup() {
    if (stack_.size() > static_cast<std::size_t>(kMaxGroupDepth)) {
      ++overflow_depth_;
      return;
    }
    GroupState next = top();
    next.star = false;
    next.in_upr = false;
    stack_.push_back(next);
  }

  void PopGroup() {
    if (overflow_depth_ > 0) {
      --overflow_depth_;
      return;
    }
    if (stack_.size() <= 1) return;  // a surplus "}": nothing to close
    const Destination dest = top().dest;
    stack_.pop_back();
    if (dest == Destination::kFontTable && top().dest != Destination::kFontTable) {
      font_entry_ = -1;
    }
    if (dest == Destination::kColorTable && top().dest != Destination::kColorTable) {
      if (!pending_color_.automatic) PushColor();
    }
  }

  void ControlSequence() {
    const int c = in_.Peek();
    if (c < 0) return;
    if (IsLetter(c)) {
      ControlWord();
      return;
    }
    in_.Skip(1);
    switch (c) {
      case '\'': {
        int value = 0;
        int digits = 0;
        while (digits < 2 && HexValue(in_.Peek()) >= 0) {
          value = value * 16 + HexValue(in_.Next());
          ++digits;
        }
        if (digits == 0) return;
        if (SkipFallback()) return;
        TextByte(static_cast<char>(value));
        return;
      }
      case '\\':
      case '{':
      case '}':
        if (SkipFallback()) return;
        TextByte(static_cast<char>(c));
        return;
      default:
        break;
    }
    Flush();
    if (SkipFallback()) return;
    switch (c) {
      case '*':
        top().star = true;
        return;
      case '~':
        Emit(0x00A0);
        return;
      case '-':
        Emit(0x00AD);
        return;
      case '_':
        Emit(0x2011);
        return;
      case '\r':
      case '\n':
        EndParagraph();
        return;
      default:
        return;  // "\|", "\:" and unknown symbols show nothing
    }
  }

  void ControlWord() {
    // Only the letters a known word can have are kept; a longer word is unknown whatever it says.
    std::array<char, kMaxWordLetters + 1> letters;
    std::size_t length = 0;
    while (IsLetter(in_.Peek())) {
      const int letter = in_.Next();
      if (length < letters.size()) letters[length] = static_cast<char>(letter);
      ++length;
    }
    bool has_param = false;
    bool negative = false;
    long long param = 0;
    if (in_.Peek() == '-' && IsDigit(in_.Peek(1))) {
      negative = true;
      in_.Skip(1);
    }
    while (IsDigit(in_.Peek())) {
      has_param = true;
      const int digit = in_.Next() - '0';
      if (param < INT_MAX) param = std::min<long long>(param * 10 + digit, INT_MAX);
    }
    if (in_.Peek() == ' ') in_.Skip(1);
    const int value = static_cast<int>(negative ? -param : param);
    const Keyword kw = length <= static_cast<std::size_t>(kMaxWordLetters)
                           ? LookUp(std::string_view(letters.data(), length))
                           : Keyword{Kw::kUnknown, 0};

    if (kw.kw == Kw::kBin) {  // binary data follows: skip it whatever the destination
      Flush();
      if (has_param && value > 0) in_.Skip(static_cast<std::size_t>(value));
      SkipFallback();
      return;
    }
    Flush();
    if (SkipFallback()) return;
    GroupState& g = top();
    const bool starred = g.star;
    g.star = false;

    if (g.dest == Destination::kSkip) {
      // Inside "\upr" the ANSI part is skipped and the "\*\ud" part shown.
      if (kw.kw == Kw::kUd && stack_.size() >= 2 && stack_[stack_.size() - 2].in_upr) {
        g.dest = Destination::kText;
      }
      return;
    }
    if (starred) {  // an optional destination: shown only if known, and none of those is
      g.dest = Destination::kSkip;
      return;
    }
    switch (kw.kw) {
      case Kw::kFonttbl:
        g.dest = Destination::kFontTable;
        font_entry_ = -1;
        return;
      case Kw::kColortbl:
        g.dest = Destination::kColorTable;
        pending_color_ = {};
        return;
      case Kw::kUpr:
        g.in_upr = true;
        g.dest = Destination::kSkip;
        return;
      case Kw::kSkipDestination:
        g.dest = Destination::kSkip;
        return;
      default:
        break;
    }
    switch (g.dest) {
      case Destination::kFontTable:
        FontTableWord(kw.kw, has_param, value);
        return;
      case Destination::kColorTable:
        ColorTableWord(kw.kw, value);
        return;
      default:
        TextWord(kw, has_param, value);
        return;
    }
  }

  void FontTableWord(Kw kw, bool has_param, int value) {
    if (kw == Kw::kF && has_param) {
      font_has_cpg_ = false;
      auto found = font_index_.find(value);
      if (found != font_index_.end()) {
        font_entry_ = static_cast<int>(found->second);
        doc_.fonts[found->second].name.clear();
      } else if (doc_.fonts.size() < limits_.max_fonts) {
        font_index_.emplace(value, doc_.fonts.size());
        font_entry_ = static_cast<int>(doc_.fonts.size());
        doc_.fonts.push_back(Font{value, {}, 0});
      } else {
        font_entry_ = -1;
      }
      return;
    }
    if (font_entry_ < 0) return;
    Font& font = doc_.fonts[font_entry_];
    if (kw == Kw::kFcharset) {
      if (!font_has_cpg_) font.code_page = CodePageOfCharset(value);
    } else if (kw == Kw::kCpg && value > 0) {
      font.code_page = value;
      font_has_cpg_ = true;
    }
  }

  void ColorTableWord(Kw kw, int value) {
    const auto component = static_cast<std::uint8_t>(std::clamp(value, 0, 255));
    switch (kw) {
      case Kw::kRed:
        pending_color_.rgb.red = component;
        break;
      case Kw::kGreen:
        pending_color_.rgb.green = component;
        break;
      case Kw::kBlue:
        pending_color_.rgb.blue = component;
        break;
      default:
        return;
    }
    pending_color_.automatic = false;
  }

  void PushColor() {
    if (doc_.colors.size() < limits_.max_colors) doc_.colors.push_back(pending_color_);
    pending_color_ = {};
  }

  static int Twips(int value) { return std::clamp(value, -kMaxTwips, kMaxTwips); }

  void TextWord(Keyword kw, bool has_param, int value) {
    GroupState& g = top();
    CharFormat& chr = g.chr;
    ParaFormat& para = g.para;
    const bool on = !has_param || value != 0;
    switch (kw.kw) {
      // Document-wide properties.
      case Kw::kAnsicpg:
        if (value > 0) doc_.code_page = value;
        break;
      case Kw::kAnsi:
        doc_.code_page = 1252;
        break;
      case Kw::kMac:
        doc_.code_page = 10000;
        break;
      case Kw::kPc:
        doc_.code_page = 437;
        break;
      case Kw::kPca:
        doc_.code_page = 850;
        break;
      case Kw::kDeff:
        default_font_ = value;
        chr.font = value;
        break;
      // Text.
      case Kw::kPar:
        EndParagraph();
        break;
      case Kw::kChar:
        Emit(kw.ch);
        break;
      case Kw::kU:
        Unicode(value);
        break;
      case Kw::kUc:
        g.uc = std::clamp(value, 0, 64);
        break;
      // Character format.
      case Kw::kPlain:
        chr = CharFormat{};
        chr.font = default_font_;
        break;
      case Kw::kB:
        chr.bold = on;
        break;
      case Kw::kI:
        chr.italic = on;
        break;
      case Kw::kUl:
        chr.underline = on;
        break;
      case Kw::kUlnone:
        chr.underline = false;
        break;
      case Kw::kStrike:
        chr.strike = on;
        break;
      case Kw::kSuper:
        chr.vertical = VerticalAlign::kSuper;
        break;
      case Kw::kSub:
        chr.vertical = VerticalAlign::kSub;
        break;
      case Kw::kNosupersub:
        chr.vertical = VerticalAlign::kBaseline;
        break;
      case Kw::kFs:
        chr.font_size_half_points = has_param ? std::clamp(value, 2, 3276) : 24;
        break;
      case Kw::kF:
        if (has_param) chr.font = value;
        break;
      case Kw::kCf:
        chr.color = std::max(value, 0);
        break;
      case Kw::kHighlight:
        chr.highlight = std::max(value, 0);
        break;
      // Paragraph format.
      case Kw::kPard:
        para = ParaFormat{};
        break;
      case Kw::kQl:
        para.alignment = Alignment::kLeft;
        break;
      case Kw::kQc:
        para.alignment = Alignment::kCenter;
        break;
      case Kw::kQr:
        para.alignment = Alignment::kRight;
        break;
      case Kw::kQj:
        para.alignment = Alignment::kJustify;
        break;
      case Kw::kLi:
        para.left_indent_twips = Twips(value);
        break;
      case Kw::kRi:
        para.right_indent_twips = Twips(value);
        break;
      case Kw::kFi:
        para.first_line_twips = Twips(value);
        break;
      case Kw::kSb:
        para.space_before_twips = Twips(value);
        break;
      case Kw::kSa:
        para.space_after_twips = Twips(value);
        break;
      case Kw::kTx:
        if (para.tab_stop_count < kMaxTabStops && value > 0) {
          para.tab_stops_twips[para.tab_stop_count++] = Twips(value);
        }
        break;
      default:
        break;  // words this reader does not show
    }
  }

  void Unicode(int value) {
    // Negative values stand for code units above 32767.
    char32_t unit = static_cast<char32_t>(value < 0 ? value + 65536 : value) & 0xFFFF;
    const int skip = top().uc;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      FinishPending();
      high_surrogate_ = unit;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      if (high_surrogate_ != 0) {
        const char32_t c = 0x10000 + ((high_surrogate_ - 0xD800) << 10) + (unit - 0xDC00);
        high_surrogate_ = 0;
        Emit(c);
      } else {
        Emit(kReplacement);
      }
    } else {
      Emit(unit);
    }
    uc_skip_ = skip;
  }

  // A high surrogate not followed by its low half.
  void FinishPending() {
    if (high_surrogate_ == 0) return;
    high_surrogate_ = 0;
    EmitChar(kReplacement);
  }

  // Text bytes wait here until something else comes, so multi-byte characters of the code page
  // decode whole.
  void TextByte(char byte) {
    if (top().dest == Destination::kSkip) return;
    pending_bytes_.push_back(byte);
    // Long stretches of text decode piecewise, so a limit reached early stops the work early.
    if (pending_bytes_.size() >= kFlushBytes) Flush(false);
  }

  // Decodes the waiting text bytes and emits them. Not final: a character whose bytes are not
  // all there yet stays waiting.
  void Flush(bool final = true) {
    if (pending_bytes_.empty()) return;
    int code_page = doc_.code_page;
    const GroupState& g = top();
    const int font_number = g.dest == Destination::kFontTable
                                ? (font_entry_ >= 0 ? doc_.fonts[font_entry_].number : -1)
                                : g.chr.font;
    if (auto found = font_index_.find(font_number); found != font_index_.end()) {
      if (doc_.fonts[found->second].code_page > 0) code_page = doc_.fonts[found->second].code_page;
    }
    decoded_.clear();
    std::size_t left_over = 0;
    DecodeCodePage(code_page, pending_bytes_, decoded_, final, &left_over);
    pending_bytes_.erase(0, pending_bytes_.size() - left_over);
    for (char32_t c : decoded_) {
      if (stopped_) break;
      Emit(c);
    }
  }

  void Emit(char32_t c) {
    if (high_surrogate_ != 0) FinishPending();
    EmitChar(c);
  }

  void EmitChar(char32_t c) {
    GroupState& g = top();
    switch (g.dest) {
      case Destination::kText:
        AppendText(c, g);
        return;
      case Destination::kFontTable:
        if (font_entry_ < 0) return;
        if (c == U';') {
          font_entry_ = -1;
          font_has_cpg_ = false;
        } else if (doc_.fonts[font_entry_].name.size() < 256) {
          AppendUtf8(c, doc_.fonts[font_entry_].name);
        }
        return;
      case Destination::kColorTable:
        if (c == U';') PushColor();
        return;
      case Destination::kSkip:
        return;
    }
  }

  void AppendText(char32_t c, const GroupState& g) {
    if (c < 0x20 && c != U'\t') return;  // e.g. "\u10": line structure comes from control words
    if (chars_ >= limits_.max_chars) {
      Stop();
      return;
    }
    Paragraph& p = doc_.paragraphs.back();
    if (p.runs.empty() || !(p.runs.back().format == g.chr)) {
      if (runs_ >= limits_.max_runs) {
        Stop();
        return;
      }
      ++runs_;
      p.runs.push_back(TextRun{{}, g.chr});
    }
    ++chars_;
    p.format = g.para;
    p.end_format = g.chr;
    p.runs.back().text.push_back(c);
  }

  void EndParagraph() {
    FinishPending();
    const GroupState& g = top();
    if (g.dest != Destination::kText) return;
    if (doc_.paragraphs.size() >= limits_.max_paragraphs) {
      Stop();
      return;
    }
    Paragraph& p = doc_.paragraphs.back();
    p.format = g.para;
    p.end_format = g.chr;
    doc_.paragraphs.emplace_back();
    doc_.paragraphs.back().format = g.para;
    doc_.paragraphs.back().end_format = g.chr;
  }

  void Stop() {
    doc_.truncated = true;
    stopped_ = true;
  }

  void Finish() {
    // The last paragraph mark of a document ends its last paragraph; it does not open an empty
    // one after it.
    if (doc_.paragraphs.size() > 1 && doc_.paragraphs.back().runs.empty()) {
      doc_.paragraphs.pop_back();
    }
  }

  static bool IsLetter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
  static bool IsDigit(int c) { return c >= '0' && c <= '9'; }
  static int HexValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  Input& in_;
  Limits limits_;
  Document doc_;
  std::vector<GroupState> stack_;
  int overflow_depth_ = 0;  // groups opened beyond kMaxGroupDepth and not yet closed
  int uc_skip_ = 0;         // fallback characters still to drop after "\uN"
  char32_t high_surrogate_ = 0;
  int default_font_ = -1;
  int font_entry_ = -1;  // the font table entry being read, index into doc_.fonts
  bool font_has_cpg_ = false;
  std::unordered_map<int, std::size_t> font_index_;  // font number -> index into doc_.fonts
  ColorEntry pending_color_;
  std::string pending_bytes_;
  std::u32string decoded_;
  std::size_t chars_ = 0;
  std::size_t runs_ = 0;
  bool stopped_ = false;
};

bool IsBlank(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The count of bytes before "{\rtf" when the input begins with it (after a byte-order mark and
// blanks within the first piece), else -1.
int RtfStart(Input& in) {
  std::size_t start = 0;
  if (in.Peek(0) == 0xEF && in.Peek(1) == 0xBB && in.Peek(2) == 0xBF) start = 3;
  while (start < Input::kPiece && IsBlank(in.Peek(start))) ++start;
  for (std::size_t i = 0; i < 5; ++i) {
    if (in.Peek(start + i) != "{\\rtf"[i]) return -1;
  }
  return static_cast<int>(start);
}

// Text that is not RTF, one paragraph per line. It is decoded as UTF-8 as long as it is valid
// UTF-8; at the first invalid sequence what was kept is decoded again as Windows-1252, as is the
// rest.
class PlainTextReader {
 public:
  PlainTextReader(Input& input, const Limits& limits) : in_(input), limits_(limits) {
    doc_.was_rtf = false;
    doc_.paragraphs.emplace_back();
  }

  Document Read() {
    if (in_.Peek(0) == 0xEF && in_.Peek(1) == 0xBB && in_.Peek(2) == 0xBF) in_.Skip(3);
    std::string undecoded;  // a character cut off at the end of a piece, then the next piece
    std::u32string decoded;
    while (!stopped_) {
      const std::string_view piece = in_.Take();
      const bool final = piece.empty();
      undecoded.append(piece);
      decoded.clear();
      std::size_t left_over = 0;
      if (!DecodeCodePage(code_page_, undecoded, decoded, final, &left_over) &&
          code_page_ == 65001) {
        code_page_ = 1252;
        DecodeKeptTextAgain();
        decoded.clear();
        DecodeCodePage(code_page_, undecoded, decoded);
        left_over = 0;
      }
      undecoded.erase(0, undecoded.size() - left_over);
      Add(decoded);
      if (final) break;
    }
    if (in_.capped()) doc_.truncated = true;
    if (doc_.paragraphs.size() > 1 && doc_.paragraphs.back().runs.empty()) {
      doc_.paragraphs.pop_back();
    }
    return std::move(doc_);
  }

 private:
  void Add(std::u32string_view text) {
    for (const char32_t c : text) {
      if (stopped_) return;
      const bool after_cr = after_cr_;
      after_cr_ = c == U'\r';
      if (c == U'\n' && after_cr) continue;  // the second half of "\r\n"
      if (c == U'\r' || c == U'\n') {
        if (doc_.paragraphs.size() >= limits_.max_paragraphs) {
          Stop();
          return;
        }
        doc_.paragraphs.emplace_back();
        continue;
      }
      if (c < 0x20 && c != U'\t') continue;
      if (chars_ >= limits_.max_chars) {
        Stop();
        return;
      }
      ++chars_;
      auto& runs = doc_.paragraphs.back().runs;
      if (runs.empty()) runs.emplace_back();
      runs.back().text.push_back(c);
    }
  }

  // What was kept was valid UTF-8: its bytes come back by encoding it again (line breaks as
  // "\n"; the control characters left out are the same in both code pages).
  void DecodeKeptTextAgain() {
    std::string bytes;
    for (std::size_t i = 0; i < doc_.paragraphs.size(); ++i) {
      if (i > 0) bytes.push_back('\n');
      for (const TextRun& run : doc_.paragraphs[i].runs) {
        for (const char32_t c : run.text) AppendUtf8(c, bytes);
      }
    }
    std::u32string text;
    DecodeCodePage(code_page_, bytes, text);
    const bool after_cr = after_cr_;
    doc_.paragraphs.assign(1, Paragraph{});
    chars_ = 0;
    after_cr_ = false;
    Add(text);
    after_cr_ = after_cr;
  }

  void Stop() {
    doc_.truncated = true;
    stopped_ = true;
  }

  Input& in_;
  const Limits limits_;
  Document doc_;
  int code_page_ = 65001;
  std::size_t chars_ = 0;
  bool after_cr_ = false;  // the last character was "\r"
  bool stopped_ = false;
};

}  // namespace

std::u32string Document::PlainText() const {
  std::u32string out;
  for (std::size_t i = 0; i < paragraphs.size(); ++i) {
    if (i > 0) out.push_back(U'\n');
    for (const TextRun& run : paragraphs[i].runs) out += run.text;
  }
  return out;
}

Document ReadRtf(const ByteSource& source, const Limits& limits) {
  Input input(source, limits.max_bytes);
  const int rtf_start = RtfStart(input);
  if (rtf_start < 0) return PlainTextReader(input, limits).Read();
  input.Skip(static_cast<std::size_t>(rtf_start));
  return Parser(input, limits).Parse();
}

Document ParseRtf(std::string_view bytes, const Limits& limits) {
  return ReadRtf(
      [&bytes](char* buffer, std::size_t size) {
        const std::size_t count = std::min(size, bytes.size());
        bytes.copy(buffer, count);
        bytes.remove_prefix(count);
        return count;
      },
      limits);
}

}  // namespace glimmerix::rtf
