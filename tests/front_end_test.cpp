// The run sequence end to end: help, parse failures, the log, mode checks.
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e.h"
#include "trevlin.h"

namespace {

std::string golden(const std::string& name) {
  std::ifstream f(std::string(GOLDEN_DIR) + "/" + name);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// A case whose message goes to both: the log holds the echo line and the message.
e2e_case both(std::string name, std::vector<std::string> args, std::string message) {
  e2e_case c;
  c.name = name;
  c.args = args;
  c.status = 1;
  c.out = echo_line(args) + message;
  c.log = c.out;
  return c;
}

// A case whose message goes to standard output only, after the echo line.
e2e_case out_only(std::string name, std::vector<std::string> args, std::string message) {
  e2e_case c = both(name, args, "");
  c.out += message;
  return c;
}

TEST(FrontEnd, NoWordsPrintsFullHelpAndTouchesNoLog) {
  e2e_case c;
  c.name = "no words";
  c.status = 1;
  c.out = golden("help_all.txt");
  c.check_log = false;
  c.absent = {"trevlin.log"};
  run_case(c);
}

TEST(FrontEnd, ParseFailuresLeaveTheLogAlone) {
  std::vector<e2e_case> rows;
  auto fail = [&](std::string name, std::vector<std::string> args, std::string out) {
    e2e_case c;
    c.name = name;
    c.args = args;
    c.status = 1;
    c.out = out;
    c.files = {{"trevlin.log", "old log\n"}, {"other.log", "other\n"}};
    c.log = "old log\n";
    c.outputs = {{"other.log", "other\n"}};
    rows.push_back(c);
  };
  fail("unknown word", {"-S", "in.gen"}, "Unknown parameter: in.gen\n");
  fail("wrong case", {"-s"}, "Unknown parameter: -s\n");
  fail("value given to a switch", {"--order", "yes"}, "Unknown parameter: yes\n");
  fail("unknown after --log", {"--log", "other.log", "-S", "bogus"}, "Unknown parameter: bogus\n");
  fail("value option last", {"-S", "--start"}, "Missing value for parameter: --start\n");
  fail("decimal comma", {"-G", "--g", "a.gen", "--threshold", "0,9"},
       "Invalid value for parameter: --threshold 0,9\n");
  fail("thousands separators", {"-S", "--g", "a.gen", "--start", "33,000,000", "--og", "o.gen"},
       "Invalid value for parameter: --start 33,000,000\n");
  fail("beyond 32 bits", {"-S", "--g", "a.gen", "--start", "0", "--end", "3000000000"},
       "Invalid value for parameter: --end 3000000000\n");
  fail("merge list ends at a dash word", {"-M", "--g", "a.gen", "-x.gen"}, "Unknown parameter: -x.gen\n");
  for (const e2e_case& c : rows) run_case(c);
}

TEST(FrontEnd, LogFileCannotBeOpened) {
  std::vector<e2e_case> rows;
  for (std::string path : {"", "no/such/dir/x.log"}) {
    e2e_case c;
    c.name = "--log '" + path + "'";
    c.args = {"-U", "--log", path};
    c.status = 1;
    c.out = "Can't open log file: " + path + "\n";
    c.check_log = false;
    c.absent = {"trevlin.log"};
    rows.push_back(c);
  }
  for (const e2e_case& c : rows) run_case(c);
}

TEST(FrontEnd, LogNamingAnInputIsRefused) {
  e2e_case c;
  c.name = "log is the GEN input";
  c.files = {{"in.gen", "1 rs1 100 A G 1 0 0\n"}};
  c.args = {"-O", "--g", "in.gen", "--strand", "s.txt", "--log", "in.gen"};
  c.status = 1;
  c.out = "Log file is also an input: in.gen\n";
  c.check_log = false;
  c.outputs = {{"in.gen", "1 rs1 100 A G 1 0 0\n"}};
  c.absent = {"trevlin.log"};
  run_case(c);
}

TEST(FrontEnd, ModeFlagCount) {
  run_case(both("no mode", {"--g", "a.gen"},
                "No Subset (-S) or Update (-U) or Convert (-P,-G) or Merge (-M) or Orient (-O) flag defined\n"));
  run_case(both("two modes", {"-S", "-G", "--g", "a.gen"},
                "Can only do one of -S,-U,-P,-G,-M,-O in a single run.\n"));
}

TEST(FrontEnd, ModeChecks) {
  std::vector<e2e_case> rows = {
      out_only("-S without GEN", {"-S", "--start", "1"}, golden("help_subset.txt")),
      both("-S without criterion", {"-S", "--g", "a.gen"}, "No subset defined.\n"),
      both("-S sample subset without SAMPLE", {"-S", "--g", "a.gen", "--sample_id", "ids"},
           "Sample subsets require:\n\tsample_id_file or sample_excl_file\n\tgen_sample_file\n"),
      both("-S empty sample list name", {"-S", "--g", "a.gen", "--s", "a.sample", "--sample_id", ""},
           "Sample subsets require:\n\tsample_id_file or sample_excl_file\n\tgen_sample_file\n"),
      out_only("-S missing without threshold", {"-S", "--g", "a.gen", "--missing", "0.1"},
               "Subset. For missingness SNP exclusions must define calling threshold (--threshold).\n"),
      out_only("-S missing with threshold -1", {"-S", "--g", "a.gen", "--missing", "0.1", "--threshold", "-1"},
               "Subset. For missingness SNP exclusions must define calling threshold (--threshold).\n"),
      out_only("-P without MAP", {"-P", "--ped", "a.ped"}, golden("help_ped_to_gen.txt")),
      out_only("-G without SAMPLE", {"-G", "--g", "a.gen"}, golden("help_gen_to_ped.txt")),
      both("-M without GEN", {"-M", "--s", "a.sample"}, "No GEN files defined.\n"),
      both("-M with --g before -M", {"--g", "a.gen", "-M", "--s", "a.sample"}, "No GEN files defined.\n"),
      both("-M without SAMPLE", {"-M", "--g", "a.gen"}, "No SAMPLE files defined.\n"),
      both("-M unequal", {"-M", "--g", "a.gen", "b.gen", "--s", "a.sample"},
           "Different number of GEN and SAMPLE files defined.\n"),
      out_only("-O without strand", {"-O", "--g", "a.gen"}, golden("help_orient.txt")),
  };
  // The check's message goes to standard output only: the log holds the echo line.
  for (e2e_case& c : rows) {
    if (c.out != c.log) c.log = echo_line(c.args);
    run_case(c);
  }
}

TEST(FrontEnd, HelpTopicsNeverAskedByMain) {
  for (std::string topic : {"merge", "update"}) {
    testing::internal::CaptureStdout();
    usage(topic);
    std::string text = testing::internal::GetCapturedStdout();
    EXPECT_EQ(text.rfind("Trevlin v0.6.5 - Data Transformation\n", 0), 0u);
    EXPECT_NE(text.find(topic == "merge" ? "\t-M Merge\n\n" : "\t-U Update GEN and SAMPLE files\n\n"),
              std::string::npos);
    EXPECT_NE(text.find("\t--log FILE\t\t\tName of log file. Use with -S,-G,-P,-M\n\n"), std::string::npos);
  }
  for (std::string topic : {"Subset", "", "bogus"}) {
    testing::internal::CaptureStdout();
    usage(topic);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  }
}

// -U copies the file, each line followed by one more newline; the log holds the echo only.
TEST(Update, PrintsTheSampleFile) {
  std::string big(1000005, 'x');
  struct row {
    std::string name;
    std::string bytes;  // written as they stand
    std::string out;
    int status;
  } rows[] = {
      {"two lines", "a\nb\n", "a\n\nb\n\n\n", 0},
      {"no final newline", "a\nb", "a\n\nb\n", 0},
      {"empty", "", "\n", 0},
      {"CRLF kept", "a\r\n", "a\r\n\n\n", 0},
      {"zero byte", std::string("ab\0cd\nz\n", 8), "ab\nz\n\n\n", 0},
      {"gzip under a plain name", gzip_bytes("x y\n"), "x y\n\n\n", 0},
      {"longer than a megabyte", big + "\n", big + "\n\n\n", 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    temp_dir d;
    d.write("in.sample", r.bytes);
    std::vector<std::string> args = {"-U", "--s", "in.sample", "--og", "x", "--threshold", "2"};
    run_result res = run_trevlin(d.path(), args);
    EXPECT_EQ(res.status, r.status);
    EXPECT_EQ(res.out, echo_line(args) + r.out);
    EXPECT_EQ(d.read("trevlin.log"), echo_line(args));
  }
}

TEST(Update, UnreadableInputs) {
  temp_dir d;
  std::string gz = gzip_bytes("line one\nline two\n");
  d.write("cut.sample", gz.substr(0, gz.size() - 4));
  d.write("plain.gz", "plain text\n");
  struct row {
    std::vector<std::string> args;
    std::string out;
    int status;
  } rows[] = {
      {{"-U", "--s", "missing.sample"}, "Can't open missing.sample\n", 1},
      {{"-U"}, "\n", 0},  // no name: an empty input
      {{"-U", "--s", "cut.sample"}, "line one\n\nline two\n\nDamaged gzip file: cut.sample\n", 1},
      {{"-U", "--s", "plain.gz"}, "plain text\n\n\n", 0},
  };
  for (const row& r : rows) {
    run_result res = run_trevlin(d.path(), r.args);
    EXPECT_EQ(res.status, r.status) << r.out;
    EXPECT_EQ(res.out, echo_line(r.args) + r.out);
  }
}

}  // namespace

namespace {

// Each mode gets its default output names, and ".gz" where the main input has it.
TEST(FrontEnd, DefaultOutputNames) {
  const std::string gen = "s1 rs1 100 A G 1 0 0\n";
  const std::string sample = "ID_1 ID_2 missing\n0 0 0\na b 0\n";
  struct row {
    std::string name;
    std::map<std::string, std::string> files;
    std::vector<std::string> args;
    std::map<std::string, bool> written;  // output -> gzip data or not
    std::vector<std::string> absent;
  } rows[] = {
      {"-S with a sample subset", {{"in.gen.gz", gen}, {"in.sample", sample}, {"ids", "b\n"}},
       {"-S", "--g", "in.gen.gz", "--s", "in.sample", "--sample_id", "ids"},
       {{"in.gen.subset.gz", true}, {"in.sample.subset.gz", true}}, {}},
      {"-S without a sample subset", {{"in.gen.gz", gen}, {"inc", "rs1\n"}},
       {"-S", "--g", "in.gen.gz", "--inclusion", "inc", "--os", "out.sample", "--og", "out.gen"},
       {{"out.gen.gz", true}}, {"out.sample", "out.gen"}},
      {"-S plain input, output named .gz", {{"in.gen", gen}},
       {"-S", "--g", "in.gen", "--start", "1", "--og", "out.gz"}, {{"out.gz", false}}, {}},
      {"-S data.gz.txt", {{"data.gz.txt", gen}}, {"-S", "--g", "data.gz.txt", "--start", "1"},
       {{"data.subset.gz.txt", true}}, {}},
      {"-S a.gzip", {{"a.gzip", gen}}, {"-S", "--g", "a.gzip", "--end", "1000"},
       {{"a.subset.gzip", true}}, {"a.subset.gzip.gz"}},
      {"-P", {{"x.ped.gz", "f1 i1 0 0 1 1 A G\n"}, {"x.map", "1 rs1 0 100\n"}},
       {"-P", "--ped", "x.ped.gz", "--map", "x.map"},
       {{"x.ped.gen.gz", true}, {"x.ped.sample.gz", true}}, {}},
      {"-P given name", {{"x.ped.gz", "f1 i1 0 0 1 1 A G\n"}, {"x.map", "1 rs1 0 100\n"}},
       {"-P", "--ped", "x.ped.gz", "--map", "x.map", "--og", "out.gen"},
       {{"out.gen.gz", true}, {"x.ped.sample.gz", true}}, {"out.gen"}},
      {"-G", {{"in.gen.gz", gen}, {"in.sample", sample}}, {"-G", "--g", "in.gen.gz", "--s", "in.sample"},
       {{"in.gen.ped.gz", true}, {"in.gen.map.gz", true}}, {}},
      {"-O", {{"a.gen.gz", gen}, {"s", "100 +\n"}}, {"-O", "--g", "a.gen.gz", "--strand", "s"},
       {{"a.gen.orient.gz", true}}, {}},
      {"-O given name", {{"a.gen.gz", gen}, {"s", "100 +\n"}},
       {"-O", "--g", "a.gen.gz", "--strand", "s", "--og", "b.gen"}, {{"b.gen.gz", true}}, {"b.gen"}},
      {"-M", {{"a.gen.gz", gen}, {"b.gen.gz", gen}, {"a.sample", sample}, {"b.sample", sample}},
       {"-M", "--g", "a.gen.gz", "b.gen.gz", "--s", "a.sample", "b.sample"},
       {{"a_b.gen.gz", true}, {"a_b.sample.gz", true}}, {}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    temp_dir d;
    d.write_inputs(r.files);
    run_result res = run_trevlin(d.path(), r.args);
    EXPECT_EQ(res.status, 0) << res.out;
    for (const auto& w : r.written) {
      EXPECT_TRUE(d.exists(w.first)) << w.first;
      EXPECT_EQ(is_gzip_data(d.read(w.first)), w.second) << w.first;
    }
    for (const std::string& a : r.absent) EXPECT_FALSE(d.exists(a)) << a;
  }
}

}  // namespace

namespace {

// Two outputs on one file, or an output on the log, are refused before any
// output is written; the inputs stay as they were.
TEST(FrontEnd, OutputsThatWouldOverwriteEachOther) {
  const std::string gen = "s1 rs1 100 A G 1 0 0\n";
  const std::string sample = "ID_1 ID_2 missing\n0 0 0\na b 0\n";
  // status 0: the run goes through, message its last line.
  struct row {
    std::vector<std::string> args;
    std::string message;
    int status = 1;
  } rows[] = {
      {{"-S", "--g", "in.gen", "--s", "in.sample", "--sample_id", "ids", "--og", "out", "--os", "out"},
       "Output file is named twice: out\n"},
      {{"-G", "--g", "in.gen", "--s", "in.sample", "--ped", "out", "--map", "out"},
       "Output file is named twice: out\n"},
      {{"-P", "--ped", "in.ped", "--map", "in.map", "--og", "out", "--os", "out"},
       "Output file is named twice: out\n"},
      {{"-M", "--g", "in.gen", "in.gen", "--s", "in.sample", "in.sample", "--og", "out", "--os", "out"},
       "Output file is named twice: out\n"},
      {{"-O", "--g", "in.gen", "--strand", "s", "--og", "run.log", "--log", "run.log"},
       "Output file is also the log file: run.log\n"},
      {{"-S", "--g", "in.gen", "--start", "1", "--og", "trevlin.log"},
       "Output file is also the log file: trevlin.log\n"},
      // two spellings of one file that does not exist yet
      {{"-S", "--g", "in.gen", "--s", "in.sample", "--sample_id", "ids", "--og", "out", "--os", "./out"},
       "Output file is named twice: ./out\n"},
      {{"-P", "--ped", "in.ped", "--map", "in.map", "--discrete_phenotype", "--og", "./out", "--os", "out"},
       "Output file is named twice: ./out_1\n"},
      {{"-O", "--g", "in.gen", "--strand", "s", "--og", "./run.log", "--log", "run.log"},
       "Output file is also the log file: ./run.log\n"},
      // nothing written to a character device can be lost: a count-only run
      {{"-S", "--g", "in.gen", "--s", "in.sample", "--sample_id", "ids", "--og", "/dev/null",
        "--os", "/dev/null", "--log", "/dev/null"},
       "Number of output SNPs: 1\n", 0},
      {{"-G", "--g", "in.gen", "--s", "in.sample", "--ped", "null", "--map", "/dev/null", "--log", "null"},
       "Output...\n", 0},
      {{"-S", "--g", "in.gen", "--inclusion", "/dev/null", "--start", "1", "--og", "/dev/null", "--log",
        "/dev/null"},
       "Number of output SNPs: 1\n", 0},
      {{"-S", "--g", "in.gen", "--s", "in.sample", "--sample_id", "ids", "--og", "out", "--os", "out",
        "--log", "/dev/null"},
       "Output file is named twice: out\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.message + r.args[0]);
    temp_dir d;
    d.write("in.gen", gen);
    d.write("in.sample", sample);
    d.write("ids", "b\n");
    d.write("in.ped", "f1 i1 0 0 1 1 A G\n");
    d.write("in.map", "1 rs1 0 100\n");
    d.write("s", "100 +\n");
    ASSERT_EQ(symlink("/dev/null", d.file("null").c_str()), 0);
    run_result res = run_trevlin(d.path(), r.args);
    EXPECT_EQ(res.status, r.status);
    EXPECT_NE(res.out.find(r.message), std::string::npos) << res.out;
    EXPECT_EQ(res.out.substr(res.out.size() - r.message.size()), r.message);
    if (r.status == 1 && r.message.find("log file") == std::string::npos) {
      EXPECT_FALSE(d.exists("out"));
      EXPECT_FALSE(d.exists("out_1"));
    }
    EXPECT_EQ(d.read("in.gen"), gen);
  }
}

}  // namespace
