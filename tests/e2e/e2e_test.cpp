// The whole program, for real: start-up, tray, window, sound in and light out, the ways out.
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "gtest/gtest.h"
#include "tests/support/program_run.h"

namespace glimmerix::e2e {
namespace {

using namespace std::chrono_literals;

constexpr int kX = 100, kY = 120;  // where setting.dat puts the window
constexpr QColor kLampOn(255, 0, 0);
constexpr QColor kLampOff(187, 187, 187);

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("GLIMMERIX_TEST_SERVICES") == nullptr)
      GTEST_SKIP() << "needs scripts/with-test-services (display, tray host, sound server)";
    ASSERT_TRUE(x.ok());
  }

  // A preset in Manual mode whose thresholds let a full-scale 1 kHz tone light channel 11 alone,
  // with controller output PD0 ("OUT1") following channel 11.
  static void ManualSetup(ProgramRun& run, bool with_position = true, int key_led = 0) {
    run.Write("Test.patt", {"Effect = 1", "Bright = 9", "Step = 100", "Level = 35", "ARU = 1"});
    std::vector<std::string> s;
    if (with_position) {
      s.push_back("X_form = " + std::to_string(kX));
      s.push_back("Y_form = " + std::to_string(kY));
    }
    s.push_back("PID = " + std::to_string(kPid));
    s.push_back("VID = " + std::to_string(kVid));
    s.push_back("Preset = Test");
    if (with_position) {
      for (int n = 1; n <= 18; ++n) s.push_back("fr" + std::to_string(n) + " = 20");
      s.push_back("KEY_LED = " + std::to_string(key_led));
      s.push_back("OUT1 = 11");
      for (int n = 2; n <= 18; ++n) s.push_back("OUT" + std::to_string(n) + " = 0");
      s.push_back("LPT_LED = 1");
    }
    run.Write("setting.dat", s);
  }

  Window WaitTray() { return x.WaitForTrayIcon(); }

  Window ShowMainWindow(Window icon) {
    Shell("xdotool mousemove --window " + std::to_string(icon) + " 11 15 click 1");
    Window w = 0;
    WaitFor([&] { return (w = x.MappedWindow("Glimmerix")) != 0; }, 5s);
    return w;
  }

  // A run set up by ManualSetup without the window position and bars, started; its tray icon.
  Window StartWithoutPosition(ProgramRun& run) {
    ManualSetup(run, /*with_position=*/false);
    run.Start();
    return WaitTray();
  }

  // The lamp of spectrum column i (inner coordinates of window 0).
  QColor Lamp(Window w, int column) { return x.Pixel(w, 10 + 9 * column + 4, 5 + 8); }

  static std::vector<std::string> CloseKeys(bool with_position) {
    std::vector<std::string> k;
    for (int n = 1; n <= 18; ++n) k.push_back("fr" + std::to_string(n));
    k.push_back("KEY_LED");
    for (int n = 1; n <= 18; ++n) k.push_back("OUT" + std::to_string(n));
    k.push_back("LPT_LED");
    if (with_position) {
      k.push_back("X_form");
      k.push_back("Y_form");
    }
    return k;
  }

  static void ExpectAllOffLast(const ProgramRun& run) { EXPECT_EQ(NotSwitchedOffLast(run), ""); }

  Display x;
};

TEST_F(EndToEnd, StartsInTheTrayThenShowsTheWindowAndLightsChannel11ForA1kHzTone) {
  ProgramRun run;
  ManualSetup(run);
  Shell("sox -n -r 22050 -c 1 -e floating-point -b 32 '" + (run.folder / "tone.wav").string() +
        "' synth 4 sine 1000 gain -n -0.5");
  run.Start();

  const Window icon = WaitTray();
  ASSERT_NE(icon, 0u) << run.Read("program.log");
  EXPECT_EQ(x.TrayIcons().size(), 1u);
  EXPECT_EQ(x.MappedWindow("Glimmerix"), 0u) << "the window starts hidden";

  // The tool tip shows on hovering the icon.
  Shell("xdotool mousemove --window " + std::to_string(icon) + " 11 15");
  const Window tip = x.WaitForToolTip(4s);
  EXPECT_NE(tip, 0u);
  SaveScreenshot("tray-tool-tip");

  const Window window = ShowMainWindow(icon);
  ASSERT_NE(window, 0u);
  // The saved position is the frame's outer corner (the window manager's title bar and border
  // included).
  EXPECT_EQ(x.Frame(window).topLeft(), QPoint(kX, kY));
  EXPECT_EQ(x.Geometry(window).size(), QSize(180, 243));
  const QPoint client = x.Geometry(window).topLeft();

  // Silence: every column drawn, lamps off.
  ASSERT_TRUE(WaitFor([&] { return Lamp(window, 0) == kLampOff; }, 3s));
  for (int c = 0; c < 18; ++c) EXPECT_EQ(Lamp(window, c), kLampOff) << "column " << c;
  const std::size_t reports_before_tone = run.Reports().size();

  Shell("paplay '" + (run.folder / "tone.wav").string() + "' &");
  ASSERT_TRUE(WaitFor([&] { return Lamp(window, 10) == kLampOn; }, 4s)) << "channel 11's lamp";
  for (int c : {0, 3, 6, 8, 13, 15, 17}) EXPECT_EQ(Lamp(window, c), kLampOff) << "column " << c;
  Shell("import -window root '" + (run.folder / "shot.png").string() + "'");
  SaveScreenshot("main-window");
  const QImage shot((run.folder / "shot.png").c_str());
  ASSERT_FALSE(shot.isNull());
  EXPECT_EQ(shot.pixelColor(client.x() + 10 + 9 * 10 + 4, client.y() + 13), kLampOn);
  EXPECT_EQ(shot.pixelColor(client.x() + 10 + 4, client.y() + 13), kLampOff);

  // The controller: report number 0 always; the first pass sends the three port reports, then
  // Bright 9 and Step 100 (low, high half); every later pass the three port reports.
  std::this_thread::sleep_for(300ms);
  const auto reports = run.Reports();
  ASSERT_GE(reports.size(), 12u);
  ASSERT_EQ(reports.size() % 2, 0u);
  std::vector<int> commands;
  for (std::size_t i = 0; i < reports.size(); i += 2) {
    EXPECT_EQ(reports[i], 0) << "report " << i / 2;
    commands.push_back(reports[i + 1]);
  }
  EXPECT_EQ(std::vector<int>(commands.begin(), commands.begin() + 6),
            (std::vector<int>{0x00, 0x40, 0x80, 0xC0 + 9, 0xD0 + (100 & 15), 0xE0 + (100 >> 4)}));
  for (std::size_t i = 6; i < commands.size(); ++i)
    ASSERT_EQ(commands[i] & 0xC0, (std::vector<int>{0x00, 0x40, 0x80}[(i - 6) % 3]))
        << "report " << i;
  bool d_lit = false;
  for (std::size_t i = reports_before_tone / 2; i < commands.size(); ++i)
    d_lit |= commands[i] == 0x81;  // PD0 follows channel 11
  EXPECT_TRUE(d_lit);
  // The parallel port: channel 11 is data bit 7.
  const auto lpt = run.LptWrites();
  EXPECT_NE(std::find(lpt.begin(), lpt.end(), std::make_pair(0x378, 0x80)), lpt.end());

  // Moving the window saves its frame's outer corner at once; the exit path leaves that position.
  const QPoint before = x.Frame(window).topLeft();
  Shell("xdotool windowmove " + std::to_string(window) + " 300 200");
  QPoint moved;
  ASSERT_TRUE(WaitFor([&] { return (moved = x.Frame(window).topLeft()) != before; }, 3s));
  EXPECT_TRUE(
      WaitFor([&] { return run.Value("setting.dat", "X_form") == std::to_string(moved.x()); }, 3s));
  EXPECT_EQ(run.Value("setting.dat", "Y_form"), std::to_string(moved.y()));
  run.Signal(SIGTERM);
  EXPECT_EQ(run.WaitExit(10s), 0);
  EXPECT_EQ(run.Value("setting.dat", "X_form"), std::to_string(moved.x()));
  EXPECT_EQ(run.Value("setting.dat", "Y_form"), std::to_string(moved.y()));
}

TEST_F(EndToEnd, ACloseRequestForAViewerClosesThatViewerAndTheProgramRunsOn) {
  ProgramRun run;
  const Window icon = StartWithoutPosition(run);
  ASSERT_NE(icon, 0u);
  PickFromTrayMenu(icon, "Down Down Down Down Down Down Down Return");  // "About"
  Window viewer = 0;
  ASSERT_TRUE(WaitFor([&] { return (viewer = x.MappedWindow("Developers")) != 0; }, 5s));
  EXPECT_EQ(x.Geometry(viewer).size(), QSize(500, 400));
  EXPECT_EQ(Shell(std::string(GLIMMERIX_CLOSE_REQUEST) + " " + std::to_string(viewer)), 0);
  EXPECT_TRUE(WaitFor([&] { return x.MappedWindow("Developers") == 0; }, 5s));
  EXPECT_FALSE(run.WaitExit(1s).has_value()) << "a viewer's close request ended the program";
  EXPECT_EQ(run.Value("setting.dat", "X_form"), "<missing>") << "the close path ran";
  // The main window's close request keeps the program's close path.
  const Window window = x.AnyWindow("Glimmerix");
  ASSERT_NE(window, 0u);
  EXPECT_EQ(Shell(std::string(GLIMMERIX_CLOSE_REQUEST) + " " + std::to_string(window)), 0);
  ASSERT_EQ(run.WaitExit(10s), 0);
  EXPECT_EQ(run.Value("setting.dat", "X_form"), "0");
  ExpectAllOffLast(run);
}

TEST_F(EndToEnd, ACloseRequestSavesInOrderWritesThePresetAndSwitchesEverythingOffLast) {
  ProgramRun run;
  ASSERT_NE(StartWithoutPosition(run), 0u) << run.Read("program.log");
  const Window window = x.AnyWindow("Glimmerix");
  ASSERT_NE(window, 0u);
  std::this_thread::sleep_for(300ms);  // a few passes

  EXPECT_EQ(Shell(std::string(GLIMMERIX_CLOSE_REQUEST) + " " + std::to_string(window)), 0);
  ASSERT_EQ(run.WaitExit(10s), 0) << run.Read("program.log");

  std::vector<std::string> keys = {"PID", "VID", "Preset"};
  for (const std::string& k : CloseKeys(true)) keys.push_back(k);
  EXPECT_EQ(run.Keys("setting.dat"), keys);
  EXPECT_EQ(run.Value("setting.dat", "Preset"), "Test");
  EXPECT_EQ(run.Value("setting.dat", "fr11"), "0");  // the bars read from a file without "fr"
  EXPECT_EQ(run.Keys("Test.patt"),
            (std::vector<std::string>{"Effect", "Bright", "Step", "Level", "ARU"}));
  EXPECT_EQ(run.Value("Test.patt", "Effect"), "1");
  EXPECT_EQ(run.Value("Test.patt", "Level"), "35");
  ExpectAllOffLast(run);
}

TEST_F(EndToEnd, ASecondStartEndsAtOnceLeavingOneTrayIcon) {
  ProgramRun first;
  ManualSetup(first);
  first.Start();
  ASSERT_NE(WaitTray(), 0u);

  ProgramRun second;
  second.Start();
  EXPECT_EQ(second.WaitExit(3s), 0);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(x.TrayIcons().size(), 1u);
  EXPECT_FALSE(second.Exists("setting.dat"));

  first.Signal(SIGTERM);
  EXPECT_EQ(first.WaitExit(10s), 0);
  // The lock went with the first process: a new start succeeds.
  ProgramRun third;
  third.Start();
  EXPECT_NE(WaitTray(), 0u);
  third.Signal(SIGTERM);
  EXPECT_EQ(third.WaitExit(10s), 0);
}

TEST_F(EndToEnd, WithoutThePluginOnlyTheFileMissingBoxShows) {
  ProgramRun run(/*with_library=*/false);
  run.Start();
  Window box = 0;
  ASSERT_TRUE(WaitFor([&] { return (box = x.MappedWindow("File missing!")) != 0; }, 10s))
      << run.Read("program.log");
  EXPECT_TRUE(x.TrayIcons().empty());
  EXPECT_EQ(x.AnyWindow("Glimmerix"), 0u);
  Focus(box);
  Shell("xdotool key Return");
  EXPECT_EQ(run.WaitExit(5s), 0);
  EXPECT_FALSE(run.Exists("setting.dat"));
  EXPECT_TRUE(x.TrayIcons().empty());

  // SIGTERM while the box shows ends the program just the same.
  ProgramRun again(/*with_library=*/false);
  again.Start();
  ASSERT_TRUE(WaitFor([&] { return x.MappedWindow("File missing!") != 0; }, 10s));
  again.Signal(SIGTERM);
  EXPECT_EQ(again.WaitExit(5s), 0);
  EXPECT_FALSE(again.Exists("setting.dat"));
}

// Which mode button is pressed in: the one whose face differs from the other two.
int ShownMode(Display& x, Window w) {
  const QColor manual = x.Pixel(w, 10 + 4, 190 + 4);
  const QColor rnd = x.Pixel(w, 65 + 4, 190 + 4);
  const QColor automatic = x.Pixel(w, 120 + 4, 190 + 4);
  if (rnd == automatic && manual != rnd) return 1;
  if (manual == rnd && automatic != manual) return 2;
  if (manual == automatic && rnd != manual) return 3;
  return 0;
}

TEST_F(EndToEnd, HeldShiftAltF8StepsManualRndAutoAndTheKeyLampsAreGivenBack) {
  ProgramRun run;
  ManualSetup(run, true, /*key_led=*/1);
  Shell("sox -n -r 22050 -c 1 -e floating-point -b 32 '" + (run.folder / "noise.wav").string() +
        "' synth 5 pinknoise gain -n -3");
  const unsigned lamps_before = x.Lamps();
  run.Start();
  const Window window = ShowMainWindow(WaitTray());
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(WaitFor([&] { return ShownMode(x, window) == 1; }, 3s));

  // "Key" is ticked: with sound the engine drives the lamps.
  Shell("paplay '" + (run.folder / "noise.wav").string() + "' &");
  EXPECT_TRUE(WaitFor([&] { return x.Lamps() != lamps_before; }, 3s));

  Shell("xdotool keydown shift+alt+F8");
  std::vector<int> visited = {1};
  const auto end = std::chrono::steady_clock::now() + 1500ms;
  // A mode counts once three readings 10 ms apart agree: a button being clicked is drawn pressed
  // for a moment, and each mode lasts a whole engine pass (>= 100 ms while F8 is held).
  int candidate = 0, agreeing = 0;
  while (std::chrono::steady_clock::now() < end) {
    const int m = ShownMode(x, window);
    agreeing = m == candidate ? agreeing + 1 : 1;
    candidate = m;
    if (agreeing == 3 && m != 0 && m != visited.back()) visited.push_back(m);
    std::this_thread::sleep_for(10ms);
  }
  Shell("xdotool keyup shift+alt+F8");
  std::string seen;
  for (int m : visited) seen += std::to_string(m);
  SCOPED_TRACE("modes visited: " + seen);
  ASSERT_GE(visited.size(), 4u);
  for (std::size_t i = 1; i < visited.size(); ++i) {
    const int expected = visited[i - 1] == 1 ? 3 : visited[i - 1] == 3 ? 2 : 1;
    EXPECT_EQ(visited[i], expected) << "step " << i;
  }

  run.Signal(SIGTERM);
  ASSERT_EQ(run.WaitExit(10s), 0);
  EXPECT_EQ(x.Lamps(), lamps_before);
}

TEST_F(EndToEnd, TheMenusExitSavesWithoutThePositionAndSettingsOpensTheHelp) {
  ProgramRun run;
  run.Write("help.rtf", {R"({\rtf1\ansi Glimmerix help\par})"});
  const Window icon = StartWithoutPosition(run);
  ASSERT_NE(icon, 0u);

  PickFromTrayMenu(icon, "Down Down Down Down Down Right Return");  // Help > Settings
  EXPECT_TRUE(WaitFor([&] { return x.MappedWindow("Settings") != 0; }, 5s));

  PickFromTrayMenu(icon, "Down Down Down Down Down Down Down Down Return");  // "Exit"
  ASSERT_EQ(run.WaitExit(10s), 0) << run.Read("program.log");
  std::vector<std::string> keys = {"PID", "VID", "Preset"};
  for (const std::string& k : CloseKeys(false)) keys.push_back(k);
  EXPECT_EQ(run.Keys("setting.dat"), keys);
  ExpectAllOffLast(run);
}

TEST_F(EndToEnd, SigtermTakesTheExitPath) {
  ProgramRun run;
  ASSERT_NE(StartWithoutPosition(run), 0u);
  std::this_thread::sleep_for(300ms);
  run.Signal(SIGTERM);
  ASSERT_EQ(run.WaitExit(10s), 0);
  std::vector<std::string> keys = {"PID", "VID", "Preset"};
  for (const std::string& k : CloseKeys(false)) keys.push_back(k);
  EXPECT_EQ(run.Keys("setting.dat"), keys);
  EXPECT_EQ(run.Value("Test.patt", "Effect"), "1");
  ExpectAllOffLast(run);
}

}  // namespace
}  // namespace glimmerix::e2e
