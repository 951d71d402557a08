// The one writer of text files, plain or gzip.
//
// Every mode writes through text_writer, so that an open or write failure is
// the same message everywhere. A failed write is not retried: it is kept, and
// close() says so.
#pragma once

#include <cassert>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Writes all of text to the descriptor, again after an interruption; false on
// any failure (a gone reader gives EPIPE, as SIGPIPE is ignored).
bool write_all(int fd, std::string_view text);

// Buffered writer to a new file, through gzip when asked. Writes go to an
// in-memory buffer that is handed on in large blocks.
class text_writer {
 public:
  text_writer();
  ~text_writer();
  text_writer(const text_writer&) = delete;
  text_writer& operator=(const text_writer&) = delete;

  // Creates or truncates the file. False: error() says "Can't open NAME".
  bool open(const std::string& name, bool compressed);

  void write(std::string_view s) {
    buf_.append(s.data(), s.size());
    if (buf_.size() >= kFlushAt) flush_buffer();
  }
  void put(char c) {
    buf_.push_back(c);
    if (buf_.size() >= kFlushAt) flush_buffer();
  }
  // Direct access for hot loops: append, then call maybe_flush().
  std::string& buffer() { return buf_; }
  void maybe_flush() {
    if (buf_.size() >= kFlushAt) flush_buffer();
  }

  // A line being written can be taken back: mark() where it starts, then
  // take_back() drops all written since. That holds only while the buffer has
  // not been handed on since the mark: appends to buffer() never hand it on,
  // while write(), put() and maybe_flush() may, so a writer of lines that it
  // may take back calls those between lines only.
  struct line_mark {
    size_t at;         // buffer size at the mark
    uint64_t flushes;  // buffers handed on before it
  };
  line_mark mark() const { return {buf_.size(), flushes_}; }
  void take_back(line_mark m) {
    assert(m.flushes == flushes_ && m.at <= buf_.size());
    buf_.resize(m.at);
  }

  // Writes out the buffer, ends the gzip member and closes the file. False
  // when any write or the close failed: error() says "Can't write NAME".
  bool close();
  const std::string& error() const { return error_; }
  const std::string& name() const { return name_; }

 private:
  static constexpr size_t kFlushAt = 1 << 20;
  void flush_buffer();
  // Bytes for the file itself; after a failed write, none is tried again.
  void write_out(const char* s, size_t n) {
    if (!write_failed_ && !write_all(fd_, std::string_view(s, n))) write_failed_ = true;
  }
  struct compressor;
  std::unique_ptr<compressor> gzip_;  // null for plain text, written as it stands
  int fd_ = -1;                       // open from open() to close()
  bool write_failed_ = false;
  std::string name_;
  std::string error_;
  std::string buf_;
  uint64_t flushes_ = 0;
};
