#include "outputs/linux/parallel_port.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

namespace glimmerix {

Inpout32Library::~Inpout32Library() {
  Release();
}

const std::vector<std::string>& Inpout32Library::SystemFolders() {
  // The loader's own default folders and Debian's multiarch ones (ld.so.conf), fixed here so that
  // LD_LIBRARY_PATH (whose empty entries mean the current folder) plays no part.
  static const std::vector<std::string> folders = [] {
    std::vector<std::string> list;
    const std::string arch = GLIMMERIX_LIBRARY_ARCHITECTURE;
    for (const char* base : {"/usr/local/lib", "/lib", "/usr/lib"}) {
      if (!arch.empty()) list.push_back(std::string(base) + "/" + arch);
    }
    for (const char* plain : {"/usr/local/lib", "/lib64", "/usr/lib64", "/lib", "/usr/lib"})
      list.emplace_back(plain);
    return list;
  }();
  return folders;
}

bool Inpout32Library::Load(const std::string& program_folder) {
  Release();
  error_.clear();
  std::vector<std::string> folders;
  if (!program_folder.empty() && program_folder.front() == '/') folders.push_back(program_folder);
  for (const std::string& f : SystemFolders()) folders.push_back(f);
  for (const std::string& folder : folders) {
    std::string file = folder;
    if (file.back() != '/') file += '/';
    file += kFileName;
    if (access(file.c_str(), F_OK) != 0) continue;
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_) {
      error_.clear();
      return true;
    }
    // A file that is there but cannot be loaded is the one worth naming.
    if (error_.empty()) {
      const char* why = dlerror();
      error_ = why ? why : file + ": cannot be loaded";
    }
  }
  if (error_.empty()) {
    error_ = std::string(kFileName) + ": not found in " +
             (folders.size() > SystemFolders().size() ? program_folder + " or in " : "") +
             "the system's library folders";
  }
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

ProblemFunction Inpout32Library::Problem() const {
  if (!handle_) return nullptr;
  return reinterpret_cast<ProblemFunction>(dlsym(handle_, "Inpout32Problem"));
}

RetryFunction Inpout32Library::Retry() const {
  if (!handle_) return nullptr;
  return reinterpret_cast<RetryFunction>(dlsym(handle_, "Inpout32Retry"));
}

void Inpout32Library::Release() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
}

}  // namespace glimmerix
