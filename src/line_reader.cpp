// The line reader: plain text straight from the file into its buffer, gzip
// data through a chain of our own source and inflater.
#include "line_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/iostreams/categories.hpp>
#include <boost/iostreams/filtering_stream.hpp>
#include <boost/iostreams/read.hpp>
#include <zlib.h>

#include "text.h"

namespace bio = boost::iostreams;

int open_readable(const std::string& name) {
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

// ---- the chain ----
// Our own file source: the library's file devices drop read errors silently.
// This one records the error where the reader can see it.

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

// Bytes the source hands the inflater at a time.
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

std::string not_enough_memory_for_genotypes(std::string_view bytes) {
  std::string s = "Not enough memory for genotypes: ";
  s += bytes;
  s += '\n';
  return s;
}
