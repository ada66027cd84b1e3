// Code pages: the bytes of a Windows code page (as an RTF document names it) decoded into
// UTF-32, and the code page an RTF character set stands for.
//
// Threads: both functions may be called from any thread; decoding uses descriptors the calling
// thread keeps for itself (opened at its first use of a code page, closed when it ends).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace glimmerix::rtf {

// Appends the decoding of bytes in code_page to out. Unknown code pages decode as Windows-1252;
// bytes a code page does not define become U+FFFD. A multi-byte sequence cut off at the end
// becomes U+FFFD when final, else it is left undecoded: the count of such trailing bytes is
// returned in *left_over (the caller passes them again with what follows). Returns false when
// invalid sequences were met.
bool DecodeCodePage(int code_page, std::string_view bytes, std::u32string& out, bool final = true,
                    std::size_t* left_over = nullptr);

// The Windows code page that an RTF "\fcharsetN" stands for; 0 for the document's own
// (ANSI and default character sets, and unknown ones).
int CodePageOfCharset(int charset);

}  // namespace glimmerix::rtf
