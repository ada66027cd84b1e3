// A front-end that shows nothing: it keeps the text of the "File missing!" box and counts the
// dialogs the core opened and the quits, for tests of the core that look elsewhere (the devices,
// the files).
#pragma once

#include <string>
#include <vector>

#include "program/front_end.h"

namespace glimmerix::testing {

class QuietFrontEnd : public FrontEnd {
 public:
  void CreateWindowAndTray(int, int) override {}
  void ShowFileMissing(const std::string& text) override { file_missing = text; }
  void StartTimer(int) override {}
  bool HasDesktop() const override { return false; }
  bool TrayIconShows() const override { return false; }
  void ShowMainWindow() override {}
  void HideMainWindow() override {}
  void ToggleMainWindowWidth() override {}
  void ShowMode(int) override {}
  void OpenViewer(Document) override {}
  void OpenControllerDialog() override {}
  void OpenDmxDialog() override { ++dmx_dialogs; }
  void SetTrayToolTip(const std::string&) override {}
  void ShowInputChoices(const std::vector<InputMenuEntry>&) override {}
  void Quit() override { ++quits; }

  std::string file_missing;
  int dmx_dialogs = 0;
  int quits = 0;
};

}  // namespace glimmerix::testing
