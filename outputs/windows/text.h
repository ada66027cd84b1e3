// Text between the Windows API's UTF-16 and the program's UTF-8 strings, and the system's
// messages for its error numbers. Any thread.
#pragma once

#include <windows.h>

#include <string>

namespace glimmerix {

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);
// The system's message for a GetLastError() value (one line, no trailing full stop or line
// break), or "error N" where it has none.
std::string SystemErrorText(DWORD error);

}  // namespace glimmerix
