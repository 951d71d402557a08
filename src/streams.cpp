#include "streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <map>
#include <new>
#include <optional>
#include <set>
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
#include <zlib.h>

namespace bio = boost::iostreams;

std::string log_file = "trevlin.log";

bool is_gzip_name(const std::string& name) { return name.find(".gz") != std::string::npos; }

namespace {

// Keys under which a name is one file with another: its text; its last name
// component in its directory (device and inode, after links), whether the
// file exists yet or not; and, when it exists, its own device and inode. A
// character device has none.
// Two names are one file when they share a key. Each directory text is
// looked up once, so checking many names costs one pass.
class file_keys {
 public:
  void of(const std::string& name, std::vector<std::string>& keys) {
    keys.clear();
    struct stat st;
    const bool exists = stat(name.c_str(), &st) == 0;
    // Nothing written to a character device (/dev/null) can be lost: no keys.
    if (exists && S_ISCHR(st.st_mode)) return;
    keys.push_back("t" + name);
    std::string target = name;
    if (exists) {
      keys.push_back("i" + id_text(st));
    } else {
      // A link to a file not yet there: writing through it creates its target.
      char buf[4096];
      for (int hops = 0; hops < 40 && lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
           ++hops) {
        ssize_t n = readlink(target.c_str(), buf, sizeof buf);
        if (n <= 0 || static_cast<size_t>(n) == sizeof buf) break;
        std::string to(buf, static_cast<size_t>(n));
        size_t slash = target.rfind('/');
        target = to[0] == '/' || slash == std::string::npos ? to : target.substr(0, slash + 1) + to;
      }
    }
    size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const std::string& dir_id = directory(dir);
    if (!dir_id.empty())
      keys.push_back("d" + dir_id + "/" + target.substr(slash == std::string::npos ? 0 : slash + 1));
  }

 private:
  static std::string id_text(const struct stat& st) {
    return std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(st.st_ino));
  }
  // "" when the directory cannot be looked up.
  const std::string& directory(const std::string& dir) {
    auto it = dirs_.find(dir);
    if (it != dirs_.end()) return it->second;
    struct stat st;
    return dirs_[dir] = stat(dir.c_str(), &st) == 0 ? id_text(st) : std::string();
  }
  std::map<std::string, std::string> dirs_;
};

bool shares_key(const std::vector<std::string>& keys, const std::set<std::string>& known) {
  for (const std::string& k : keys)
    if (known.count(k)) return true;
  return false;
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
  file_keys ids;
  std::vector<std::string> ka, kb;
  ids.of(a, ka);
  ids.of(b, kb);
  return shares_key(ka, std::set<std::string>(kb.begin(), kb.end()));
}

// ---- log ----

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

// Writes all of text; false on any failure (a gone reader gives EPIPE, as
// SIGPIPE is ignored).
bool write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
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
  static const char kMessage[] = "Not enough memory\n";
  std::cout << kMessage << std::flush;
  append_to_log(kMessage);
  return 1;
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
  file_keys ids;
  std::vector<std::string> keys;
  std::set<std::string> input_keys, log_keys, seen;
  for (const std::string& in : inputs) {
    if (in.empty()) continue;
    ids.of(in, keys);
    input_keys.insert(keys.begin(), keys.end());
  }
  std::vector<std::vector<std::string>> output_keys(outputs.size());
  for (size_t i = 0; i < outputs.size(); ++i) {
    if (outputs[i].empty()) continue;
    ids.of(outputs[i], output_keys[i]);
    if (shares_key(output_keys[i], input_keys)) {
      log.both("Output file is also an input: " + outputs[i] + "\n");
      return false;
    }
  }
  if (!log.path().empty()) {
    ids.of(log.path(), keys);
    log_keys.insert(keys.begin(), keys.end());
  }
  // Two outputs on one file, or an output on the log, would overwrite each other.
  for (size_t i = 0; i < outputs.size(); ++i) {
    if (outputs[i].empty()) continue;
    if (shares_key(output_keys[i], seen)) {
      log.both("Output file is named twice: " + outputs[i] + "\n");
      return false;
    }
    if (shares_key(output_keys[i], log_keys)) {
      log.both("Output file is also the log file: " + outputs[i] + "\n");
      return false;
    }
    seen.insert(output_keys[i].begin(), output_keys[i].end());
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
  int error = 0;       // first errno seen, 0 when none
  std::string prefix;  // bytes read ahead to tell gzip data, handed on first
};

struct checked_source {
  typedef char char_type;
  typedef bio::source_tag category;
  std::shared_ptr<fd_status> st;
  std::streamsize read(char* s, std::streamsize n) {
    if (st->error) return -1;
    if (!st->prefix.empty()) {
      size_t k = std::min(st->prefix.size(), static_cast<size_t>(n));
      std::memcpy(s, st->prefix.data(), k);
      st->prefix.erase(0, k);
      return static_cast<std::streamsize>(k);
    }
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
      if (ret == Z_MEM_ERROR) throw std::bad_alloc();  // its window, allocated on first use
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

line_reader::line_reader(size_t block_size) : block_size_(block_size > 0 ? block_size : 1) {}
line_reader::~line_reader() { close(); }

bool line_reader::open(const std::string& name, bool compressed) {
  close();
  name_ = name;
  rewound_ = false;
  by_content_ = false;
  compressed_ = compressed;
  return start(open_readable(name));
}

bool line_reader::open_by_content(const std::string& name) {
  close();
  name_ = name;
  rewound_ = false;
  by_content_ = true;
  return start(open_readable(name));
}

// Reads up to n bytes, fewer only at the end of the file; -1 on an error.
static long read_full(int fd, char* dst, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = ::read(fd, dst + got, n - got);
    if (r > 0) {
      got += static_cast<size_t>(r);
    } else if (r == 0) {
      break;
    } else if (errno != EINTR) {
      return -1;
    }
  }
  return static_cast<long>(got);
}

line_reader::file_stamp line_reader::stamp_of(const struct stat& st) {
  return {st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}

// Builds the chain over fd, open at the file's start (-1: the file could
// not be opened).
bool line_reader::start(int fd) {
  error_.clear();
  pending_error_ = false;
  pos_ = end_ = 0;
  buf_offset_ = 0;
  line_number_ = 0;
  eof_ = false;
  had_newline_ = false;
  if (buf_.empty()) buf_.resize(block_size_ + kLineSlack);
  if (fd < 0) {
    error_ = "Can't open " + name_ + "\n";
    return false;
  }
  struct stat st;
  const bool known = fstat(fd, &st) == 0;
  once_only_ = known && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
  if (!rewound_) {
    stamped_ = known && S_ISREG(st.st_mode);
    if (stamped_) opened_ = stamp_of(st);
  }
  chain_ = std::make_unique<chain_state>();
  chain_->st->fd = fd;
  bool gzip = compressed_;
  if (by_content_) {
    // gzip data starts with its magic number; anything else is plain text,
    // and the bytes read to tell stay the first of it.
    char head[2];
    long got = read_full(fd, head, 2);
    if (got < 0) {
      error_ = "Can't read " + name_ + "\n";
      return false;
    }
    gzip = got == 2 && head[0] == '\x1f' && head[1] == '\x8b';
    if (gzip) {
      chain_->st->prefix.assign(head, 2);
    } else {
      std::memcpy(buf_.data(), head, static_cast<size_t>(got));
      end_ = static_cast<size_t>(got);
    }
  } else if (known && S_ISREG(st.st_mode) && st.st_size == 0) {
    // A 0-byte file under a gzip name is an empty file left by older runs, not damage.
    gzip = false;
  }
  // Plain text is read straight into our own buffer: the chain would only
  // copy it once more.
  plain_ = !gzip;
  if (plain_) return true;
  chain_->in.push(checked_gzip_decompressor{}, 4096);
  chain_->in.push(checked_source{chain_->st}, kChainBuffer);
  return true;
}

bool line_reader::rewind() {
  if (!chain_) return false;
  if (once_only_) {
    // Its text is gone: a second pass would read nothing and lose every line.
    error_ = "Can't read " + name_ + "\n";
    pending_error_ = false;
    return false;
  }
  // The descriptor outlives the chain: a name replaced since must not be read.
  int fd = chain_->st->fd;
  if (lseek(fd, 0, SEEK_SET) != 0) {
    error_ = "Can't read " + name_ + "\n";
    pending_error_ = false;
    return false;
  }
  if (!unchanged()) return false;
  chain_->st->fd = -1;
  chain_.reset();
  rewound_ = true;
  return start(fd);
}

bool line_reader::unchanged() {
  if (!stamped_ || !chain_) return true;
  struct stat st;
  if (fstat(chain_->st->fd, &st) != 0)
    error_ = "Can't read " + name_ + "\n";
  else if (stamp_of(st) == opened_)
    return true;
  else
    error_ = file_changed();
  pending_error_ = false;
  return false;
}

bool line_reader::read_to_end() {
  if (!chain_ || plain_) return !failed();
  while (!eof_) {
    pos_ = end_;
    fill();
  }
  return !failed();
}

void line_reader::close() { chain_.reset(); }

long line_reader::read_some(char* dst, size_t n) {
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
  } catch (const std::bad_alloc&) {
    throw;
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
  // The last kLineSlack bytes are never filled: they stay readable past any line.
  // (A block of one byte holds less than the two bytes read to tell gzip.)
  if (end_ >= buf_.size() - kLineSlack) buf_.resize(2 * end_ + kLineSlack);
  long r = read_some(buf_.data() + end_, buf_.size() - kLineSlack - end_);
  if (r <= 0) {
    // The end of a later pass: the text read must be the text of the first.
    if (r == 0 && rewound_) unchanged();
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

std::string line_reader::bad_line(std::string_view reason) {
  if (!read_to_end()) return error_;
  std::string s = "Bad line ";
  append_int(s, static_cast<long long>(line_number_));
  s += " in ";
  s += name_;
  s += ": ";
  s += reason;
  s += '\n';
  return s;
}

std::string line_reader::file_changed() const {
  return "File changed while it was read: " + name_ + "\n";
}

bool line_reader::seek(uint64_t offset) {
  if (!chain_ || failed()) return false;
  if (offset >= buf_offset_ && offset <= buf_offset_ + end_) {
    pos_ = static_cast<size_t>(offset - buf_offset_);
    return true;
  }
  if (plain_) {
    if (lseek(chain_->st->fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
      error_ = "Can't read " + name_ + "\n";
      return false;
    }
    buf_offset_ = offset;
    pos_ = end_ = 0;
    eof_ = false;
    return true;
  }
  if (offset < buf_offset_) {
    const uint64_t line = line_number_;
    if (!rewind()) return false;
    line_number_ = line;
  }
  // Decompress forward until the buffer holds the offset.
  while (buf_offset_ + end_ < offset) {
    pos_ = end_;
    if (!fill()) return false;
  }
  pos_ = static_cast<size_t>(offset - buf_offset_);
  return true;
}

// ---- text_writer ----

// The compressor is driven by hand rather than through a stream chain: a
// chain that runs out of memory half-way through being built closes the
// compressor onto a sink that is not there yet.
struct text_writer::chain_state {
  std::shared_ptr<fd_status> st = std::make_shared<fd_status>();
  std::optional<bio::gzip_compressor> gzip;  // none for plain text
  std::string staged;  // compressed bytes for the file, reserved at kChainBuffer
  void drain() {
    checked_sink{st}.write(staged.data(), static_cast<std::streamsize>(staged.size()));
    staged.clear();
  }
  // The compressor's sink: its small writes (down to single bytes of the
  // trailer) meet the file in blocks, with no allocation once open.
  struct sink {
    typedef char char_type;
    typedef bio::sink_tag category;
    chain_state* chain;
    std::streamsize write(const char* s, std::streamsize n) {
      std::string& staged = chain->staged;
      const size_t k = static_cast<size_t>(n);
      if (staged.size() + k > staged.capacity()) chain->drain();
      if (k >= staged.capacity())
        checked_sink{chain->st}.write(s, n);
      else
        staged.append(s, k);
      return n;
    }
  };
};

text_writer::text_writer() = default;
text_writer::~text_writer() {
  try {
    if (open_) close();
  } catch (...) {  // already unwinding from a failed allocation
  }
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
  try {
    chain_ = std::make_unique<chain_state>();
  } catch (...) {
    ::close(fd);
    throw;
  }
  chain_->st->fd = fd;
  // Plain text goes from our buffer straight to the file.
  plain_ = !compressed;
  if (!plain_) {
    chain_->gzip.emplace(output_gzip_params(), 4096);
    chain_->staged.reserve(kChainBuffer);
  }
  buf_.reserve(kFlushAt + (kFlushAt >> 2));
  open_ = true;
  return true;
}

void text_writer::flush_buffer() {
  if (!chain_ || buf_.empty()) return;
  ++flushes_;
  if (plain_) {
    checked_sink{chain_->st}.write(buf_.data(), static_cast<std::streamsize>(buf_.size()));
    buf_.clear();
    return;
  }
  chain_state::sink sink{chain_.get()};
  try {
    chain_->gzip->write(sink, buf_.data(), static_cast<std::streamsize>(buf_.size()));
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    if (!chain_->st->error) chain_->st->error = EIO;
  }
  buf_.clear();
}

bool text_writer::close() {
  if (!open_) return error_.empty();
  open_ = false;
  bool ok = true;
  try {
    flush_buffer();
    if (!plain_) {
      chain_state::sink sink{chain_.get()};
      chain_->gzip->close(sink, std::ios_base::out);  // ends the member: the trailer
      chain_->drain();
    }
  } catch (const std::bad_alloc&) {
    ::close(chain_->st->fd);
    chain_.reset();
    throw;
  } catch (const std::exception&) {
    ok = false;
  }
  if (chain_->st->error) ok = false;
  if (::close(chain_->st->fd) != 0) ok = false;
  chain_.reset();
  if (!ok) error_ = "Can't write " + name_ + "\n";
  return ok;
}
