#include "streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <new>
#include <stdexcept>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/iostreams/categories.hpp>
#include <boost/iostreams/filter/gzip.hpp>
#include <boost/iostreams/filtering_stream.hpp>

#include "text.h"
#include <boost/iostreams/read.hpp>

namespace bio = boost::iostreams;

std::string log_file = "trevlin.log";

bool is_gzip_name(const std::string& name) { return name.find(".gz") != std::string::npos; }

bool same_file(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// ---- log ----

bool run_log::open_truncate() {
  file_.open(log_file, std::ios::out | std::ios::trunc);
  return file_.is_open();
}

bool run_log::open_append() {
  file_.open(log_file, std::ios::out | std::ios::app);
  if (file_.is_open()) return true;
  std::cout << "Can't open log file: " << log_file << std::endl;
  return false;
}

void run_log::close() {
  if (file_.is_open()) file_.close();
}

void run_log::out(std::string_view text, bool flush) {
  std::cout.write(text.data(), text.size());
  if (flush) std::cout.flush();
}

void run_log::log(std::string_view text, bool flush) {
  if (!file_.is_open()) return;
  file_.write(text.data(), text.size());
  if (flush) file_.flush();
}

void run_log::both(std::string_view text, bool flush) {
  out(text, flush);
  log(text, flush);
}

// Opens for reading without blocking on a named pipe; -1 for a directory.
static int open_readable(const std::string& name) {
  int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return -1;
  }
  return fd;
}

bool check_inputs(run_log& log, const std::vector<std::string>& names) {
  bool ok = true;
  for (const std::string& name : names) {
    if (name.empty()) continue;
    // A named pipe is checked by its type alone: opening it would wait for a writer.
    struct stat st;
    if (stat(name.c_str(), &st) == 0 && S_ISFIFO(st.st_mode) && access(name.c_str(), R_OK) == 0)
      continue;
    int fd = open_readable(name);
    if (fd < 0) {
      log.both("Can't open " + name + "\n");
      ok = false;
    } else {
      ::close(fd);
    }
  }
  return ok;
}

bool check_outputs(run_log& log, const std::vector<std::string>& outputs,
                   const std::vector<std::string>& inputs) {
  for (const std::string& out : outputs) {
    if (out.empty()) continue;
    for (const std::string& in : inputs) {
      if (!in.empty() && same_file(out, in)) {
        log.both("Output file is also an input: " + out + "\n");
        return false;
      }
    }
  }
  // Two outputs on one file, or an output on the log, would overwrite each other.
  for (size_t i = 0; i < outputs.size(); ++i) {
    const std::string& out = outputs[i];
    if (out.empty()) continue;
    for (size_t j = 0; j < i; ++j) {
      if (!outputs[j].empty() && same_file(out, outputs[j])) {
        log.both("Output file is named twice: " + out + "\n");
        return false;
      }
    }
    if (same_file(out, log_file)) {
      log.both("Output file is also the log file: " + out + "\n");
      return false;
    }
  }
  return true;
}

bool close_output(run_log& log, text_writer& out) {
  if (out.close()) return true;
  log.both(out.error(), true);
  return false;
}

// ---- devices ----
// Our own file devices: the library's file devices drop read and write errors
// silently, and the chain's close swallows exceptions. These record the error
// where the caller can see it.

namespace {

struct fd_status {
  int fd = -1;
  int error = 0;  // first errno seen, 0 when none
};

struct checked_source {
  typedef char char_type;
  typedef bio::source_tag category;
  std::shared_ptr<fd_status> st;
  std::streamsize read(char* s, std::streamsize n) {
    if (st->error) return -1;
    for (;;) {
      ssize_t r = ::read(st->fd, s, static_cast<size_t>(n));
      if (r > 0) return r;
      if (r == 0) return -1;
      if (errno == EINTR) continue;
      st->error = errno;
      return -1;
    }
  }
};

struct checked_sink {
  typedef char char_type;
  typedef bio::sink_tag category;
  std::shared_ptr<fd_status> st;
  std::streamsize write(const char* s, std::streamsize n) {
    std::streamsize done = 0;
    while (!st->error && done < n) {
      ssize_t w = ::write(st->fd, s + done, static_cast<size_t>(n - done));
      if (w >= 0) {
        done += w;
      } else if (errno != EINTR) {
        st->error = errno;
      }
    }
    return n;  // a failed write is reported at close, not retried forever
  }
};

bio::gzip_params output_gzip_params() {
  bio::gzip_params p;
  p.level = bio::zlib::default_compression;
  p.method = bio::zlib::deflated;
  p.window_bits = 15;
  p.mem_level = 8;
  p.strategy = bio::zlib::default_strategy;
  p.noheader = false;
  p.calculate_crc = false;
  p.file_name = "";
  p.comment = "";
  p.mtime = 0;
  return p;
}

// Inflates gzip members with zlib itself. The library's gzip filter checks a
// member's CRC-32 but not its length, so a damaged length would pass as good
// data; zlib checks both. Reads every member to the end of the file; bytes
// after a member that do not start another are damage, as in the library.
struct gzip_damaged : std::runtime_error {
  gzip_damaged() : std::runtime_error("gzip error") {}
};

struct inflate_state {
  z_stream z{};
  char in[4096];
  bool in_member = false;  // a member has begun and not yet ended
  bool done = false;
  bool damaged = false;  // found; thrown once the text before it is handed on
  inflate_state() {
    if (inflateInit2(&z, 15 + 16) != Z_OK) throw std::bad_alloc();
  }
  ~inflate_state() { inflateEnd(&z); }
  inflate_state(const inflate_state&) = delete;
  inflate_state& operator=(const inflate_state&) = delete;
};

struct checked_gzip_decompressor {
  typedef char char_type;
  typedef bio::multichar_input_filter_tag category;
  std::shared_ptr<inflate_state> st = std::make_shared<inflate_state>();

  template <typename Source>
  std::streamsize read(Source& src, char* s, std::streamsize n) {
    inflate_state& g = *st;
    if (g.damaged) throw gzip_damaged();
    std::streamsize got = 0;
    while (got < n && !g.done && !g.damaged) {
      if (g.z.avail_in == 0) {
        std::streamsize r = bio::read(src, g.in, sizeof g.in);
        if (r < 0) {
          if (g.in_member) g.damaged = true;  // cut short
          else g.done = true;
          break;
        }
        if (r == 0) break;
        g.z.next_in = reinterpret_cast<Bytef*>(g.in);
        g.z.avail_in = static_cast<uInt>(r);
      }
      if (!g.in_member) {
        if (inflateReset(&g.z) != Z_OK) throw gzip_damaged();
        g.in_member = true;
      }
      g.z.next_out = reinterpret_cast<Bytef*>(s + got);
      g.z.avail_out = static_cast<uInt>(n - got);
      int ret = inflate(&g.z, Z_NO_FLUSH);
      got = n - static_cast<std::streamsize>(g.z.avail_out);
      if (ret == Z_STREAM_END)
        g.in_member = false;
      else if (ret != Z_OK && ret != Z_BUF_ERROR)
        g.damaged = true;
    }
    if (g.damaged && got == 0) throw gzip_damaged();
    return got > 0 || !g.done ? got : -1;
  }
};

constexpr std::streamsize kChainBuffer = 1 << 16;
constexpr size_t kReadBlock = 1 << 20;

}  // namespace

// ---- line_reader ----

struct line_reader::chain_state {
  bio::filtering_istream in;
  std::shared_ptr<fd_status> st = std::make_shared<fd_status>();
  ~chain_state() {
    try {
      in.reset();
    } catch (...) {
    }
    if (st->fd >= 0) ::close(st->fd);
  }
};

line_reader::line_reader() = default;
line_reader::~line_reader() { close(); }

bool line_reader::open(const std::string& name, bool compressed) {
  close();
  name_ = name;
  compressed_ = compressed;
  backend_ = backend::chain;
  return start();
}

bool line_reader::open_by_content(const std::string& name) {
  close();
  name_ = name;
  backend_ = backend::zlib;
  return start();
}

bool line_reader::start() {
  error_.clear();
  pending_error_ = false;
  pos_ = end_ = 0;
  buf_offset_ = 0;
  line_number_ = 0;
  eof_ = false;
  had_newline_ = false;
  if (buf_.empty()) buf_.resize(kReadBlock);
  // A pipe gives its text once: a second pass would wait for a writer that
  // never comes, or read nothing and lose every line.
  static std::vector<std::pair<dev_t, ino_t>> pipes_read;
  struct stat ps;
  if (stat(name_.c_str(), &ps) == 0 && S_ISFIFO(ps.st_mode)) {
    auto id = std::make_pair(ps.st_dev, ps.st_ino);
    if (std::find(pipes_read.begin(), pipes_read.end(), id) != pipes_read.end()) {
      error_ = "Can't read " + name_ + "\n";
      return false;
    }
    pipes_read.push_back(id);
  }
  int fd = open_readable(name_);
  if (fd < 0) {
    error_ = "Can't open " + name_ + "\n";
    return false;
  }
  if (backend_ == backend::zlib) {
    gz_ = gzdopen(fd, "rb");
    if (!gz_) {
      ::close(fd);
      error_ = "Can't open " + name_ + "\n";
      return false;
    }
    gzbuffer(gz_, 1 << 17);
    return true;
  }
  struct stat st;
  bool empty_file = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
  chain_ = std::make_unique<chain_state>();
  chain_->st->fd = fd;
  // A 0-byte file under a gzip name is an empty file left by older runs, not damage.
  // Plain text is read straight into our own buffer: the chain would only
  // copy it once more.
  plain_ = !compressed_ || empty_file;
  if (plain_) return true;
  chain_->in.push(checked_gzip_decompressor{}, 4096);
  chain_->in.push(checked_source{chain_->st}, kChainBuffer);
  return true;
}

bool line_reader::rewind() {
  if (backend_ == backend::none) return false;
  if (backend_ == backend::zlib) {
    line_number_ = 0;
    return seek(0);
  }
  chain_.reset();
  return start();
}

void line_reader::close() {
  chain_.reset();
  if (gz_) {
    gzclose(gz_);
    gz_ = nullptr;
  }
}

long line_reader::read_some(char* dst, size_t n) {
  if (backend_ == backend::zlib) {
    if (!gz_) return 0;
    int r = gzread(gz_, dst, static_cast<unsigned>(n));
    int err = Z_OK;
    gzerror(gz_, &err);
    if (r < 0 || (err != Z_OK && r == 0)) {
      error_ = (err == Z_ERRNO ? "Can't read " : "Damaged gzip file: ") + name_ + "\n";
      return -1;
    }
    return r;
  }
  if (!chain_) return 0;
  if (plain_) {
    checked_source source{chain_->st};
    std::streamsize r = source.read(dst, static_cast<std::streamsize>(n));
    if (chain_->st->error) {
      error_ = "Can't read " + name_ + "\n";
      pending_error_ = true;
      return -1;
    }
    return r < 0 ? 0 : static_cast<long>(r);
  }
  // Take the text one buffer at a time: sgetc() is where the decompressor
  // throws, and the text delivered before the fault stays ours.
  std::streambuf* sb = chain_->in.rdbuf();
  long got = 0;
  try {
    while (static_cast<size_t>(got) < n) {
      if (std::char_traits<char>::eq_int_type(sb->sgetc(), std::char_traits<char>::eof())) break;
      std::streamsize avail = std::max<std::streamsize>(sb->in_avail(), 1);
      avail = std::min<std::streamsize>(avail, static_cast<std::streamsize>(n - got));
      got += static_cast<long>(sb->sgetn(dst + got, avail));
    }
  } catch (const std::exception&) {
    error_ = "Damaged gzip file: " + name_ + "\n";
  }
  if (chain_->st->error) error_ = "Can't read " + name_ + "\n";
  if (!error_.empty()) {
    pending_error_ = true;
    if (got == 0) return -1;
  }
  return got;
}

bool line_reader::fill() {
  if (eof_) return false;
  if (pending_error_) {
    eof_ = true;
    return false;
  }
  // Keep the unread tail at the front; grow when a single line fills the buffer.
  if (pos_ > 0) {
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    buf_offset_ += pos_;
    pos_ = 0;
  }
  if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);
  long r = read_some(buf_.data() + end_, buf_.size() - end_);
  if (r <= 0) {
    eof_ = true;
    return false;
  }
  end_ += static_cast<size_t>(r);
  return true;
}

bool line_reader::next(std::string_view& line) {
  if (failed()) return false;
  size_t scanned = pos_;
  for (;;) {
    const char* nl = static_cast<const char*>(
        std::memchr(buf_.data() + scanned, '\n', end_ - scanned));
    if (nl) {
      size_t at = static_cast<size_t>(nl - buf_.data());
      line = std::string_view(buf_.data() + pos_, at - pos_);
      pos_ = at + 1;
      had_newline_ = true;
      ++line_number_;
      return true;
    }
    size_t scanned_len = end_ - pos_;
    if (!fill()) break;
    scanned = pos_ + scanned_len;
  }
  if (failed() || pos_ == end_) return false;
  line = std::string_view(buf_.data() + pos_, end_ - pos_);
  pos_ = end_;
  had_newline_ = false;
  ++line_number_;
  return true;
}

std::string line_reader::bad_line(std::string_view reason) const {
  std::string s = "Bad line ";
  append_int(s, static_cast<long long>(line_number_));
  s += " in ";
  s += name_;
  s += ": ";
  s += reason;
  s += '\n';
  return s;
}

bool line_reader::seek(uint64_t offset) {
  if (backend_ != backend::zlib || !gz_ || failed()) return false;
  if (offset >= buf_offset_ && offset <= buf_offset_ + end_) {
    pos_ = static_cast<size_t>(offset - buf_offset_);
    return true;
  }
  if (gzseek(gz_, static_cast<z_off_t>(offset), SEEK_SET) < 0) {
    error_ = "Damaged gzip file: " + name_ + "\n";
    return false;
  }
  buf_offset_ = offset;
  pos_ = end_ = 0;
  eof_ = false;
  return true;
}

// ---- text_writer ----

struct text_writer::chain_state {
  bio::filtering_ostream out;
  std::shared_ptr<fd_status> st = std::make_shared<fd_status>();
};

text_writer::text_writer() = default;
text_writer::~text_writer() {
  if (open_) close();
}

bool text_writer::open(const std::string& name, bool compressed) {
  if (open_) close();
  name_ = name;
  error_.clear();
  buf_.clear();
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    error_ = "Can't open " + name + "\n";
    return false;
  }
  chain_ = std::make_unique<chain_state>();
  chain_->st->fd = fd;
  // Plain text goes from our buffer straight to the file.
  plain_ = !compressed;
  if (!plain_) {
    chain_->out.push(bio::gzip_compressor(output_gzip_params(), 4096));
    chain_->out.push(checked_sink{chain_->st}, kChainBuffer);
  }
  buf_.reserve(kFlushAt + (kFlushAt >> 2));
  open_ = true;
  return true;
}

void text_writer::flush_buffer() {
  if (!chain_ || buf_.empty()) return;
  if (plain_) {
    checked_sink{chain_->st}.write(buf_.data(), static_cast<std::streamsize>(buf_.size()));
    buf_.clear();
    return;
  }
  try {
    chain_->out.rdbuf()->sputn(buf_.data(), static_cast<std::streamsize>(buf_.size()));
  } catch (const std::exception&) {
    if (!chain_->st->error) chain_->st->error = EIO;
  }
  buf_.clear();
}

bool text_writer::close() {
  if (!open_) return error_.empty();
  open_ = false;
  flush_buffer();
  bool ok = true;
  if (!plain_) {
    try {
      chain_->out.reset();  // writes the gzip trailer; errors land in st->error
    } catch (const std::exception&) {
      ok = false;
    }
    if (chain_->out.bad()) ok = false;
  }
  if (chain_->st->error) ok = false;
  if (::close(chain_->st->fd) != 0) ok = false;
  chain_.reset();
  if (!ok) error_ = "Can't write " + name_ + "\n";
  return ok;
}
