// How long a document viewer takes to open a hostile or huge file, how long the GUI thread stalls
// meanwhile, and how much memory the open costs.
//
//   glimmerix-document-open-bench [CASE...]
//
// Cases: word8 (an RTF file holding one 8 MB word), binary30 (30 MB of random bytes), text64
// (64 MB of plain text lines), line64 (64 MB of plain text in one line), rtf64 (64 MB of RTF
// paragraphs), picture64 (63 MB of picture data followed by a line of text), groups64 and
// controls64 (63 MB of empty groups or of unknown control words, then a line of text), and 8 MB
// RTF files of one character repeated: bigfont8 (letters at 1638 pt), marks8 (combining marks on
// one letter), lines8 (line breaks), tabs8 (tabs). Without arguments every case runs, each in a
// process of its own, so one case's heap does not lend memory to the next.
//
// Per case it prints: the time from the menu command to the viewer shown and painted, the longest
// stall of a 10 ms timer on the GUI thread over the following 2 s (the lazy rest of the layout
// included), and the peak resident memory above what the process held before the open.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "app/viewers/document_viewers.h"

namespace {

// A field of /proc/self/status in kB ("VmRSS", "VmHWM").
long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line)) {
    if (line.starts_with(prefix)) return std::stol(line.substr(prefix.size()));
  }
  return -1;
}

void ResetPeakRss() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

// head, then unit repeated to fill `megabytes` MiB, then tail.
void WriteRepeated(QFile& file, const QByteArray& head, const QByteArray& unit, int megabytes,
                   const QByteArray& tail) {
  QByteArray chunk;
  while (chunk.size() < (1 << 20)) chunk += unit;
  file.write(head);
  for (int i = 0; i < megabytes; ++i) file.write(chunk);
  file.write(tail);
}

bool WriteCase(const QString& name, const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  const QByteArray sentence = "The quick brown fox jumps over the lazy dog near the river bank.";
  if (name == "word8") {
    WriteRepeated(file, "{\\rtf1\\ansi ", "a", 8, "}");
  } else if (name == "bigfont8") {
    WriteRepeated(file, "{\\rtf1\\ansi\\fs3276 ", "a", 8, "}");
  } else if (name == "marks8" || name == "lines8" || name == "tabs8") {
    const QByteArray unit = name == "marks8" ? "\\u769?" : name == "lines8" ? "\\line " : "\\tab ";
    WriteRepeated(file, "{\\rtf1\\ansi a", unit, 8, "}");
  } else if (name == "binary30") {
    std::mt19937 random(1);
    QByteArray chunk(1 << 20, '\0');
    for (int i = 0; i < 30; ++i) {
      for (char& c : chunk) c = static_cast<char>(random());
      file.write(chunk);
    }
  } else if (name == "text64" || name == "line64") {
    WriteRepeated(file, "", sentence + (name == "text64" ? "\n" : " "), 64, "");
  } else if (name == "rtf64") {
    WriteRepeated(file, "{\\rtf1\\ansi{\\fonttbl{\\f0 DejaVu Sans;}}\\f0\\fs20 ",
                  "\\pard\\li360\\fi-240 The {\\b quick} brown fox jumps over the lazy dog.\\par\n",
                  64, "}");
  } else if (name == "picture64") {
    WriteRepeated(file, "{\\rtf1\\ansi {\\pict\\pngblip ", "0", 63,
                  "} Text after the picture.\\par}");
  } else if (name == "groups64" || name == "controls64") {
    WriteRepeated(file, "{\\rtf1\\ansi ", name == "groups64" ? "{}" : "\\xyz ", 63, "Text after.}");
  } else {
    return false;
  }
  return true;
}

int RunCase(const QString& name) {
  QTemporaryDir dir;
  if (!dir.isValid() || !QDir::setCurrent(dir.path())) return 1;
  if (!WriteCase(name, "history.rtf")) {
    std::fprintf(stderr, "unknown case %s\n", qPrintable(name));
    return 2;
  }
  glimmerix::DocumentViewers viewers;
  QCoreApplication::processEvents();
  const long rss_before = StatusKb("VmRSS");
  ResetPeakRss();

  QElapsedTimer clock;
  clock.start();
  viewers.Open(glimmerix::Document::kHistory);
  QWidget* window = viewers.Window(glimmerix::Document::kHistory);
  QCoreApplication::processEvents();
  if (window != nullptr) window->grab();  // painted, as the user sees it
  const qint64 shown_ms = clock.elapsed();

  // The longest gap between two ticks of a 10 ms timer: the GUI thread's worst stall while the
  // rest of the document is laid out.
  qint64 longest_stall_ms = 0;
  QElapsedTimer tick;
  tick.start();
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout,
                   [&] { longest_stall_ms = std::max(longest_stall_ms, tick.restart()); });
  ticker.start(10);
  QTimer::singleShot(2000, qApp, &QCoreApplication::quit);
  QCoreApplication::exec();
  const long peak = StatusKb("VmHWM");
  const QTextBrowser* area = viewers.DocumentArea(glimmerix::Document::kHistory);
  std::printf(
      "%-10s shown after %6lld ms, longest GUI stall %6lld ms, "
      "peak memory +%5ld MB, %lld characters shown\n",
      qPrintable(name), static_cast<long long>(shown_ms),
      static_cast<long long>(std::max(longest_stall_ms, shown_ms)), (peak - rss_before) / 1024,
      area != nullptr ? static_cast<long long>(area->document()->characterCount()) : -1LL);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QStringList cases = app.arguments().mid(1);
  if (cases.size() == 1) return RunCase(cases.front());
  if (cases.isEmpty()) {
    cases = {"word8",    "binary30",   "text64",   "line64", "rtf64",  "picture64",
             "groups64", "controls64", "bigfont8", "marks8", "lines8", "tabs8"};
  }
  int status = 0;
  for (const QString& name : cases) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {name});
    child.waitForFinished(-1);
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) status = 1;
  }
  return status;
}
