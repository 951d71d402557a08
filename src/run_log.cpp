// The run's log: truncated once by the front end, then appended to by the
// mode. A failed write to it or to standard output is kept for the run's end.
#include "run_log.h"

#include <cerrno>
#include <iostream>

#include <fcntl.h>
#include <unistd.h>

std::string log_file = "trevlin.log";

namespace {

// Write failures over the whole run, reported by finish_run() once the mode
// has finished its files.
bool log_created = false;  // the front end truncated the log: it is the run's
bool log_failed = false;

// Opens the log for appending without waiting on a named pipe that has no
// reader (ENXIO), then lets writes wait as usual. -1 with errno on failure.
int open_log_append(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Appends text to the log after its run_log has closed (the last messages).
void append_to_log(std::string_view text) {
  if (!log_created || log_failed) return;
  int fd = open_log_append(log_file);
  if (fd < 0 || !write_all(fd, text)) log_failed = true;
  if (fd >= 0 && ::close(fd) != 0) log_failed = true;
}

}  // namespace

bool run_log::open_truncate() {
  path_ = log_file;
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  log_created = fd_ >= 0;
  return fd_ >= 0;
}

bool run_log::open_append() {
  path_ = log_file;
  fd_ = open_log_append(path_);
  if (fd_ >= 0) return true;
  if (errno == ENXIO) {  // a named pipe with no reader left
    log_failed = true;
    return true;
  }
  out("Can't open log file: " + path_ + "\n", true);
  return false;
}

void run_log::flush_buffer() {
  if (fd_ >= 0 && !buffer_.empty() && !log_failed && !write_all(fd_, buffer_)) log_failed = true;
  buffer_.clear();
}

void run_log::close() {
  if (fd_ < 0) return;
  flush_buffer();
  if (::close(fd_) != 0) log_failed = true;
  fd_ = -1;
}

void run_log::out(std::string_view text, bool flush) {
  // A failed write leaves std::cout failed, and finish_run() reports it.
  std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (flush) std::cout.flush();
}

void run_log::log(std::string_view text, bool flush) {
  if (fd_ < 0) return;
  if (buffer_.size() + text.size() > kBuffer) flush_buffer();
  buffer_.append(text.data(), text.size());
  if (flush || buffer_.size() >= kBuffer) flush_buffer();
}

void run_log::both(std::string_view text, bool flush) {
  out(text, flush);
  log(text, flush);
}

int finish_run(int status) {
  if (log_failed) {
    std::cout << "Can't write " << log_file << std::endl;
    status = 1;
  }
  std::cout.flush();
  if (std::cout.fail()) {
    static const char kMessage[] = "Can't write standard output\n";
    append_to_log(kMessage);
    if (::write(2, kMessage, sizeof kMessage - 1) < 0) {
    }
    status = 1;
  }
  return status;
}

int out_of_memory() {
  std::cout << kNotEnoughMemory << std::flush;
  append_to_log(kNotEnoughMemory);
  return 1;
}

bool open_input(run_log& log, line_reader& in, const std::string& name, bool compressed) {
  if (in.open(name, compressed)) return true;
  log.both(in.error(), true);
  return false;
}

bool open_input_by_content(run_log& log, line_reader& in, const std::string& name) {
  if (in.open_by_content(name)) return true;
  log.both(in.error(), true);
  return false;
}

bool open_output(run_log& log, text_writer& out, const std::string& name, bool compressed) {
  if (out.open(name, compressed)) return true;
  log.both(out.error(), true);
  return false;
}

bool close_output(run_log& log, text_writer& out) {
  if (out.close()) return true;
  log.both(out.error(), true);
  return false;
}
