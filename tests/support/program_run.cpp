#include "tests/support/program_run.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace glimmerix::e2e {

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (true) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int Shell(const std::string& command) {
  return std::system(command.c_str());
}

void Focus(Window w) {
  const std::string id = std::to_string(w);
  if (Shell("xdotool windowactivate --sync " + id + " 2>/dev/null") != 0)
    Shell("xdotool windowfocus --sync " + id);
}

void PickFromTrayMenu(Window icon, const std::string& keys) {
  Shell("xdotool mousemove --window " + std::to_string(icon) + " 11 15 click 3");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  Shell("xdotool key " + keys);
}

void SaveScreenshot(const std::string& name) {
  const char* folder = std::getenv("GLIMMERIX_TEST_SHOTS");
  if (folder == nullptr || *folder == '\0') return;
  std::filesystem::create_directories(folder);
  Shell("import -window root '" + (std::filesystem::path(folder) / (name + ".png")).string() + "'");
}

ProgramRun::ProgramRun(bool with_library) {
  char pattern[] = "/tmp/glimmerix-e2e-XXXXXX";
  folder = mkdtemp(pattern);
  namespace fs = std::filesystem;
  fs::copy_file(GLIMMERIX_PROGRAM, folder / "glimmerix");
  if (with_library) fs::copy_file(GLIMMERIX_RECORDING_INPOUT32, folder / "libinpout32.so");
  hid_.Add(0, kVid, kPid);
  setenv("GLIMMERIX_LPT_RECORD", (folder / "lpt.log").c_str(), 1);
}

ProgramRun::~ProgramRun() {
  if (pid_ > 0 && !exited_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  unsetenv("GLIMMERIX_LPT_RECORD");
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

void ProgramRun::Write(const std::string& name, const std::vector<std::string>& lines) const {
  std::ofstream out(folder / name, std::ios::binary);
  for (const std::string& line : lines) out << line << "\r\n";
}

std::string ProgramRun::Read(const std::string& name) const {
  std::ifstream in(folder / name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> ProgramRun::Keys(const std::string& name) const {
  std::vector<std::string> keys;
  std::istringstream in(Read(name));
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find(" = ");
    if (eq != std::string::npos) keys.push_back(line.substr(0, eq));
  }
  return keys;
}

std::string ProgramRun::Value(const std::string& name, const std::string& key) const {
  std::istringstream in(Read(name));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(key + " = ", 0) == 0) return line.substr(key.size() + 3);
  }
  return "<missing>";
}

bool ProgramRun::Exists(const std::string& name) const {
  return std::filesystem::exists(folder / name);
}

void ProgramRun::Start() {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string log = (folder / "program.log").string();
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  // The program is started through its path, in its folder, as the launcher does.
  const std::string program = (folder / "glimmerix").string();
  const std::string cd_and_run = "cd '" + folder.string() + "' && exec ./glimmerix";
  char* argv[] = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"),
                  const_cast<char*>(cd_and_run.c_str()), nullptr};
  if (posix_spawn(&pid_, "/bin/sh", &actions, nullptr, argv, environ) != 0) pid_ = -1;
  exited_ = false;
  posix_spawn_file_actions_destroy(&actions);
}

std::optional<int> ProgramRun::WaitExit(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return std::nullopt;
  if (exited_) return std::nullopt;
  int status = 0;
  const bool done = WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
  if (!done) return std::nullopt;
  exited_ = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void ProgramRun::Signal(int signo) const {
  if (pid_ > 0 && !exited_) kill(pid_, signo);
}

std::vector<std::pair<int, int>> ProgramRun::LptWrites() const {
  std::vector<std::pair<int, int>> writes;
  std::istringstream in(Read("lpt.log"));
  std::string address, value;
  while (in >> address >> value)
    writes.emplace_back(std::stoi(address, nullptr, 16), std::stoi(value, nullptr, 16));
  return writes;
}

std::string NotSwitchedOffLast(const ProgramRun& run) {
  const auto reports = run.Reports();
  const std::vector<std::uint8_t> all_off = {0x00, 0x00, 0x00, 0x40, 0x00, 0x80};
  if (reports.size() < all_off.size() ||
      !std::equal(all_off.begin(), all_off.end(), reports.end() - all_off.size()))
    return "the controller's last reports are not the three all-off ones";
  const auto lpt = run.LptWrites();
  if (lpt.size() < 2 || lpt[lpt.size() - 2] != std::make_pair(0x378, 0) ||
      lpt.back() != std::make_pair(0x37A, 11))
    return "the parallel port's last writes are not 0x378 = 0, 0x37A = 0x0B";
  return "";
}

namespace {
// Windows come and go between a tree walk and the questions asked about them: not an error.
int IgnoreXError(::Display*, XErrorEvent*) {
  return 0;
}
}  // namespace

Display::Display() {
  XSetErrorHandler(IgnoreXError);
  d_ = XOpenDisplay(nullptr);
}
Display::~Display() {
  if (d_) XCloseDisplay(d_);
}

void Display::Walk(Window w, const std::function<void(Window)>& visit) {
  visit(w);
  Window root, parent, *children = nullptr;
  unsigned n = 0;
  if (!XQueryTree(d_, w, &root, &parent, &children, &n)) return;
  std::vector<Window> kids(children, children + n);
  if (children) XFree(children);
  for (Window k : kids) Walk(k, visit);
}

std::vector<Window> Display::ProgramWindows() {
  std::vector<Window> found;
  Walk(DefaultRootWindow(d_), [&](Window w) {
    XClassHint hint{};
    if (XGetClassHint(d_, w, &hint)) {
      if (hint.res_name && std::string(hint.res_name) == "glimmerix") found.push_back(w);
      if (hint.res_name) XFree(hint.res_name);
      if (hint.res_class) XFree(hint.res_class);
    }
  });
  return found;
}

Window Display::WaitForToolTip(std::chrono::milliseconds timeout) {
  Window tip = 0;
  WaitFor(
      [&] {
        for (Window w : ProgramWindows())
          if (Viewable(w) && HasType(w, "_NET_WM_WINDOW_TYPE_TOOLTIP")) tip = w;
        return tip != 0;
      },
      timeout);
  return tip;
}

Window Display::WaitForTrayIcon(std::chrono::milliseconds timeout) {
  Window icon = 0;
  WaitFor(
      [&] {
        const auto icons = TrayIcons();
        icon = icons.empty() ? 0 : icons.front();
        return icon != 0;
      },
      timeout);
  return icon;
}

std::vector<Window> Display::TrayIcons() {
  std::vector<Window> icons;
  // Every top-level window of Qt's carries _XEMBED_INFO, and under a window manager every managed
  // one has a parent other than the root (its frame); the manager marks those with WM_STATE.
  const Atom xembed = XInternAtom(d_, "_XEMBED_INFO", False);
  const Atom wm_state = XInternAtom(d_, "WM_STATE", False);
  for (Window w : ProgramWindows()) {
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d_, w, &root, &parent, &children, &n)) continue;
    if (children) XFree(children);
    Atom type;
    int format;
    unsigned long items, after;
    unsigned char* data = nullptr;
    const bool embedded = XGetWindowProperty(d_, w, xembed, 0, 2, False, AnyPropertyType, &type,
                                             &format, &items, &after, &data) == Success &&
                          items > 0;
    if (data) XFree(data);
    data = nullptr;
    const bool managed = XGetWindowProperty(d_, w, wm_state, 0, 2, False, AnyPropertyType, &type,
                                            &format, &items, &after, &data) == Success &&
                         items > 0;
    if (data) XFree(data);
    if (embedded && !managed && parent != root && Viewable(w)) icons.push_back(w);
  }
  return icons;
}

std::string Display::Title(Window w) {
  const Atom net_name = XInternAtom(d_, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(d_, "UTF8_STRING", False);
  Atom type;
  int format;
  unsigned long items, after;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(d_, w, net_name, 0, 1024, False, utf8, &type, &format, &items, &after,
                         &data) == Success &&
      data) {
    title.assign(reinterpret_cast<char*>(data), items);
  }
  if (data) XFree(data);
  return title;
}

bool Display::Viewable(Window w) {
  XWindowAttributes a;
  return XGetWindowAttributes(d_, w, &a) && a.map_state == IsViewable;
}

std::vector<std::string> Display::Types(Window w) {
  const Atom property = XInternAtom(d_, "_NET_WM_WINDOW_TYPE", False);
  Atom type;
  int format;
  unsigned long items, after;
  unsigned char* data = nullptr;
  std::vector<std::string> names;
  if (XGetWindowProperty(d_, w, property, 0, 32, False, XA_ATOM, &type, &format, &items, &after,
                         &data) == Success &&
      data) {
    const Atom* atoms = reinterpret_cast<const Atom*>(data);
    for (unsigned long i = 0; i < items; ++i) {
      char* name = XGetAtomName(d_, atoms[i]);
      if (name) {
        names.emplace_back(name);
        XFree(name);
      }
    }
  }
  if (data) XFree(data);
  return names;
}

bool Display::HasType(Window w, const std::string& type) {
  const auto types = Types(w);
  return std::find(types.begin(), types.end(), type) != types.end();
}

Window Display::AnyWindow(const std::string& title) {
  const auto icons = TrayIcons();
  for (Window w : ProgramWindows()) {
    if (Title(w) != title || std::find(icons.begin(), icons.end(), w) != icons.end()) continue;
    if (HasType(w, "_NET_WM_WINDOW_TYPE_TOOLTIP") || HasType(w, "_NET_WM_WINDOW_TYPE_POPUP_MENU") ||
        HasType(w, "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU"))
      continue;
    return w;
  }
  return 0;
}

Window Display::MappedWindow(const std::string& title) {
  const auto icons = TrayIcons();
  for (Window w : ProgramWindows()) {
    if (Title(w) != title || !Viewable(w)) continue;
    if (std::find(icons.begin(), icons.end(), w) != icons.end()) continue;
    if (HasType(w, "_NET_WM_WINDOW_TYPE_TOOLTIP") || HasType(w, "_NET_WM_WINDOW_TYPE_POPUP_MENU") ||
        HasType(w, "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU"))
      continue;
    return w;
  }
  return 0;
}

QRect Display::Geometry(Window w) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(d_, w, &a)) return {};
  int x = 0, y = 0;
  Window child;
  XTranslateCoordinates(d_, w, DefaultRootWindow(d_), 0, 0, &x, &y, &child);
  return QRect(x, y, a.width, a.height);
}

QRect Display::Frame(Window w) {
  for (;;) {
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d_, w, &root, &parent, &children, &n)) return {};
    if (children) XFree(children);
    if (parent == root) break;
    w = parent;
  }
  XWindowAttributes a;
  if (!XGetWindowAttributes(d_, w, &a)) return {};
  return QRect(a.x, a.y, a.width + 2 * a.border_width, a.height + 2 * a.border_width);
}

QImage Display::Grab(Window w) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(d_, w, &a)) return {};
  XImage* image = XGetImage(d_, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
  if (!image) return {};
  QImage out(a.width, a.height, QImage::Format_RGB32);
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x)
      out.setPixel(x, y, static_cast<QRgb>(XGetPixel(image, x, y)) | 0xFF000000u);
  XDestroyImage(image);
  return out;
}

QColor Display::Pixel(Window w, int x, int y) {
  XImage* image = XGetImage(d_, w, x, y, 1, 1, AllPlanes, ZPixmap);
  if (!image) return {};
  const QColor c = QColor::fromRgb(static_cast<QRgb>(XGetPixel(image, 0, 0)));
  XDestroyImage(image);
  return c;
}

unsigned Display::Lamps() {
  unsigned state = 0;
  XkbGetIndicatorState(d_, XkbUseCoreKbd, &state);
  return state & 7u;
}

}  // namespace glimmerix::e2e
