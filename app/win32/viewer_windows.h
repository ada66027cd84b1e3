// The three document viewers of the tray menu's "About", "Settings" and "History" on Windows: a
// top-level window each (no owner, title bar without boxes, the layouts' inner size, centred on
// the primary screen) with the system's rich-edit control showing the RTF document read-only,
// wrapping at its own width, and an "OK" button. "OK", Escape and a close request close that
// viewer alone. The document is read from the program's folder each time the viewer opens, no
// more than kMaxDocumentBytes of it; a missing file or one that is not a regular file gives an
// empty area. Opening a viewer that is open replaces it with a fresh one (re-read, centred, in
// front).
//
// Threads: the main thread (the one running the message loop) only. Ownership: ViewerWindows
// owns the viewer windows and destroys any still open when it is destroyed.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <functional>
#include <string>

#include "app/viewers/viewer_layouts.h"
#include "program/front_end.h"

namespace glimmerix::win32 {

// The viewers' window class: tools find a viewer by it and its title.
inline constexpr const wchar_t* kViewerWindowClass = L"GlimmerixViewer";
// The most of a document file that is read.
inline constexpr std::size_t kMaxDocumentBytes = std::size_t{64} << 20;

class ViewerWindows {
 public:
  // program_folder: where the documents are. moved: called when the user moved a viewer.
  ViewerWindows(HINSTANCE instance, std::wstring program_folder, HICON icon,
                std::function<void()> moved);
  ~ViewerWindows();
  ViewerWindows(const ViewerWindows&) = delete;
  ViewerWindows& operator=(const ViewerWindows&) = delete;

  // Opens the document's viewer; a value outside Document does nothing.
  void Open(Document document);
  // Closes the document's viewer; nothing when it is not open.
  void Close(Document document);
  // The open viewer's window; nullptr when it is not open.
  HWND Window(Document document) const;

  // The message loop's keyboard handling for the viewers (Escape closes, Tab and Return as in a
  // dialog); true when the message was taken.
  bool TakeMessage(MSG& message);

 private:
  struct Viewer {
    HWND window = nullptr;
    HWND area = nullptr;
    HWND ok = nullptr;
    bool placed = false;   // moves before this are the program's own
    UINT dpi = 96;         // of the screen the viewer is on; its controls are placed for it
    HFONT font = nullptr;  // the "OK" button's, made for dpi
  };
  static LRESULT CALLBACK ViewerProc(HWND window, UINT message, WPARAM w, LPARAM l);
  int IndexOf(HWND window) const;
  // Gives the viewer's controls their places and font at dpi.
  static void LayOut(Viewer& viewer, const ViewerLayout& layout, UINT dpi);

  HINSTANCE instance_;
  std::wstring program_folder_;
  HICON icon_;
  std::function<void()> moved_;
  bool rich_edit_loaded_ = false;
  std::array<Viewer, 3> viewers_{};
};

// The document file's bytes, at most max_bytes; empty when it is missing, unreadable or not a
// regular file.
std::string ReadDocumentFile(const std::wstring& path, std::size_t max_bytes);

}  // namespace glimmerix::win32
