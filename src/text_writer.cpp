// The text writer: plain text from its buffer straight to the file, gzip
// through the library's compressor driven by hand.
#include "text_writer.h"

#include <cerrno>
#include <new>

#include <fcntl.h>
#include <unistd.h>

#include <boost/iostreams/categories.hpp>
#include <boost/iostreams/filter/gzip.hpp>

namespace bio = boost::iostreams;

bool write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

namespace {

// zlib's default level, no name or time in the header: the same bytes on
// every run.
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

}  // namespace

// The compressor is driven by hand rather than through a stream chain: a
// chain that runs out of memory half-way through being built closes the
// compressor onto a sink that is not there yet.
struct text_writer::compressor {
  static constexpr size_t kStaged = 1 << 16;
  bio::gzip_compressor gzip{output_gzip_params(), 4096};
  std::string staged;  // compressed bytes for the file, kStaged reserved
  compressor() { staged.reserve(kStaged); }
  void drain(text_writer& w) {
    w.write_out(staged.data(), staged.size());
    staged.clear();
  }
  // The compressor's sink: its small writes (down to single bytes of the
  // trailer) meet the file in blocks, with no allocation once open.
  struct sink {
    typedef char char_type;
    typedef bio::sink_tag category;
    text_writer* w;
    std::streamsize write(const char* s, std::streamsize n) {
      std::string& staged = w->gzip_->staged;
      const size_t k = static_cast<size_t>(n);
      if (staged.size() + k > staged.capacity()) w->gzip_->drain(*w);
      if (k >= staged.capacity())
        w->write_out(s, k);
      else
        staged.append(s, k);
      return n;
    }
  };
};

text_writer::text_writer() = default;
text_writer::~text_writer() {
  try {
    if (fd_ >= 0) close();
  } catch (...) {  // already unwinding from a failed allocation
  }
}

bool text_writer::open(const std::string& name, bool compressed) {
  if (fd_ >= 0) close();
  name_ = name;
  error_.clear();
  buf_.clear();
  write_failed_ = false;
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    error_ = "Can't open " + name + "\n";
    return false;
  }
  try {
    gzip_ = compressed ? std::make_unique<compressor>() : nullptr;
    buf_.reserve(kFlushAt + (kFlushAt >> 2));
  } catch (...) {
    ::close(fd);
    throw;
  }
  fd_ = fd;
  return true;
}

void text_writer::flush_buffer() {
  if (fd_ < 0 || buf_.empty()) return;
  ++flushes_;
  if (!gzip_) {
    write_out(buf_.data(), buf_.size());
    buf_.clear();
    return;
  }
  compressor::sink sink{this};
  try {
    gzip_->gzip.write(sink, buf_.data(), static_cast<std::streamsize>(buf_.size()));
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    write_failed_ = true;
  }
  buf_.clear();
}

bool text_writer::close() {
  if (fd_ < 0) return error_.empty();
  bool ok = true;
  try {
    flush_buffer();
    if (gzip_) {
      compressor::sink sink{this};
      gzip_->gzip.close(sink, std::ios_base::out);  // ends the member: the trailer
      gzip_->drain(*this);
    }
  } catch (const std::bad_alloc&) {
    ::close(fd_);
    fd_ = -1;
    gzip_.reset();
    throw;
  } catch (const std::exception&) {
    ok = false;
  }
  if (write_failed_) ok = false;
  if (::close(fd_) != 0) ok = false;
  fd_ = -1;
  gzip_.reset();
  if (!ok) error_ = "Can't write " + name_ + "\n";
  return ok;
}
