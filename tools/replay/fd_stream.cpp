#include "tools/replay/fd_stream.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ios>
#include <system_error>

#include "tools/replay/raw_files.h"

namespace glimmerix {

FdInBuf::FdInBuf(const std::string& path) : FdBufBase(path), owned_(true) {
  fd_ = OpenRawForReading(path);
  if (fd_ < 0) error_ = errno;
}

FdInBuf::~FdInBuf() {
  if (owned_ && fd_ >= 0) ::close(fd_);
}

FdInBuf::int_type FdInBuf::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  if (error_ != 0) throw std::system_error(error_, std::generic_category(), name_);
  ssize_t got;
  do {
    got = ::read(fd_, buffer_.data(), buffer_.size());
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    error_ = errno;
    // The istream catches this and sets badbit: a failed read is not the end of the input.
    throw std::system_error(error_, std::generic_category(), name_);
  }
  if (got == 0) return traits_type::eof();
  setg(buffer_.data(), buffer_.data(), buffer_.data() + got);
  return traits_type::to_int_type(*gptr());
}

FdOutBuf::FdOutBuf(int fd, std::string name) : FdBufBase(std::move(name)), fd_(fd) {
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

bool FdOutBuf::Drain() {
  const char* next = pbase();
  while (error_ == 0 && next < pptr()) {
    const ssize_t put = ::write(fd_, next, static_cast<std::size_t>(pptr() - next));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) error_ = errno;
    if (put == 0) error_ = EIO;
    if (put > 0) next += put;
  }
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return error_ == 0;
}

FdOutBuf::int_type FdOutBuf::overflow(int_type c) {
  if (!Drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

int FdOutBuf::sync() {
  return Drain() ? 0 : -1;
}

std::string StreamFailure(const std::ios& stream, const std::string& fallback_name) {
  if (const auto* fd_buf = dynamic_cast<const FdBufBase*>(stream.rdbuf())) {
    if (fd_buf->error() != 0) return fd_buf->name() + ": " + std::strerror(fd_buf->error());
  }
  return fallback_name + ": i/o error";
}

}  // namespace glimmerix
