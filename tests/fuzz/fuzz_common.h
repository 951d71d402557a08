// Shared pieces of the fuzz targets: a scratch directory per process, the
// input cut into files, and standard output caught in a file so a target can
// check what a mode printed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <zlib.h>

#include "../gzip_text.h"
#include "streams.h"

namespace fuzz {

// Parts of one input are separated by this byte: rare in real files, easy
// for the fuzzer to insert.
constexpr char kSeparator = '\x1f';

inline std::vector<std::string_view> split_parts(std::string_view data, size_t max_parts) {
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < max_parts) {
    size_t at = data.find(kSeparator);
    if (at == std::string_view::npos) break;
    parts.push_back(data.substr(0, at));
    data.remove_prefix(at + 1);
  }
  parts.push_back(data);
  while (parts.size() < max_parts) parts.emplace_back();
  return parts;
}

[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

inline size_t count_lines(std::string_view text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

// The number after label in the printed text, -1 when it is not there.
inline long long printed_count(const std::string& out, const std::string& label) {
  size_t at = out.rfind(label);
  if (at == std::string::npos) return -1;
  return std::strtoll(out.c_str() + at + label.size(), nullptr, 10);
}

// One scratch directory per process; the log of every run goes there.
class scratch {
 public:
  scratch() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/trevlin_fuzz_XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) fail("mkdtemp");
    dir_ = buf.data();
    log_file = file("run.log");
  }
  ~scratch() {
    clear();
    rmdir(dir_.c_str());
  }
  std::string file(const std::string& name) const { return dir_ + "/" + name; }

  void write(const std::string& name, std::string_view bytes) const {
    FILE* f = std::fopen(file(name).c_str(), "wb");
    if (!f) fail("fopen");
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
      fail("fwrite");
    std::fclose(f);
  }
  std::string read(const std::string& name) const {
    std::string s;
    FILE* f = std::fopen(file(name).c_str(), "rb");
    if (!f) return s;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
    return s;
  }
  // The file's text, decompressed when it holds gzip data.
  std::string text(const std::string& name) const {
    std::string b = read(name);
    if (!is_gzip_data(b)) return b;
    bool ok;
    std::string t = gunzip_bytes(b, &ok);
    if (!ok) fail("an output is damaged gzip data");
    return t;
  }
  bool exists(const std::string& name) const { return access(file(name).c_str(), F_OK) == 0; }

  // Removes every file a run left, so runs never see each other's outputs.
  void clear() const {
    DIR* d = opendir(dir_.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
    closedir(d);
    for (const std::string& n : names) unlink(file(n).c_str());
  }

 private:
  std::string dir_;
};

inline scratch& dir() {
  static scratch s;
  return s;
}

// Standard output goes to a file for the length of one call; afterwards
// text() holds what the mode printed.
class captured_stdout {
 public:
  captured_stdout() {
    std::fflush(stdout);
    saved_ = dup(1);
    int fd = open(dir().file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || saved_ < 0) fail("capture");
    dup2(fd, 1);
    close(fd);
  }
  std::string finish() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    saved_ = -1;
    return dir().read("stdout");
  }
  ~captured_stdout() {
    if (saved_ >= 0) finish();
  }

 private:
  int saved_ = -1;
};

// Whether a printed line is one a failed run ends with.
inline bool is_error_line(std::string_view line) {
  static const char* const kErrors[] = {
      "Can't open ",  "Can't read ", "Can't write ", "Damaged gzip file: ", "Bad line ",
      "Not enough memory", "File changed while it was read: ", "SAMPLE file ", "No column ",
      "Phenotype groups share a file name: ", "Output file is "};
  for (const char* e : kErrors)
    if (line.substr(0, std::strlen(e)) == e) return true;
  return false;
}

// The last line printed, after a progress count ended by '\r' too.
inline std::string_view last_line(std::string_view out) {
  if (!out.empty() && out.back() == '\n') out.remove_suffix(1);
  const size_t at = out.find_last_of("\n\r");
  return at == std::string_view::npos ? out : out.substr(at + 1);
}

// Every mode returns 0 or 1; a failure ends with what failed, and a success
// does not. A mode that prints a file's text (prints_text) may end a success
// with any line.
inline void check_status(int status, const std::string& out, bool prints_text = false) {
  if (status != 0 && status != 1) fail("status is neither 0 nor 1");
  const bool error = is_error_line(last_line(out));
  if (status == 1 && !error) fail("status 1 without its error as the last line");
  if (status == 0 && error && !prints_text) fail("status 0 with an error as the last line");
}

}  // namespace fuzz
