// Stream buffers over a file descriptor that tell a failed read or write apart from the end of
// the input. std::cin and std::cout read a failed read() as the end of the input and keep the
// reason of a failed write() to themselves; these keep the error number of the first failure.
//
// A failed read makes underflow() throw, so the reading istream sets badbit (not only eofbit) and
// a caller tells "ended" from "failed" by bad(). A failed write makes the ostream bad, and every
// later write fails without calling write() again.
//
// Threads: one stream buffer is used by one thread at a time. Neither class closes its descriptor
// unless it opened it (FdInBuf::Open).
#pragma once

#include <array>
#include <streambuf>
#include <string>

namespace glimmerix {

// What an FdInBuf and an FdOutBuf share: the name used in messages and the first failure.
class FdBufBase {
 public:
  explicit FdBufBase(std::string name) : name_(std::move(name)) {}
  virtual ~FdBufBase() = default;
  // "standard input", a path, ...
  const std::string& name() const { return name_; }
  // errno of the first failed read or write; 0 while none failed.
  int error() const { return error_; }

 protected:
  std::string name_;
  int error_ = 0;
};

class FdInBuf : public std::streambuf, public FdBufBase {
 public:
  // Reads from fd (not closed by this object).
  FdInBuf(int fd, std::string name) : FdBufBase(std::move(name)), fd_(fd) {}
  // Reads the file at path (closed with this object); on failure returns false with error() set.
  explicit FdInBuf(const std::string& path);
  ~FdInBuf() override;
  FdInBuf(const FdInBuf&) = delete;
  FdInBuf& operator=(const FdInBuf&) = delete;

 protected:
  int_type underflow() override;

 private:
  int fd_ = -1;
  bool owned_ = false;
  std::array<char, 1 << 16> buffer_;
};

class FdOutBuf : public std::streambuf, public FdBufBase {
 public:
  // Writes to fd (not closed by this object); unwritten bytes are lost if nobody flushes.
  FdOutBuf(int fd, std::string name);
  FdOutBuf(const FdOutBuf&) = delete;
  FdOutBuf& operator=(const FdOutBuf&) = delete;

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  // Writes the buffered bytes; false (error() set) when write() fails.
  bool Drain();
  int fd_;
  std::array<char, 1 << 16> buffer_;
};

// What failed and why, for a message: "NAME: REASON" from the stream's FdInBuf/FdOutBuf, else
// "fallback_name: i/o error".
std::string StreamFailure(const std::ios& stream, const std::string& fallback_name);

}  // namespace glimmerix
