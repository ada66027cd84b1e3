// The file-system side of the settings store and the preset list, one file per platform
// (posix_files.cpp, windows_files.cpp; CMake picks one). Paths and names are bytes: on Windows
// in the system's ANSI code page, as the program's folder names them. Internal to settings/ and
// presets/.
//
// Threads: any thread; nothing here keeps state but the record of what SayOnce already said.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace glimmerix::files {

// True when name names a file directly in a folder: not empty, no NUL, no path separator of the
// platform ("/"; on Windows also "\" and the drive's ":").
bool IsPlainFileName(std::string_view name);

// folder + separator + name; name alone for an empty folder (the current one).
std::string PathIn(const std::string& folder, const std::string& name);

enum class ReadResult { kRead, kMissing, kUnreadable };
// Reads a whole regular file into bytes. kMissing when nothing has the name; kUnreadable when it
// cannot be opened or read, is no regular file, or holds more than max_bytes.
ReadResult ReadWholeFile(const std::string& path, std::size_t max_bytes, std::string& bytes);

// The file a save of path writes: path itself, or where the symbolic links that stand at path
// lead. False when the save must not happen (a link of another user's on the way).
bool ResolveSaveTarget(const std::string& path, std::string& target);

// Replaces target's content with bytes atomically: a temporary file in the same folder, flushed
// to disk, moved over target. target is left as it was when it is read-only, no regular file or
// when any step fails. False when nothing was replaced.
bool ReplaceFileContents(const std::string& target, std::string_view bytes);

// The names in folder (empty: the current one), "." and ".." left out, in no set order; empty
// when it cannot be listed.
std::vector<std::string> FolderEntryNames(const std::string& folder);

// The temporary file of a save: ".glimmerix-PROCESS-COUNTER-STAMP.tmp" (hidden on Linux and
// ending in ".tmp", so never taken for a pattern file).
std::string SaveFileName(std::uint64_t process, unsigned counter, std::uint64_t stamp);
// The process id in a save's temporary name; 0 when the name is not one.
std::uint64_t SaveFileProcess(std::string_view name);

// Says text on stderr ("Glimmerix: text"), once per process.
void SayOnce(const std::string& text);

}  // namespace glimmerix::files
