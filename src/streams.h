// Reading and writing text files, plain or gzip, and the run's log.
//
// Every mode reads through line_reader and writes through text_writer, so that
// open failures, damaged gzip data and write failures become the same
// messages everywhere. Errors are values: open()/next()/close() return false
// and error() holds the message text, ready to print to both.
#pragma once

#include <cassert>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct stat;

// Path of the log file for the whole process; "trevlin.log" unless --log names another.
extern std::string log_file;

// True when the name contains ".gz" anywhere (a substring test, not a suffix test).
bool is_gzip_name(const std::string& name);

// True when the two names are one file: the same text; the same last name
// component in the same directory (after links), whether the file exists
// yet or not (out, ./out, sub/../out); or existing files with the same device
// and inode (hard links, links to a file). A character device after links
// (/dev/null) is never one file with another.
bool same_file(const std::string& a, const std::string& b);

// The log of one run and the "both" convention: standard output first, then
// the same text in the log. A failed write to either never stops a mode: it
// is remembered for finish_run(), so the mode still completes its files.
class run_log {
 public:
  run_log() = default;
  ~run_log() { close(); }
  run_log(const run_log&) = delete;
  run_log& operator=(const run_log&) = delete;

  // Opens log_file for writing, truncating it. False when it cannot be opened;
  // the caller prints the message. A named pipe is waited for until it has a
  // reader, as a shell's redirection would.
  bool open_truncate();
  // Opens log_file for appending, as every mode does first. On failure prints
  // "Can't open log file: PATH" to standard output and returns false. Never
  // waits: a named pipe whose reader has gone counts as a failed log write,
  // and the run goes on without the log.
  bool open_append();
  // Closes the log; a write that failed on the way is remembered.
  void close();

  // Standard output, then the log; flush=true for lines that end with a flush.
  // Standard output is written here and nowhere else in the modes.
  void both(std::string_view text, bool flush = false);
  void out(std::string_view text, bool flush = false);
  void log(std::string_view text, bool flush = false);
  // The path the log was opened at; "" before it was.
  const std::string& path() const { return path_; }

 private:
  // Hands the buffer to the file; a failure is remembered and ends writing.
  void flush_buffer();

  int fd_ = -1;
  std::string buffer_;  // bytes not yet written, up to kBuffer
  std::string path_;
  static constexpr size_t kBuffer = 8192;
};

// The end of every run, in main: when the log or standard output could not be
// written, prints "Can't write LOG" to standard output, or "Can't write
// standard output" to the log and standard error, and returns 1; else status.
int finish_run(int status);

// An allocation failed somewhere in the run: "Not enough memory" to standard
// output, and to the log once the run has one. Returns 1.
int out_of_memory();

// Checks that every non-empty name can be opened for reading (and is not a
// directory). Prints "Can't open NAME" to both for each one that cannot.
bool check_inputs(run_log& log, const std::vector<std::string>& names);

// Checks that no non-empty output names the same file (as same_file tells) as
// a non-empty input, another output or the log at log.path(), in one pass
// over the names however many there are. Prints "Output file is also an input: NAME",
// "Output file is named twice: NAME" or "Output file is also the log file:
// NAME" to both for the first clash.
bool check_outputs(run_log& log, const std::vector<std::string>& outputs,
                   const std::vector<std::string>& inputs);

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
  bool is_open() const { return open_; }
  const std::string& error() const { return error_; }
  const std::string& name() const { return name_; }

 private:
  static constexpr size_t kFlushAt = 1 << 20;
  void flush_buffer();
  struct chain_state;
  std::unique_ptr<chain_state> chain_;
  std::string name_;
  std::string error_;
  std::string buf_;
  bool open_ = false;
  bool plain_ = false;  // written to the file itself, without the compressor
  uint64_t flushes_ = 0;
};

// Closes a finished output; when any write failed, prints "Can't write
// NAME" to both and returns false.
bool close_output(run_log& log, text_writer& out);
