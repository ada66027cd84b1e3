#include "outputs/windows/parallel_port_windows.h"

#include <windows.h>

#include "outputs/windows/text.h"

namespace glimmerix {

InpoutLibrary::~InpoutLibrary() {
  Release();
}

bool InpoutLibrary::Load(const std::string& program_folder) {
  Release();
  error_.clear();
  std::wstring file = Wide(program_folder);
  if (!file.empty() && file.back() != L'\\' && file.back() != L'/') file += L'\\';
  file += Wide(kFileName);
  const std::string shown = Utf8(file);
  // Only an absolute path: a relative one would be looked up through the search path.
  const bool absolute =
      file.size() > 2 && ((file[1] == L':' && (file[2] == L'\\' || file[2] == L'/')) ||
                          (file[0] == L'\\' && file[1] == L'\\'));
  if (!absolute) {
    error_ = std::string(kFileName) + ": the program's folder is not known";
    return false;
  }
  if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
    error_ = shown + ": not found";
    return false;
  }
  // Its own dependencies are looked for beside it first.
  module_ = LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module_) {
    error_ = shown + ": " + SystemErrorText(GetLastError());
    return false;
  }
  return true;
}

Out32Function InpoutLibrary::Out32() const {
  if (!module_) return nullptr;
  return reinterpret_cast<Out32Function>(
      reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module_), "Out32")));
}

void InpoutLibrary::Release() {
  if (module_) FreeLibrary(static_cast<HMODULE>(module_));
  module_ = nullptr;
}

}  // namespace glimmerix
