// The replay tool's files as plain descriptors, byte for byte on every platform (no text-mode
// translation of line ends on Windows), not inherited by child processes. Each platform has its
// own file (raw_files_posix.cpp, raw_files_windows.cpp).
#pragma once

#include <string>

namespace glimmerix {

// A descriptor for reading path, or -1 with errno set.
int OpenRawForReading(const std::string& path);
// A descriptor for writing path, created or emptied, or -1 with errno set.
int CreateRawForWriting(const std::string& path);

// Prepares descriptors 0-2 before any other file is opened: each carries bytes unchanged, and one
// that was closed at start stays unusable (reading or writing it fails) instead of being taken by
// the next file opened.
void PrepareStandardDescriptors();

}  // namespace glimmerix
