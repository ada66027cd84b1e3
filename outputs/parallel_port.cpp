#include "outputs/parallel_port.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

namespace glimmerix {

Inpout32Library::~Inpout32Library() {
  Release();
}

bool Inpout32Library::Load(const std::string& program_folder) {
  Release();
  error_.clear();
  if (!program_folder.empty()) {
    std::string beside = program_folder;
    if (beside.back() != '/') beside += '/';
    beside += kFileName;
    handle_ = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_) return true;
    // A file that is there but cannot be loaded is the one worth naming.
    if (access(beside.c_str(), F_OK) == 0) {
      const char* why = dlerror();
      error_ = why ? why : beside + ": cannot be loaded";
    }
  }
  handle_ = dlopen(kFileName, RTLD_NOW | RTLD_LOCAL);
  if (handle_) {
    error_.clear();
    return true;
  }
  const char* why = dlerror();
  if (error_.empty()) error_ = why ? why : std::string(kFileName) + ": cannot be loaded";
  return false;
}

std::string Inpout32Library::path() const {
  if (!handle_) return {};
  link_map* map = nullptr;
  if (dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
  return map->l_name;
}

Out32Function Inpout32Library::Out32() const {
  if (!handle_) return nullptr;
  return reinterpret_cast<Out32Function>(dlsym(handle_, "Out32"));
}

void Inpout32Library::Release() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
}

void LptPort::LPT_Out(int address, int value) {
  std::lock_guard lock(mutex_);
  if (closed_ || !out32_) return;
  out32_(static_cast<short>(address), static_cast<short>(value));
}

void LptPort::SwitchOff() {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  if (out32_) {
    out32_(static_cast<short>(kData), 0);
    out32_(static_cast<short>(kControl), static_cast<short>(kControlAllOff));
  }
  closed_ = true;
}

}  // namespace glimmerix
