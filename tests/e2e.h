// End-to-end harness: runs the real binary in a fresh directory on files the
// test writes, and compares status, standard output, the log and outputs.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "gzip_text.h"

// A fresh temporary directory, removed when the object goes away.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& bytes) const;
  // Writes text gzip-compressed (one member).
  void write_gz(const std::string& name, const std::string& text) const;
  // Writes each file, compressed when its name contains ".gz".
  void write_inputs(const std::map<std::string, std::string>& files) const;
  std::string read(const std::string& name) const;  // "" when missing
  bool exists(const std::string& name) const;

 private:
  std::string path_;
};

struct run_result {
  int status = -1;    // exit status; 128+signal when killed
  std::string out;    // standard output
  std::string err;    // standard error (the tool writes none)
};

// Where the child's standard output goes, and limits it runs under.
struct run_options {
  enum class stdout_to { capture, dev_full, gone_reader, closed };
  stdout_to out = stdout_to::capture;
  unsigned long address_space = 0;  // bytes; 0: no cap
  unsigned long file_size = 0;      // bytes any file may reach; 0: no cap
  int timeout_s = 120;
  std::vector<std::string> env;  // NAME=VALUE added to the child's environment
};

// Runs the tool in dir with these words after the program name, which is
// given to it as "trevlin". Killed after timeout_s seconds.
run_result run_trevlin(const std::string& dir, const std::vector<std::string>& args,
                       int timeout_s = 120);
run_result run_trevlin(const std::string& dir, const std::vector<std::string>& args,
                       const run_options& opt);

// The echo line the tool prints first: "trevlin" and the words, then "\n".
std::string echo_line(const std::vector<std::string>& args);


// One end-to-end case: the files to write, the words, and what must come out.
// expect_log "" with check_log=true means an empty log; outputs are compared
// as text, decompressed first when they are gzip data (is_gzip_data).
struct e2e_case {
  std::string name;
  std::map<std::string, std::string> files;  // plain files to create
  std::vector<std::string> args;
  int status = 0;
  std::string out;                 // expected standard output, echo line included
  bool check_log = true;
  std::string log;                 // expected trevlin.log (echo line included)
  std::map<std::string, std::string> outputs;  // file -> expected text
  std::vector<std::string> absent;             // files that must not exist
  std::map<std::string, bool> gzipped;         // file -> must (not) be gzip data
};

// Runs one case in a fresh directory and reports every difference as a
// test failure. Inputs whose names contain ".gz" are written compressed.
void run_case(const e2e_case& c);
