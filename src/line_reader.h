// The one reader of text files, plain or gzip, line by line.
//
// Every mode reads through line_reader, so that an open failure, damaged gzip
// data, a failed read or a file changed between passes is the same message
// everywhere. Errors are values: open()/next()/rewind() return false and
// error() holds the message text, ready to print.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct stat;

// Opens a file for reading as the reader does, without waiting on a named
// pipe: -1 with errno when it cannot be opened or is a directory.
int open_readable(const std::string& name);

// Line-by-line reader over a file, plain or gzip (every member, checked to
// the end: bytes after the last member are damage). Lines of any length; no
// allocation per line. A returned line stays valid until the next call.
class line_reader {
 public:
  // Bytes asked of the file at a time (more once a line is longer).
  static constexpr size_t kReadBlock = 1 << 20;
  // Tests give a small block_size, to reach the buffer's edges with short texts.
  explicit line_reader(size_t block_size = kReadBlock);
  ~line_reader();
  line_reader(const line_reader&) = delete;
  line_reader& operator=(const line_reader&) = delete;

  // Opens the file, through gzip when compressed. A 0-byte file reads as
  // empty even when compressed. False: error() says "Can't open NAME".
  bool open(const std::string& name, bool compressed);
  // Opens the file through gzip when it starts with the gzip magic number,
  // else as plain text, whatever its name.
  bool open_by_content(const std::string& name);
  // Starts again at the first line of the file already open, never a file
  // opened again by name. A pipe gives its text once: False, with error()
  // "Can't read NAME". False too when the file changed since it was opened
  // (see unchanged()), a name that now means another file included.
  bool rewind();
  // False when the open file's size, modification time or status-change time
  // differ from those at its open: error() says file_changed(). Asked by
  // rewind() and at the end of every later pass; a caller whose last pass
  // stops before the end asks it once that pass is done.
  bool unchanged();
  // Reads the rest of a compressed file, its text unused, for a caller that
  // stops before the end: damage anywhere in it still fails the read. Plain
  // text is not read. False when the file failed: error() says how.
  bool read_to_end();
  void close();

  // The next line without its '\n' (a '\r' before it stays). False at the end
  // of the file or at a fault; then failed() tells which. The kLineSlack bytes
  // after the line can be read too (their values mean nothing), so that short
  // words can be copied in whole machine words.
  bool next(std::string_view& line);
  static constexpr size_t kLineSlack = 32;
  // Whether the last line returned ended with '\n' (false for a last line
  // without one).
  bool had_newline() const { return had_newline_; }
  // Physical number of the last line returned, from 1.
  uint64_t line_number() const { return line_number_; }

  // Offset in the uncompressed text where the next line starts, and a move
  // there; seek() leaves line_number() unchanged. Backwards in gzip data it
  // decompresses again from the start. An offset past the end of the text
  // gives false without an error.
  uint64_t tell() const { return buf_offset_ + pos_; }
  bool seek(uint64_t offset);

  // "Bad line N in NAME: reason\n" for the last line returned. Damaged gzip
  // data can make a bad line: the rest of a compressed file is read first,
  // and when it fails, its error() is the text instead.
  std::string bad_line(std::string_view reason);
  // "File changed while it was read: NAME\n", in every mode.
  std::string file_changed() const;

  bool failed() const { return !error_.empty() && (eof_ || !pending_error_); }
  // "Damaged gzip file: NAME\n", "Can't read NAME\n" or "Can't open NAME\n".
  const std::string& error() const { return error_; }
  const std::string& name() const { return name_; }

 private:
  bool start(int fd);
  bool fill();
  long read_some(char* dst, size_t n);

  struct chain_state;
  std::unique_ptr<chain_state> chain_;
  bool by_content_ = false;
  bool compressed_ = false;  // as asked by open(); by content, as the file starts
  bool plain_ = false;       // read from the file itself, without the chain
  bool once_only_ = false;   // a pipe: no second pass
  std::string name_;
  std::string error_;
  size_t block_size_;
  std::vector<char> buf_;
  size_t pos_ = 0;   // start of the unread text in buf_
  size_t end_ = 0;   // end of the valid text in buf_
  uint64_t buf_offset_ = 0;  // uncompressed offset of buf_[0]
  uint64_t line_number_ = 0;
  bool eof_ = false;
  bool pending_error_ = false;  // error_ is set but text before the fault is still buffered
  bool had_newline_ = false;
  // What unchanged() compares: size, modification and status-change times.
  struct file_stamp {
    long long size, mtime_s, mtime_ns, ctime_s, ctime_ns;
    bool operator==(const file_stamp& o) const {
      return size == o.size && mtime_s == o.mtime_s && mtime_ns == o.mtime_ns &&
             ctime_s == o.ctime_s && ctime_ns == o.ctime_ns;
    }
  };
  static file_stamp stamp_of(const struct stat& st);
  file_stamp opened_{};  // at open; regular files only
  bool stamped_ = false;
  bool rewound_ = false;  // a later pass has begun
};

// The other messages that more than one place builds, each written here once.
// Memory that ran out anywhere in the run; the front end writes this text by
// hand when standard output is not yet set up.
inline constexpr std::string_view kNotEnoughMemory = "Not enough memory\n";
// "Not enough memory for genotypes: BYTES\n": -G's store or -P's matrix.
std::string not_enough_memory_for_genotypes(std::string_view bytes);
