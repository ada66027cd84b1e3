// The program on a desktop with a window manager, as users run it: where the window stands over
// start/close cycles, and what reaches the controller when the user acts on the window.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "gtest/gtest.h"
#include "tests/support/program_run.h"

extern char** environ;

namespace glimmerix::e2e {
namespace {

using namespace std::chrono_literals;

// Openbox for the tests of this file, started only when no window manager runs yet.
class WindowManager {
 public:
  WindowManager() {
    if (Shell("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'") == 0)
      return;
    char* argv[] = {const_cast<char*>("openbox"), nullptr};
    if (posix_spawnp(&pid_, "openbox", nullptr, nullptr, argv, environ) != 0) pid_ = -1;
    WaitFor(
        [] {
          return Shell("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'") ==
                 0;
        },
        5s);
  }
  ~WindowManager() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

class Desktop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (std::getenv("GLIMMERIX_TEST_SERVICES") != nullptr) wm_ = new WindowManager;
  }
  static void TearDownTestSuite() {
    delete wm_;
    wm_ = nullptr;
  }
  void SetUp() override {
    if (std::getenv("GLIMMERIX_TEST_SERVICES") == nullptr)
      GTEST_SKIP() << "needs scripts/with-test-services (display, tray host, sound server)";
    ASSERT_TRUE(x.ok());
  }

  static void Settings(ProgramRun& run, std::vector<std::string> lines) {
    lines.push_back("PID = " + std::to_string(kPid));
    lines.push_back("VID = " + std::to_string(kVid));
    run.Write("setting.dat", lines);
  }

  // Starts the run and shows its window through the tray icon; the window, 0 if none showed.
  Window StartAndShow(ProgramRun& run) {
    // The windows of an earlier run go with its connection, a moment after it ended.
    WaitFor(
        [&] {
          for (Window w : x.ProgramWindows())
            if (x.Viewable(w)) return false;
          return true;
        },
        5s);
    run.Start();
    const Window icon = x.WaitForTrayIcon();
    if (icon == 0) return 0;
    Shell("xdotool mousemove --window " + std::to_string(icon) + " 11 15 click 1");
    Window w = 0;
    WaitFor([&] { return (w = MainWindow()) != 0; }, 5s);
    return w;
  }

  // The main window, when mapped. Under a window manager it is reparented like the tray icon,
  // so it is told apart by its height.
  Window MainWindow() {
    for (Window w : x.ProgramWindows())
      if (x.Title(w) == "Glimmerix" && x.Viewable(w) && x.Geometry(w).height() == 243) return w;
    return 0;
  }

  // The tray icon of the program whose main window is w (framed, w looks like one too).
  Window TrayIcon(Window w) {
    for (Window t : x.TrayIcons())
      if (t != w) return t;
    return 0;
  }

  // Waits for the frame to settle where the window manager put it.
  QPoint SettledFrame(Window w) {
    QPoint last = x.Frame(w).topLeft();
    for (int i = 0; i < 10; ++i) {
      std::this_thread::sleep_for(100ms);
      const QPoint now = x.Frame(w).topLeft();
      if (now == last && i >= 2) break;
      last = now;
    }
    return last;
  }

  void Close(ProgramRun& run, Window w) {
    EXPECT_EQ(Shell(std::string(GLIMMERIX_CLOSE_REQUEST) + " " + std::to_string(w)), 0);
    ASSERT_EQ(run.WaitExit(10s), 0) << run.Read("program.log");
  }

  void Click(Window w, int x_in, int y_in) {
    Shell("xdotool mousemove --window " + std::to_string(w) + " " + std::to_string(x_in) + " " +
          std::to_string(y_in) + " click 1");
  }

  static inline WindowManager* wm_ = nullptr;
  Display x;
};

TEST_F(Desktop, TheFrameStaysAtTheSavedCornerOverThreeStartCloseCycles) {
  std::string settings;
  for (int cycle = 1; cycle <= 3; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    ProgramRun run;
    if (cycle == 1)
      Settings(run, {"X_form = 100", "Y_form = 120"});
    else
      std::ofstream(run.folder / "setting.dat", std::ios::binary) << settings;
    const Window w = StartAndShow(run);
    ASSERT_NE(w, 0u) << run.Read("program.log");
    EXPECT_EQ(SettledFrame(w), QPoint(100, 120));
    Close(run, w);
    EXPECT_EQ(run.Value("setting.dat", "X_form"), "100");
    EXPECT_EQ(run.Value("setting.dat", "Y_form"), "120");
    settings = run.Read("setting.dat");
  }
}

TEST_F(Desktop, WithoutAPositionAtTheTopLeftAndAStrayOneBroughtBackOnScreen) {
  {
    ProgramRun run;
    Settings(run, {});
    const Window w = StartAndShow(run);
    ASSERT_NE(w, 0u) << run.Read("program.log");
    EXPECT_EQ(SettledFrame(w), QPoint(0, 0));
    Close(run, w);
  }
  // Saved on a wider screen than the 1280 x 1024 one of the tests.
  ProgramRun run;
  Settings(run, {"X_form = 3000", "Y_form = 300"});
  const Window w = StartAndShow(run);
  ASSERT_NE(w, 0u) << run.Read("program.log");
  const QPoint frame = SettledFrame(w);
  const QRect client = x.Geometry(w);
  EXPECT_EQ(frame.y(), 300);
  EXPECT_GE(frame.x(), 0);
  EXPECT_LE(client.right(), 1279) << "the whole window is back on the screen";

  // Moved off the screen while it runs (openbox leaves a corner of it on the screen), hidden,
  // shown again from the tray: back again.
  Shell("xdotool windowmove " + std::to_string(w) + " 2000 500");
  ASSERT_TRUE(WaitFor([&] { return x.Frame(w).topLeft().x() > 1280 - 40; }, 3s));
  const Window icon = TrayIcon(w);
  ASSERT_NE(icon, 0u);
  PickFromTrayMenu(icon, "Down Down Return");  // "Hide"
  ASSERT_TRUE(WaitFor([&] { return !x.Viewable(w); }, 3s));
  Shell("xdotool mousemove --window " + std::to_string(icon) + " 11 15 click 1");
  ASSERT_TRUE(WaitFor([&] { return x.Viewable(w); }, 3s));
  const QPoint back = SettledFrame(w);
  EXPECT_LE(back.x() + 182, 1280);
  EXPECT_EQ(back.y(), 500);
  Close(run, w);
}

// The controller's command bytes from the report with index `from` on.
std::vector<int> CommandsFrom(const ProgramRun& run, std::size_t from) {
  const auto reports = run.Reports();
  std::vector<int> commands;
  for (std::size_t i = 2 * from + 1; i < reports.size(); i += 2) commands.push_back(reports[i]);
  return commands;
}

bool Contains(const std::vector<int>& commands, const std::vector<int>& run_of_bytes) {
  return std::search(commands.begin(), commands.end(), run_of_bytes.begin(), run_of_bytes.end()) !=
         commands.end();
}

TEST_F(Desktop, BrightAndStepReachTheControllerAfterAPresetChangeAndAClickAtTheBarsEnd) {
  ProgramRun run;
  run.Write("A.patt", {"Effect = 1", "Bright = 9", "Step = 100", "Level = 35", "ARU = 1"});
  run.Write("B.patt", {"Effect = 1", "Bright = 15", "Step = 200", "Level = 35", "ARU = 1"});
  Settings(run, {"X_form = 100", "Y_form = 120", "Preset = A"});
  const Window w = StartAndShow(run);
  ASSERT_NE(w, 0u) << run.Read("program.log");
  std::this_thread::sleep_for(300ms);

  // "<>" shows the preset list; its drop-down, the next entry.
  Click(w, 163, 235);
  std::this_thread::sleep_for(300ms);
  std::size_t mark = run.Reports().size() / 2;
  Click(w, 240, 199);
  std::this_thread::sleep_for(400ms);
  Shell("xdotool key Down Return");
  EXPECT_TRUE(WaitFor(
      [&] {
        return Contains(CommandsFrom(run, mark), {0xC0 + 15, 0xD0 + (200 & 15), 0xE0 + 12});
      },
      3s))
      << "Bright 15 and Step 200 of preset B";

  // Bright stands at its end (15): a click on its right arrow changes nothing but sends.
  std::this_thread::sleep_for(200ms);
  mark = run.Reports().size() / 2;
  Click(w, 10 + 80 - 4, 210 + 8);
  EXPECT_TRUE(WaitFor(
      [&] {
        return Contains(CommandsFrom(run, mark), {0xC0 + 15, 0xD0 + (200 & 15), 0xE0 + 12});
      },
      3s))
      << "Bright and Step after the arrow click";
  Close(run, w);
  EXPECT_EQ(run.Value("setting.dat", "Preset"), "B");
}

TEST_F(Desktop, TheControllerDialogChoosesTheDeviceOrdersTheOutputsAndRunsTheLightTest) {
  ProgramRun run;
  // No controller chosen yet and every output on "No", as after a first start.
  std::vector<std::string> s = {"X_form = 100", "Y_form = 120", "PID = 0", "VID = 0"};
  for (int n = 1; n <= 18; ++n) s.push_back("OUT" + std::to_string(n) + " = 0");
  s.push_back("LPT_LED = 1");
  run.Write("setting.dat", s);
  const Window w = StartAndShow(run);
  ASSERT_NE(w, 0u) << run.Read("program.log");
  const Window icon = TrayIcon(w);
  ASSERT_NE(icon, 0u);
  PickFromTrayMenu(icon, "Down Down Down Down Return");  // "Controller..."
  Window dialog = 0;
  ASSERT_TRUE(WaitFor(
      [&] {
        for (Window c : x.ProgramWindows())
          if (x.Title(c) == "Controller" && x.Viewable(c)) dialog = c;
        return dialog != 0;
      },
      5s));
  Shell("xdotool windowactivate --sync " + std::to_string(dialog) + " 2>/dev/null");
  std::this_thread::sleep_for(300ms);

  // The fake controller is the only device, listed first and picked: "Use this controller".
  Shell("xdotool key alt+u");
  EXPECT_TRUE(WaitFor([&] { return run.Value("setting.dat", "VID") == std::to_string(kVid); }, 3s));
  EXPECT_EQ(run.Value("setting.dat", "PID"), std::to_string(kPid));
  ASSERT_TRUE(WaitFor([&] { return run.Reports().size() >= 12; }, 3s)) << "the controller opened";
  if (const char* shots = std::getenv("GLIMMERIX_TEST_SHOTS"))
    Shell("import -window " + std::to_string(dialog) + " '" + shots + "/controller-dialog.png'");

  // "Outputs 1 to 18 in order", then "Light test": output n lights with channel n alone, then
  // all, then none, and no pass of the engine comes between.
  Shell("xdotool key alt+o");
  std::this_thread::sleep_for(200ms);
  const std::size_t mark = run.Reports().size() / 2;
  const std::size_t lpt_mark = run.LptWrites().size();
  Shell("xdotool key alt+l");
  const std::vector<int> alone = {0x81, 0x82, 0x84, 0x88, 0x90, 0xA0, 0x60, 0x48, 0x42,
                                  0x41, 0x50, 0x44, 0x20, 0x10, 0x08, 0x04, 0x01, 0x02};
  std::vector<int> expected;
  for (int i = 0; i < 18; ++i) {
    const int group = i < 6 ? 2 : i < 12 ? 1 : 0;
    for (int g : {0, 1, 2}) expected.push_back(g == group ? alone[i] : 0x40 * g);
  }
  for (int c : {0x3F, 0x7F, 0xBF, 0x00, 0x40, 0x80}) expected.push_back(c);
  EXPECT_TRUE(WaitFor([&] { return Contains(CommandsFrom(run, mark), expected); }, 10s));
  // Afterwards the engine sends again, Bright and Step first among its settings.
  EXPECT_TRUE(WaitFor(
      [&] {
        const auto after = CommandsFrom(run, mark);
        const auto end = std::search(after.begin(), after.end(), expected.begin(), expected.end());
        return end != after.end() &&
               std::find_if(end + static_cast<long>(expected.size()), after.end(),
                            [](int c) { return (c & 0xF0) == 0xC0; }) != after.end();
      },
      2s));
  // The parallel port: channel 4 on data bit 0, everything on, then off.
  const auto lpt = run.LptWrites();
  const std::vector<std::pair<int, int>> lpt_after(lpt.begin() + static_cast<long>(lpt_mark),
                                                   lpt.end());
  const std::vector<std::pair<int, int>> ch4 = {{0x378, 0x01}, {0x37A, 0x0B}};
  const std::vector<std::pair<int, int>> all = {{0x378, 0xFF}, {0x37A, 0x04}};
  EXPECT_NE(std::search(lpt_after.begin(), lpt_after.end(), ch4.begin(), ch4.end()),
            lpt_after.end());
  EXPECT_NE(std::search(lpt_after.begin(), lpt_after.end(), all.begin(), all.end()),
            lpt_after.end());

  Close(run, w);
  EXPECT_EQ(run.Value("setting.dat", "OUT1"), "1");
  EXPECT_EQ(run.Value("setting.dat", "OUT18"), "18");
  EXPECT_EQ(run.Value("setting.dat", "VID"), std::to_string(kVid));
}

}  // namespace
}  // namespace glimmerix::e2e
