// Faults of the file system and of the data, end to end in every mode: full
// disks (also behind the gzip compressor), missing and read-only directories,
// directories and pipes as inputs, gzip data cut short or with a flipped byte.
// Each must end in its message and status 1, never a crash or a silent loss.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "e2e.h"
#include "modes.h"
#include "run_log.h"
#include "trevlin.h"

namespace {

using words = std::vector<std::string>;

const std::string kGen =
    "snp1 rs1 100 A G 1 0 0 0 1 0\n"
    "snp2 rs2 200 C T 0 0 1 1 0 0\n"
    "snp3 rs3 300 A C 0 1 0 0 0 1\n";
const std::string kSample = "ID_1 ID_2 missing\n0 0 0\na a 0\nb b 0\n";
const std::string kPed = "f1 a 0 0 1 1 A A C T A C\nf2 b 0 0 2 2 A G T T C C\n";
const std::string kMap = "1 rs1 0 100\n1 rs2 0 200\n1 rs3 0 300\n";
const std::string kStrand = "100 +\n200 -\n300 +\n";

// Writes every input of every mode, plain or compressed (names end in ".gz").
void write_inputs(const temp_dir& d, bool gz) {
  auto put = [&](const std::string& name, const std::string& text) {
    if (gz)
      d.write_gz(name + ".gz", text);
    else
      d.write(name, text);
  };
  put("in.gen", kGen);
  put("in2.gen", kGen);
  put("in.sample", kSample);
  put("in2.sample", kSample);
  put("in.ped", kPed);
  put("in.map", kMap);
  put("strand", kStrand);
  put("ids", "a\n");
  put("snps", "rs2\n");
}

// One run of a mode of the mode table, every file it reads and writes named
// by a word of its own (the outputs o1 and o2); z is "" or ".gz" for the inputs.
words mode_run(const mode_row& m, const std::string& z) {
  const std::string flag = m.flag;
  if (flag == "-S")
    return {"-S", "--g", "in.gen" + z, "--s", "in.sample" + z, "--sample_id", "ids" + z,
            "--exclusion", "snps" + z, "--og", "o1", "--os", "o2"};
  if (flag == "-P") return {"-P", "--ped", "in.ped" + z, "--map", "in.map" + z, "--og", "o1", "--os", "o2"};
  if (flag == "-G") return {"-G", "--g", "in.gen" + z, "--s", "in.sample" + z, "--ped", "o1", "--map", "o2"};
  if (flag == "-M")
    return {"-M", "--g", "in.gen" + z, "in2.gen" + z, "--s", "in.sample" + z, "in2.sample" + z,
            "--og", "o1", "--os", "o2"};
  if (flag == "-O") return {"-O", "--g", "in.gen" + z, "--strand", "strand" + z, "--og", "o1"};
  if (flag == "-U") return {"-U", "--s", "in.sample" + z};
  ADD_FAILURE() << "no run of " << flag;
  return {flag};
}

// The files that a run reads, or writes, as its row of the mode table names
// them once its checks have run.
std::vector<std::string> files_of(const words& args, bool outputs) {
  words all = {"trevlin"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : all) argv.push_back(&w[0]);
  option_values v;
  std::string bad;
  EXPECT_EQ(parse_options(static_cast<int>(argv.size()), argv.data(), v, bad), parse_status::ok);
  const mode_row* m = find_mode(args[0]);
  run_log quiet;  // the checks pass, and print nothing
  EXPECT_TRUE(m && m->check(v, quiet) == check_status::ready) << echo_line(args);
  std::vector<std::string> names = m ? (outputs ? m->outputs(v) : m->inputs(v)) : words{};
  names.erase(std::remove(names.begin(), names.end(), ""), names.end());
  return names;
}

// The words, with the one that is `name` made `by`.
words replaced(words args, const std::string& name, const std::string& by) {
  auto at = std::find(args.begin(), args.end(), name);
  EXPECT_NE(at, args.end()) << name << " in " << echo_line(args);
  if (at != args.end()) *at = by;
  return args;
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Status 1, the message last on standard output and in the log.
void expect_failure(const temp_dir& d, const words& args, const std::string& message,
                    bool logged = true) {
  SCOPED_TRACE(echo_line(args));
  run_result r = run_trevlin(d.path(), args);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(ends_with(r.out, message)) << r.out;
  if (logged) {
    EXPECT_TRUE(ends_with(d.read("trevlin.log"), message)) << d.read("trevlin.log");
  }
  EXPECT_EQ(r.err, "");
}

// Each output of each mode in turn is the one that cannot be written.
TEST(Fault, FullDiskPlainAndCompressed) {
  for (const mode_row& m : mode_table) {
    for (const std::string& name : files_of(mode_run(m, ""), true)) {
      for (bool gz : {false, true}) {
        temp_dir d;
        write_inputs(d, gz);
        // The compressor writes only at its close; a name with ".gz" that is
        // the full device makes that close the write that fails.
        std::string out = gz ? "full.gz" : "/dev/full";
        if (gz) {
          ASSERT_EQ(symlink("/dev/full", d.file("full.gz").c_str()), 0);
        }
        expect_failure(d, replaced(mode_run(m, gz ? ".gz" : ""), name, out), "Can't write " + out + "\n");
      }
    }
  }
}

TEST(Fault, OutputDirectoryMissingOrReadOnly) {
  for (const mode_row& m : mode_table) {
    const words args = mode_run(m, "");
    for (const std::string& name : files_of(args, true)) {
      temp_dir d;
      write_inputs(d, false);
      expect_failure(d, replaced(args, name, "nodir/out"), "Can't open nodir/out\n");
      if (geteuid() == 0) continue;  // root writes into read-only directories
      ASSERT_EQ(mkdir(d.file("ro").c_str(), 0555), 0);
      expect_failure(d, replaced(args, name, "ro/out"), "Can't open ro/out\n");
    }
  }
}

// Each input of each mode in turn is a directory. The mode table lists
// every file of the run that the test wrote as an input.
TEST(Fault, InputIsADirectory) {
  for (const mode_row& m : mode_table) {
    const words args = mode_run(m, "");
    const std::vector<std::string> inputs = files_of(args, false);
    temp_dir written;
    write_inputs(written, false);
    for (const std::string& w : args) {
      if (written.exists(w)) {
        EXPECT_NE(std::find(inputs.begin(), inputs.end(), w), inputs.end()) << w;
      }
    }
    for (const std::string& name : inputs) {
      temp_dir d;
      write_inputs(d, false);
      ASSERT_EQ(mkdir(d.file("adir").c_str(), 0755), 0);
      // -U has no log.
      expect_failure(d, replaced(args, name, "adir"), "Can't open adir\n", std::string(m.flag) != "-U");
    }
  }
}

// The compressed input of each mode, and the words that read it.
struct gz_row {
  std::string file, text;
  words args;
  bool logged;
};

std::vector<gz_row> gz_rows() {
  std::string long_gen;
  for (int i = 0; i < 400; ++i)
    long_gen += "snp" + std::to_string(i) + " rs" + std::to_string(i) + " " +
                std::to_string(1000 + i) + " A G 0.9 0.1 0 0 1 0\n";
  // The SAMPLE rows end at a short row; the damage comes after it.
  std::string long_sample = kSample + "x\n";
  for (int i = 0; i < 400; ++i) long_sample += "s" + std::to_string(i) + " s" + std::to_string(i) + " 0\n";
  return {
      {"in.gen.gz", long_gen, {"-S", "--g", "in.gen.gz", "--start", "0"}, true},
      {"in.sample.gz", long_sample, {"-S", "--g", "in.gen", "--s", "in.sample.gz", "--sample_id", "ids"}, true},
      {"in.sample.gz", long_sample, {"-M", "--g", "in.gen", "in2.gen", "--s", "in.sample.gz", "in2.sample"}, true},
      {"in.ped.gz", kPed + kPed, {"-P", "--ped", "in.ped.gz", "--map", "in.map"}, true},
      {"in.map.gz", kMap, {"-P", "--ped", "in.ped", "--map", "in.map.gz"}, true},
      {"in.gen.gz", long_gen, {"-G", "--g", "in.gen.gz", "--s", "in.sample"}, true},
      {"in.gen.gz", long_gen, {"-M", "--g", "in.gen.gz", "in2.gen", "--s", "in.sample", "in2.sample"}, true},
      {"in.gen.gz", long_gen, {"-O", "--g", "in.gen.gz", "--strand", "strand"}, true},
      {"in.sample.gz", kSample, {"-U", "--s", "in.sample.gz"}, false},
  };
}

TEST(Fault, GzipInputCutAtEveryTenth) {
  for (const gz_row& g : gz_rows()) {
    std::string z = gzip_bytes(g.text);
    for (int k = 1; k <= 9; ++k) {
      SCOPED_TRACE("cut at " + std::to_string(k) + "/10");
      temp_dir d;
      write_inputs(d, false);
      d.write(g.file, z.substr(0, z.size() * k / 10));
      // -U and the merge decide by content: two bytes or fewer are no gzip data.
      expect_failure(d, g.args, "Damaged gzip file: " + g.file + "\n", g.logged);
    }
  }
}

TEST(Fault, GzipInputWithAFlippedByte) {
  for (const gz_row& g : gz_rows()) {
    const std::string z = gzip_bytes(g.text);
    // Stored blocks (level 0) hold the text as it stands: the third blank
    // made a '0' gives a bad first line (or row), and only the CRC-32 shows
    // the damage.
    const std::string stored = gzip_bytes(g.text, 0);
    size_t blank = 0;
    for (int k = 0; k < 3; ++k) blank = g.text.find(' ', blank) + 1;
    const size_t text_at = stored.find(g.text.substr(0, blank));
    ASSERT_NE(text_at, std::string::npos);
    struct flip {
      const char* where;
      const std::string& bytes;
      size_t at;
    };
    // Deflate data, the CRC-32 of the trailer, its length field, stored text.
    for (const flip& f : {flip{"deflate data", z, z.size() / 2}, flip{"CRC", z, z.size() - 6},
                          flip{"length", z, z.size() - 1},
                          flip{"stored text", stored, text_at + blank - 1}}) {
      SCOPED_TRACE(f.where);
      temp_dir d;
      write_inputs(d, false);
      std::string bad = f.bytes;
      bad[f.at] = static_cast<char>(bad[f.at] ^ 0x10);
      d.write(g.file, bad);
      // A line that damage garbled is not the fault reported: the damage is.
      expect_failure(d, g.args, "Damaged gzip file: " + g.file + "\n", g.logged);
    }
  }
}

TEST(Fault, GzipInputWithBytesAfterTheLastMember) {
  for (const gz_row& g : gz_rows()) {
    for (const std::string& tail : {std::string("GARBAGE\n"), std::string(16, '\0'),
                                    std::string("\x1f\x8b")}) {
      temp_dir d;
      write_inputs(d, false);
      d.write(g.file, gzip_bytes(g.text) + tail);
      expect_failure(d, g.args, "Damaged gzip file: " + g.file + "\n", g.logged);
    }
  }
}

// The same fault in a GEN line gets the same reason from every mode.
TEST(Fault, MalformedGenLineInEveryMode) {
  const std::vector<words> modes = {{"-S", "--g", "in.gen", "--start", "0"},
                                    {"-G", "--g", "in.gen", "--s", "in.sample"},
                                    {"-M", "--g", "in.gen", "--s", "in.sample", "--og", "m.gen", "--os", "m.sample"},
                                    {"-O", "--g", "in.gen", "--strand", "strand"}};
  struct row {
    std::string line, reason;
    size_t modes;  // the first this many modes find the fault
  };
  const std::vector<row> rows = {{"b r", "fewer than 5 fields", 4},
                                 {"s r 1x A G 1 0 0", "position is not a 32-bit integer", 4},
                                 {"s r 200 A G 1 0", "7 fields, expected 8", 2},
                                 {"s r 200 A G 1 0 x", "field 8 is not a number", 3}};
  for (const row& r : rows) {
    for (size_t m = 0; m < r.modes; ++m) {
      temp_dir d;
      write_inputs(d, false);
      d.write("in.gen", "snp1 rs1 100 A G 1 0 0\n" + r.line + "\n");
      expect_failure(d, modes[m], "Bad line 2 in in.gen: " + r.reason + "\n");
    }
  }
}

// The log or standard output cannot be written: every mode still finishes its
// files as usual, then ends with status 1 and says so where it still can. A
// closed standard output is /dev/null, never the log.
TEST(Fault, LogOrStandardOutputCannotBeWritten) {
  using to = run_options::stdout_to;
  struct row {
    const char* what;
    to out;
    bool full_log;
    int status;
    std::string out_tail, err;
  };
  const std::string no_stdout = "Can't write standard output\n";
  const std::vector<row> rows = {
      {"full log", to::capture, true, 1, "Can't write /dev/full\n", ""},
      {"full standard output", to::dev_full, false, 1, "", no_stdout},
      {"reader gone", to::gone_reader, false, 1, "", no_stdout},
      {"closed standard output", to::closed, false, 0, "", ""},
  };
  for (const mode_row& m : mode_table) {
    const words args = mode_run(m, "");
    temp_dir ref;
    write_inputs(ref, false);
    run_result expected = run_trevlin(ref.path(), args);
    ASSERT_EQ(expected.status, 0) << echo_line(args);
    for (const row& r : rows) {
      SCOPED_TRACE(std::string(r.what) + ": " + echo_line(args));
      temp_dir d;
      write_inputs(d, false);
      words a = args;
      if (r.full_log) a.insert(a.end(), {"--log", "/dev/full"});
      run_options opt;
      opt.out = r.out;
      run_result res = run_trevlin(d.path(), a, opt);
      EXPECT_EQ(res.status, r.status);
      EXPECT_EQ(res.err, r.err);
      for (const std::string& out : files_of(args, true)) EXPECT_EQ(d.read(out), ref.read(out));
      if (r.full_log) {
        EXPECT_TRUE(ends_with(res.out, r.out_tail)) << res.out;
      } else {
        EXPECT_EQ(d.read("trevlin.log"), ref.read("trevlin.log") + r.err);
      }
    }
  }
}

// A thread of the test may still wait in open() on a named pipe when the run
// ended before opening its end: opens each other end briefly until it is done.
// Each pipe goes with the flags that open its other end.
void let_go(const std::atomic<bool>& done, const std::vector<std::pair<std::string, int>>& pipes) {
  while (!done) {
    for (const auto& p : pipes) {
      int fd = open(p.first.c_str(), p.second | O_NONBLOCK);
      if (fd >= 0) close(fd);
    }
    usleep(1000);
  }
}

// A log that is a named pipe whose reader reads the first line and goes: the
// mode's own open of the log must not wait for a reader that never comes. The
// GEN input is a named pipe fed only once the reader has gone, so the mode
// meets a gone reader whether it opened the log before or after.
TEST(Fault, LogReaderGoes) {
  temp_dir ref, d;
  write_inputs(ref, false);
  write_inputs(d, false);
  const words args = {"-O", "--g", "g", "--strand", "strand", "--og", "o.gen", "--log", "lg"};
  ASSERT_EQ(run_trevlin(ref.path(), {"-O", "--g", "in.gen", "--strand", "strand", "--og", "o.gen"}).status, 0);
  ASSERT_EQ(mkfifo(d.file("lg").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(d.file("g").c_str(), 0600), 0);
  std::atomic<bool> done{false};
  std::thread reader([&] {
    int fd = open(d.file("lg").c_str(), O_RDONLY);
    char c = 0;
    while (fd >= 0 && c != '\n' && read(fd, &c, 1) == 1) {
    }
    if (fd >= 0) close(fd);
    fd = open(d.file("g").c_str(), O_WRONLY);
    if (fd >= 0 && write(fd, kGen.data(), kGen.size()) < 0) {
    }
    if (fd >= 0) close(fd);
    done = true;
  });
  run_result r = run_trevlin(d.path(), args, 20);
  let_go(done, {{d.file("lg"), O_WRONLY}, {d.file("g"), O_RDONLY}});
  reader.join();
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(ends_with(r.out, "Can't write lg\n")) << r.out;
  EXPECT_EQ(d.read("o.gen"), ref.read("o.gen"));
}

#if !defined(__SANITIZE_ADDRESS__)
// Memory that runs out outside the genotype store ends the run with a
// message, never an abort.
TEST(Fault, MemoryRunsOut) {
  std::string ids;
  for (int i = 0; i < 1000000; ++i) ids += "id" + std::to_string(1000000000 + i) + "\n";
  temp_dir d;
  write_inputs(d, false);
  d.write("ids", ids);
  run_options opt;
  opt.address_space = 48ul << 20;
  run_result r = run_trevlin(d.path(), {"-S", "--g", "in.gen", "--inclusion", "ids"}, opt);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(ends_with(r.out, "Snp_id...\nNot enough memory\n")) << r.out;
  EXPECT_TRUE(ends_with(d.read("trevlin.log"), "Snp_id...\nNot enough memory\n"));
  EXPECT_EQ(r.err, "");
}
#endif

#ifdef FAIL_ALLOC_LIB
// Every allocation of a run in turn fails: once, or for good from there on as
// when memory has truly run out. The run either gets over it and writes what
// it always does, or ends with the memory message; never a signal, never
// another message.
TEST(Fault, EveryAllocationFails) {
  std::vector<words> runs;
  for (const char* z : {"", ".gz"})
    for (const mode_row& m : mode_table) runs.push_back(mode_run(m, z));
  const std::string preload = std::string("LD_PRELOAD=") + FAIL_ALLOC_LIB;
  for (const words& args : runs) {
    temp_dir d;
    write_inputs(d, false);
    write_inputs(d, true);
    run_options opt;
    opt.env = {preload, "TREVLIN_FAIL_ALLOC=0"};
    run_result ref = run_trevlin(d.path(), args, opt);
    ASSERT_EQ(ref.status, 0) << echo_line(args);
    const std::vector<std::string> outs = files_of(args, true);
    std::vector<std::string> ref_outs;
    for (const std::string& out : outs) ref_outs.push_back(d.read(out));
    const long total = std::atol(ref.err.substr(ref.err.find(": ") + 2).c_str());
    ASSERT_GT(total, 10) << ref.err;
    for (const char* all : {"0", "1"}) {
      for (long n = 1; n <= total; ++n) {
        SCOPED_TRACE(std::string("allocation ") + std::to_string(n) + (*all == '1' ? " on" : "") + ": " +
                     echo_line(args));
        opt.env = {preload, "TREVLIN_FAIL_ALLOC=" + std::to_string(n), std::string("TREVLIN_FAIL_ALLOC_ALL=") + all};
        unlink(d.file("trevlin.log").c_str());
        for (const std::string& out : outs) unlink(d.file(out).c_str());
        run_result r = run_trevlin(d.path(), args, opt);
        EXPECT_EQ(r.err, "");
        if (r.status == 0) {
          EXPECT_EQ(r.out, ref.out);
          for (size_t k = 0; k < outs.size(); ++k) EXPECT_EQ(d.read(outs[k]), ref_outs[k]);
          continue;
        }
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(ends_with(r.out, "Not enough memory\n")) << r.out;
        const std::string log = d.read("trevlin.log");
        if (!log.empty()) {
          EXPECT_TRUE(ends_with(log, "Not enough memory\n")) << log;
        }
        if (HasFailure()) return;
      }
    }
  }
}
#endif

// A file-size limit (ulimit -f) makes every writing mode fail with its
// message, never a kill by signal.
TEST(Fault, FileSizeLimit) {
  std::string gen, sample = "ID_1 ID_2 missing\n0 0 0\na a 0\nb b 0\nc c 0\n";
  for (int i = 1; i <= 500; ++i) gen += "s r " + std::to_string(1000 + i) + " A G 1 0 0 0 1 0 0 0 1\n";
  struct row {
    std::vector<std::string> args;
    std::string message;
  } rows[] = {
      {{"-S", "--g", "in.gen", "--start", "0", "--og", "o.gen"}, "Can't write o.gen\n"},
      {{"-O", "--g", "in.gen", "--strand", "in.strand", "--og", "o.gen"}, "Can't write o.gen\n"},
      {{"-G", "--g", "in.gen", "--s", "in.sample", "--ped", "o.ped", "--map", "o.map"},
       "Can't write o.map\n"},
      {{"-M", "--g", "in.gen", "--s", "in.sample", "--og", "o.gen", "--os", "o.sample"},
       "Can't write o.gen\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.args[0]);
    temp_dir d;
    d.write("in.gen", gen);
    d.write("in.sample", sample);
    d.write("in.strand", "1001 +\n");
    run_options opt;
    opt.file_size = 4096;
    run_result res = run_trevlin(d.path(), r.args, opt);
    EXPECT_EQ(res.status, 1) << res.out;
    EXPECT_NE(res.out.find(r.message), std::string::npos) << res.out;
  }
}

// Feeds a named pipe once, from a thread, while the tool runs.
class pipe_feeder {
 public:
  pipe_feeder(const std::string& path, const std::string& text)
      : path_(path), thread_([path, text] {
          int fd = open(path.c_str(), O_WRONLY);
          if (fd < 0) return;
          size_t done = 0;
          while (done < text.size()) {
            ssize_t w = write(fd, text.data() + done, text.size() - done);
            if (w <= 0) break;
            done += static_cast<size_t>(w);
          }
          close(fd);
        }) {}
  ~pipe_feeder() {
    // A writer still waiting for its reader is let go.
    int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
    thread_.join();
    if (fd >= 0) close(fd);
  }

 private:
  std::string path_;
  std::thread thread_;
};

TEST(Fault, NamedPipeInput) {
  struct row {
    std::string text;
    words args;
    int status;
    std::string tail;
  };
  // Modes that read their input twice cannot take a pipe; the others can.
  const std::vector<row> rows = {
      {kGen, {"-S", "--g", "p", "--start", "0"}, 1, "Can't read p\n"},
      {kGen, {"-G", "--g", "p", "--s", "in.sample"}, 1, "Can't read p\n"},
      {kPed, {"-P", "--ped", "p", "--map", "in.map"}, 1, "Can't read p\n"},
      {kGen, {"-M", "--g", "p", "in2.gen", "--s", "in.sample", "in2.sample"}, 1, "Can't read p\n"},
      {kGen, {"-O", "--g", "p", "--strand", "strand", "--og", "o.gen"}, 0,
       "Input SNPs: 3 Output SNPs: 3\n"},
      {kSample, {"-U", "--s", "p"}, 0, "b b 0\n\n\n"},
      {kMap, {"-P", "--ped", "in.ped", "--map", "p"}, 0, "Output...\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(echo_line(r.args));
    temp_dir d;
    write_inputs(d, false);
    ASSERT_EQ(mkfifo(d.file("p").c_str(), 0600), 0);
    run_result res;
    {
      pipe_feeder feed(d.file("p"), r.text);
      res = run_trevlin(d.path(), r.args, 20);
    }
    EXPECT_EQ(res.status, r.status);
    EXPECT_TRUE(ends_with(res.out, r.tail)) << res.out;
  }
  // The strand text read from a pipe is used, not lost.
  temp_dir d;
  write_inputs(d, false);
  ASSERT_EQ(mkfifo(d.file("p").c_str(), 0600), 0);
  {
    pipe_feeder feed(d.file("p"), kGen);
    EXPECT_EQ(run_trevlin(d.path(), {"-O", "--g", "p", "--strand", "strand", "--og", "o.gen"}, 20).status, 0);
  }
  EXPECT_EQ(d.read("o.gen"), "snp1 rs1 100 A G 1 0 0 0 1 0\nsnp2 rs2 200 G A 0 0 1 1 0 0\nsnp3 rs3 300 A C 0 1 0 0 0 1\n");
}

// A GEN input written over in place between the scan and the merge pass:
// the lines at the recorded offsets now hold other positions. The merged GEN
// output is a named pipe, which the run opens after the scan and before the
// merge pass, so the run waits there until the file has been written.
TEST(Fault, MergeInputWrittenOverBetweenPasses) {
  temp_dir d;
  write_inputs(d, false);
  ASSERT_EQ(mkfifo(d.file("m.gen").c_str(), 0600), 0);
  std::atomic<bool> ended{false}, done{false};
  std::thread writer([&] {
    while (!ended && d.read("trevlin.log").find("mismatched alleles") == std::string::npos)
      usleep(1000);
    std::string moved = kGen;
    for (size_t at = 0; (at = moved.find("00 ", at)) != std::string::npos; at += 3) moved[at + 1] = '1';
    d.write("in2.gen", moved);
    int fd = open(d.file("m.gen").c_str(), O_RDONLY);  // the run goes on
    char buf[4096];
    while (fd >= 0 && read(fd, buf, sizeof buf) > 0) {
    }
    if (fd >= 0) close(fd);
    done = true;
  });
  const words args = {"-M", "--g", "in.gen", "in2.gen", "--s", "in.sample", "in2.sample",
                      "--og", "m.gen", "--os", "m.sample"};
  run_result r = run_trevlin(d.path(), args, 20);
  ended = true;
  let_go(done, {{d.file("m.gen"), O_WRONLY}});
  writer.join();
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(ends_with(r.out, "File changed while it was read: in2.gen\n")) << r.out;
  EXPECT_FALSE(d.exists("m.sample"));
}

#ifdef REWRITE_LIB
// An input that a mode reads twice, written over in place as the mode goes
// back to its start: every line keeps its length (and, for -M, its position),
// or the file is emptied, so only the file's size and times can tell. The
// inputs are dated in the past, so the rewrite's times differ at any grain.
TEST(Fault, InputWrittenOverBetweenPasses) {
  const std::string gen = "snp1 rs1 100 G A 0 0 1 0 1 0\nsnp2 rs2 200 T C 1 0 0 1 0 0\n"
                          "snp3 rs3 300 C A 0 1 0 1 0 0\n";
  const std::string ped = "f1 a 0 0 1 1 G G C T A C\nf2 b 0 0 2 2 A G T T C C\n";
  ASSERT_EQ(gen.size(), kGen.size());
  ASSERT_EQ(ped.size(), kPed.size());
  struct row {
    words args;
    std::string file, text;
  };
  const std::vector<row> rows = {
      {{"-S", "--g", "in.gen", "--start", "0", "--og", "o.gen"}, "in.gen", gen},
      {{"-S", "--g", "in.gen", "--start", "0", "--og", "o.gen"}, "in.gen", ""},
      {{"-G", "--g", "in.gen", "--s", "in.sample"}, "in.gen", gen},
      {{"-P", "--ped", "in.ped", "--map", "in.map"}, "in.ped", ped},
      {{"-M", "--g", "in.gen", "in2.gen", "--s", "in.sample", "in2.sample", "--og", "m.gen",
        "--os", "m.sample"},
       "in2.gen", gen},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(echo_line(r.args) + "with " + std::to_string(r.text.size()) + " bytes");
    temp_dir d;
    write_inputs(d, false);
    const struct timeval past[2] = {{946684800, 0}, {946684800, 0}};
    ASSERT_EQ(utimes(d.file(r.file).c_str(), past), 0);
    d.write(r.file + ".new", r.text);
    run_options opt;
    opt.env = {std::string("LD_PRELOAD=") + REWRITE_LIB, "TREVLIN_REWRITE=" + d.file(r.file)};
    run_result res = run_trevlin(d.path(), r.args, opt);
    ASSERT_EQ(d.read(r.file), r.text);  // the rewrite took place
    const std::string message = "File changed while it was read: " + r.file + "\n";
    EXPECT_EQ(res.status, 1);
    EXPECT_TRUE(ends_with(res.out, message)) << res.out;
    EXPECT_TRUE(ends_with(d.read("trevlin.log"), message)) << d.read("trevlin.log");
  }
}
#endif

// A zero byte in a phenotype is '_' in its group's file names: a group that
// has '_' there instead would share its files, and one group's samples would
// be lost.
TEST(Fault, PhenotypeGroupsWithAZeroByte) {
  temp_dir d;
  d.write("in.ped", std::string("f1 a 0 0 1 x\0y A A\nf2 b 0 0 1 x_y A G\n", 38));
  d.write("in.map", "1 rs1 0 100\n");
  expect_failure(d, {"-P", "--ped", "in.ped", "--map", "in.map", "--discrete_phenotype"},
                 "Phenotype groups share a file name: in.ped.sample_x_y\n");
  EXPECT_FALSE(d.exists("in.ped.sample_x_y"));
  EXPECT_FALSE(d.exists("in.ped.sample_x"));
}

}  // namespace
