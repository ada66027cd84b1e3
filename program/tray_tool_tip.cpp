#include "program/tray_tool_tip.h"

namespace glimmerix {
namespace {

std::string_view Trimmed(std::string_view s) {
  constexpr std::string_view kSpace = " \t\r\n";
  const auto first = s.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kSpace) - first + 1);
}

std::string_view ModeName(int mode) {
  switch (mode) {
    case 1:
      return "Manual";
    case 2:
      return "Auto";
    case 3:
      return "Rnd";
    default:
      return {};
  }
}

}  // namespace

std::string TrayToolTip(const TrayState& state) {
  std::string tip = "Glimmerix";
  const auto add = [&tip](std::string_view label, std::string_view part) {
    part = Trimmed(part);
    if (part.empty()) return;
    tip += " - ";
    tip += label;
    tip += part;
  };
  add({}, ModeName(state.mode));
  add({}, state.controller_status);
  add({}, state.controller_problem);
  // The port's reason names only its node: say which output it is.
  add("parallel port: ", state.port_problem);
  add({}, state.sound_problem);
  return tip;
}

}  // namespace glimmerix
