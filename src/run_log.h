// The run's log, and where every message goes.
//
// A mode prints through its run_log: to standard output and, with the same
// text, to the log ("both"). An open, read or write failure of a file, which
// the reader and writer hold as a value, becomes its message here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "line_reader.h"
#include "text_writer.h"

// Path of the log file for the whole process; "trevlin.log" unless --log names another.
extern std::string log_file;

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
  // The reverse of both(), flushed: the log first, then standard output, as
  // -O's GEN pass reports.
  void log_then_out(std::string_view text) {
    log(text, true);
    out(text, true);
  }
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

// Opens an input or an output; when it cannot be opened, prints its error()
// ("Can't open NAME") to both, flushed, and returns false. Every mode opens
// its files through these but -O's GEN pass, which reports to the log first.
bool open_input(run_log& log, line_reader& in, const std::string& name, bool compressed);
bool open_input_by_content(run_log& log, line_reader& in, const std::string& name);
bool open_output(run_log& log, text_writer& out, const std::string& name, bool compressed);

// Closes a finished output; when any write failed, prints "Can't write
// NAME" to both and returns false.
bool close_output(run_log& log, text_writer& out);
