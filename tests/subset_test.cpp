// End-to-end tests of -S: counts, sample and SNP selection, missingness, the
// number format, compression and the errors of unusable input.
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "e2e.h"

namespace {

// Four samples: s0 AA, s1 AB, s2 BB, s3 missing (zero triple).
const std::string kGen =
    "snp1 rs1 100 A G 1 0 0 0 1 0 0 0 1 0 0 0\n"
    "snp2 rs2 200 C T 0 1 0 0 1 0 0 1 0 0 0 0\n"
    "snp3 rs3 300 A C 0 0 1 1 0 0 0 0 1 0 0 0\n";
const std::string kSample =
    "ID_1 ID_2 missing\n0 0 0\nf1 i1 0\nf2 i2 0\nf3 i3 0\nf4 i4 0\n";

// The lines every run prints, to standard output and the log alike. `steps`
// stands between the sample counts and "Gen...".
std::string report(const std::vector<std::string>& args, const std::string& outputs,
                   const std::string& in_samples, const std::string& samples_part,
                   const std::string& steps, int in_snps, int out_snps) {
  return echo_line(args) + "Output files: " + outputs + "\nNumber of input samples: " +
         in_samples + "\n" + samples_part + steps + "Gen...\nNumber of input SNPs: " +
         std::to_string(in_snps) + "\nNumber of output SNPs: " + std::to_string(out_snps) +
         "\n";
}

// A run without a sample selection: the log repeats standard output.
e2e_case snp_case(const std::string& name, const std::string& gen,
                  const std::vector<std::string>& extra, const std::string& in_samples,
                  const std::string& steps, int in_snps, int out_snps,
                  const std::string& expected, std::map<std::string, std::string> more = {}) {
  e2e_case c;
  c.name = name;
  c.files = more;
  c.files["in.gen"] = gen;
  c.args = {"-S", "--g", "in.gen"};
  c.args.insert(c.args.end(), extra.begin(), extra.end());
  c.out = report(c.args, "in.gen.subset ", in_samples,
                 "Number of output samples: " + in_samples + "\n", steps, in_snps, out_snps);
  c.log = c.out;
  c.outputs["in.gen.subset"] = expected;
  return c;
}

TEST(Subset, SampleCountFromFirstLineFields) {
  const std::string out1 = "snp1 rs1 100 A G 1 0 0 0 1 0 \n";
  const std::vector<std::string> range = {"--start", "0"};
  std::vector<e2e_case> cases = {
      snp_case("single blanks", "snp1 rs1 100 A G 1 0 0 0 1 0\n", range, "2", "positions...\n", 1, 1, out1),
      snp_case("doubled blanks", "snp1  rs1  100  A  G  1  0  0  0  1  0\n", range, "2", "positions...\n", 1, 1, out1),
      snp_case("tab and blank", "snp1\t rs1\t 100\t A\t G\t 1\t 0\t 0\t 0\t 1\t 0\n", range, "2", "positions...\n", 1, 1, out1),
      snp_case("CRLF", "snp1 rs1 100 A G 1 0 0 0 1 0\r\n", range, "2", "positions...\n", 1, 1, out1),
      snp_case("trailing blanks", "snp1 rs1 100 A G 1 0 0 0 1 0   \n", range, "2", "positions...\n", 1, 1, out1),
      snp_case("blank lines skipped", "\n  \nsnp1 rs1 100 A G 1 0 0 0 1 0\n\n", range, "2", "positions...\n", 1, 1, out1),
      snp_case("empty file", "", range, "-1", "positions...\n", 0, 0, ""),
      snp_case("five fields: no samples, none missing", "snp1 rs1 100 A G\nsnp2 rs2 200 C T\n",
               {"--missing", "0", "--threshold", "0.9"}, "0", "", 2, 2,
               "snp1 rs1 100 A G \nsnp2 rs2 200 C T \n"),
  };
  for (const e2e_case& c : cases) run_case(c);
}

TEST(Subset, PositionRange) {
  const std::string gen =
      "a ra -5 A G 1 0 0\nb rb 0 A G 1 0 0\nc rc 99 A G 1 0 0\nd rd 100 A G 1 0 0\n"
      "e re 200 A G 1 0 0\nf rf 201 A G 1 0 0\n";
  auto lines = [](const std::string& ids) {
    std::string s;
    const std::map<char, std::string> pos = {{'a', "-5"}, {'b', "0"},   {'c', "99"},
                                             {'d', "100"}, {'e', "200"}, {'f', "201"}};
    for (char id : ids)
      s += std::string(1, id) + " r" + id + " " + pos.at(id) + " A G 1 0 0 \n";
    return s;
  };
  struct row {
    std::vector<std::string> args;
    std::string kept;
  };
  std::vector<row> rows = {
      {{"--start", "100", "--end", "200"}, "de"},
      {{"--start", "100"}, "def"},
      {{"--end", "200"}, "bcde"},
      {{"--start", "5", "--end", "0"}, "cdef"},
      {{"--start", "-1"}, "bcdef"},
      {{"--start", "-5"}, "abcdef"},
  };
  for (const row& r : rows)
    run_case(snp_case(r.args[0] + r.args[1], gen, r.args, "1", "positions...\n", 6,
                      static_cast<int>(r.kept.size()), lines(r.kept)));
}

TEST(Subset, InclusionAndExclusionLists) {
  const std::string gen =
      "snp1 rs1 100 A G 1 0 0\nsnp2 rs2 200 A G 1 0 0\nsnp3 rs3 300 A G 1 0 0\n"
      "snp4 rs4 400 A G 1 0 0\n";
  auto lines = [](const std::string& ids) {
    std::string s;
    for (char id : ids)
      s += std::string("snp") + id + " rs" + id + " " + id + "00 A G 1 0 0 \n";
    return s;
  };
  // Matched by rs_id or snp_id, case-sensitive; one id per line or tab-separated.
  const std::map<std::string, std::string> lists = {{"inc.txt", "rs1\nsnp3\nRS4\n"},
                                                    {"exc.txt", "snp1\trs2\n"}};
  struct row {
    std::string name;
    std::vector<std::string> args;
    std::string steps, kept;
  };
  std::vector<row> rows = {
      {"inclusion alone", {"--inclusion", "inc.txt"}, "Snp_id...\n", "13"},
      {"inclusion wins over exclusion", {"--inclusion", "inc.txt", "--exclusion", "exc.txt"},
       "Snp_id...\nExclusion...\n", "13"},
      {"exclusion alone", {"--exclusion", "exc.txt"}, "Exclusion...\n", "34"},
      {"range plus inclusion", {"--start", "300", "--inclusion", "inc.txt"},
       "positions...\nSnp_id...\n", "134"},
      {"range minus exclusion", {"--end", "300", "--exclusion", "exc.txt"},
       "positions...\nExclusion...\n", "3"},
  };
  for (const row& r : rows)
    run_case(snp_case(r.name, gen, r.args, "1", r.steps, 4, static_cast<int>(r.kept.size()),
                      lines(r.kept), lists));
}

TEST(Subset, Missingness) {
  const std::vector<std::string> args = {"--missing", "0.25", "--threshold", "0.9"};
  const std::string gen =
      // one sample below 0.9 everywhere: ratio 0.25, kept
      "one rs 1 A G 1 0 0 0.5 0.4 0.1 1 0 0 0 0 1\n"
      // two: ratio 0.5, dropped
      "two rs 2 A G 0.5 0.4 0.1 0.5 0.4 0.1 1 0 0 0 0 1\n"
      // P(AB) exactly 0.9 is called, the zero triple is missing
      "edge rs 3 A G 0.05 0.9 0.05 0 0 0 1 0 0 0 0 1\n"
      "zeros rs 4 A G 0 0 0 0 0 0 1 0 0 1 0 0\n";
  run_case(snp_case("ratio at, above and below", gen, args, "4", "", 4, 2,
                    "one rs 1 A G 1 0 0 0.5000 0.4000 0.1000 1 0 0 0 0 1 \n"
                    "edge rs 3 A G 0.0500 0.9000 0.0500 0 0 0 1 0 0 0 0 1 \n"));

  // Samples that are not written still count towards the ratio.
  e2e_case c;
  c.name = "unselected samples count";
  c.files = {{"in.gen", "a rs 1 A G 1 0 0 0 0 0 0 0 0\nb rs 2 A G 1 0 0 1 0 0 0 0 0\n"},
             {"in.sample", "ID_1 ID_2 missing\n0 0 0\nf1 i1 0\nf2 i2 0\nf3 i3 0\n"},
             {"keep.txt", "i1"}};
  c.args = {"-S", "--g", "in.gen", "--s", "in.sample", "--sample_id", "keep.txt",
            "--missing", "0.5", "--threshold", "0.9"};
  c.out = report(c.args, "in.gen.subset in.sample.subset", "3",
                 "Samples...\nNumber of output samples: 1\n", "", 2, 1);
  c.check_log = false;
  c.outputs["in.gen.subset"] = "b rs 2 A G 1 0 0 \n";
  run_case(c);
}

// A sample selection run on kGen: the SAMPLE output and the triples written.
e2e_case sample_case(const std::string& name, const std::string& sample,
                     const std::map<std::string, std::string>& lists,
                     const std::vector<std::string>& options, int kept,
                     const std::string& log_part, const std::string& out_sample,
                     const std::string& out_gen) {
  e2e_case c;
  c.name = name;
  c.files = lists;
  c.files["in.gen"] = kGen;
  c.files["in.sample"] = sample;
  c.args = {"-S", "--g", "in.gen", "--s", "in.sample"};
  c.args.insert(c.args.end(), options.begin(), options.end());
  std::string counted = "Number of output samples: " + std::to_string(kept) + "\n";
  c.out = report(c.args, "in.gen.subset in.sample.subset", "4", "Samples...\n" + counted, "", 3, 3);
  c.log = report(c.args, "in.gen.subset in.sample.subset", "4",
                 "Samples...\n" + log_part + counted, "", 3, 3);
  c.outputs["in.sample.subset"] = out_sample;
  c.outputs["in.gen.subset"] = out_gen;
  return c;
}

TEST(Subset, SampleSelection) {
  const std::string head = "ID_1 ID_2 missing\n0 0 0\n";
  const std::string gen_13 =  // samples 1 and 3
      "snp1 rs1 100 A G 0 1 0 0 0 0 \nsnp2 rs2 200 C T 0 1 0 0 0 0 \n"
      "snp3 rs3 300 A C 1 0 0 0 0 0 \n";
  const std::string gen_0 =
      "snp1 rs1 100 A G 1 0 0 \nsnp2 rs2 200 C T 0 1 0 \nsnp3 rs3 300 A C 0 0 1 \n";
  const std::string inc_log =
      "Number of samples in subset file: 2\nsample_file: i1\nsample_file: i2\n"
      "i2 1 f2 i2 0\nsample_file: i3\nsample_file: i4\ni4 3 f4 i4 0\n";
  std::vector<e2e_case> cases = {
      // ID_2 of one row, ID_1 of another; the exclusion list is not consulted.
      sample_case("inclusion by either id", kSample, {{"inc", "i2 f4"}, {"exc", "i2"}},
                  {"--sample_id", "inc", "--sample_excl", "exc"}, 2, inc_log,
                  head + "f2 i2 0\nf4 i4 0\n", gen_13),
      sample_case("exclusion alone", kSample, {{"exc", "i1\nf3\n"}}, {"--sample_excl", "exc"}, 2,
                  "Number of samples in subset file: 0\n", head + "f2 i2 0\nf4 i4 0\n", gen_13),
      sample_case("blank row ends the rows", head + "f1 i1 0\n\nf2 i2 0\n", {{"exc", "x"}},
                  {"--sample_excl", "exc"}, 1, "Number of samples in subset file: 0\n",
                  head + "f1 i1 0\n", gen_0),
      sample_case("CRLF rows copied with their CR", "ID_1 ID_2 missing\r\n0 0 0\r\nf1 i1 0\r\nf2 i2 0\r\n",
                  {{"inc", "i1\r\n"}}, {"--sample_id", "inc"}, 1,
                  "Number of samples in subset file: 1\nsample_file: i1\ni1 0 f1 i1 0\r\nsample_file: i2\n",
                  "ID_1 ID_2 missing\r\n0 0 0\r\nf1 i1 0\r\n", gen_0),
  };
  for (const e2e_case& c : cases) run_case(c);
}

// With the log on standard output (a pipe here), the text shows where each
// side flushes: a line ending in a flush hands on everything buffered before it.
TEST(Subset, FlushPoints) {
  auto twice = [](const std::string& s) { return s + s; };
  struct row {
    std::string name;
    std::vector<std::string> options;
    std::map<std::string, std::string> lists;
    std::string expected;  // after the two echo lines
  };
  const std::string outputs = "Output files: in.gen.subset in.sample.subset\n";
  std::vector<row> rows = {
      {"log-only sample lines are flushed one by one",
       {"--s", "in.sample", "--sample_id", "inc"},
       {{"inc", "i2 f4"}},
       twice(outputs) + twice("Number of input samples: 4\n") +
           "Samples...\nNumber of samples in subset file: 2\nsample_file: i1\nsample_file: i2\n"
           "i2 1 f2 i2 0\nsample_file: i3\nsample_file: i4\ni4 3 f4 i4 0\n"
           "Samples...\nNumber of output samples: 2\nNumber of output samples: 2\n" +
           twice("Gen...\nNumber of input SNPs: 3\n") + twice("Number of output SNPs: 3\n")},
      {"step lines wait for the next count",
       {"--start", "200", "--inclusion", "inc", "--exclusion", "exc"},
       {{"inc", "rs1"}, {"exc", "rs2"}},
       twice("Output files: in.gen.subset \n") + twice("Number of input samples: 4\n") +
           twice("Number of output samples: 4\n") +
           twice("positions...\nSnp_id...\nExclusion...\nGen...\nNumber of input SNPs: 3\n") +
           twice("Number of output SNPs: 2\n")},
  };
  for (const row& r : rows) {
    e2e_case c;
    c.name = r.name;
    c.files = r.lists;
    c.files["in.gen"] = kGen;
    c.files["in.sample"] = kSample;
    c.args = {"-S", "--g", "in.gen"};
    c.args.insert(c.args.end(), r.options.begin(), r.options.end());
    c.args.insert(c.args.end(), {"--log", "/dev/stdout"});
    c.out = twice(echo_line(c.args)) + r.expected;
    c.check_log = false;
    run_case(c);
  }
}

// The stream conversions that the output must agree with: formatted
// extraction of a double, fixed notation with 0 or 4 decimals.
std::string stream_format(const std::string& field) {
  std::istringstream in(field);
  double v = 0;
  in >> v;
  std::ostringstream out;
  out << std::fixed << std::setprecision(v == std::floor(v) ? 0 : 4) << v;
  return out.str();
}

TEST(Subset, NumberFormat) {
  std::vector<std::string> fields = {"0.99999", "1",      "0.00004", "-0.25",  "1.0",
                                     "0.5",     "0.3333", "1e-05",   "+0.75",  "-0",
                                     "0.03125", "0.00005", "0.99995", "0.12345", "2.5e-1",
                                     "123456.78905", "0.000049999999", ".5", "3.", "17"};
  // Random values, many of them close to a rounding tie of the fourth decimal.
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(0, 1);
  for (int i = 0; i < 3000; ++i) {
    std::ostringstream s;
    double v = i % 3 ? u(rng) : (std::floor(u(rng) * 10000) + 0.5) / 10000;
    s << std::setprecision(i % 2 ? 17 : 6) << v;
    fields.push_back(s.str());
  }
  while (fields.size() % 3) fields.push_back("0");
  std::string in = "snp rs 1 A G";
  for (const std::string& f : fields) in += " " + f;
  temp_dir dir;
  dir.write("in.gen", in + "\n");
  ASSERT_EQ(run_trevlin(dir.path(), {"-S", "--g", "in.gen", "--start", "0"}).status, 0);
  std::istringstream got(dir.read("in.gen.subset"));
  std::string word;
  for (int i = 0; i < 5; ++i) got >> word;
  for (const std::string& f : fields) {
    ASSERT_TRUE(got >> word);
    ASSERT_EQ(word, stream_format(f)) << "input " << f;
  }
  EXPECT_FALSE(got >> word);

  // The documented examples, spelled out.
  run_case(snp_case("examples", "s r 1 A G 0.99999 1 0.00004 -0.25 0 0.5\n", {"--start", "0"}, "2",
                    "positions...\n", 1, 1, "s r 1 A G 1.0000 1 0.0000 -0.2500 0 0.5000 \n"));
  // Below the double range a probability reads as 0, as a stream reads it.
  run_case(snp_case("underflow", "s r 1 A G 1e-400 0 1\n", {"--start", "0"}, "1",
                    "positions...\n", 1, 1, "s r 1 A G 0 0 1 \n"));
}

TEST(Subset, GzipInAndOut) {
  e2e_case c;
  c.name = "gzip GEN, SAMPLE and list";
  c.files = {{"in.gen.gz", kGen}, {"in.sample", kSample}, {"keep.txt.gz", "i1\n"}};
  c.args = {"-S", "--g", "in.gen.gz", "--s", "in.sample", "--sample_id", "keep.txt.gz"};
  c.out = report(c.args, "in.gen.subset.gz in.sample.subset.gz", "4",
                 "Samples...\nNumber of output samples: 1\n", "", 3, 3);
  c.check_log = false;
  c.outputs = {{"in.gen.subset.gz", "snp1 rs1 100 A G 1 0 0 \nsnp2 rs2 200 C T 0 1 0 \nsnp3 rs3 300 A C 0 0 1 \n"},
               {"in.sample.subset.gz", "ID_1 ID_2 missing\n0 0 0\nf1 i1 0\n"}};
  c.gzipped = {{"in.gen.subset.gz", true}, {"in.sample.subset.gz", true}};
  run_case(c);

  // The GEN input's name decides: a plain input gives plain outputs under any name.
  e2e_case p = snp_case("plain input, .gz output name", kGen, {"--og", "out.gz", "--end", "100"},
                        "4", "positions...\n", 3, 1, "");
  p.out = report(p.args, "out.gz ", "4", "Number of output samples: 4\n", "positions...\n", 3, 1);
  p.log = p.out;
  p.outputs = {{"out.gz", "snp1 rs1 100 A G 1 0 0 0 1 0 0 0 1 0 0 0 \n"}};
  p.gzipped = {{"out.gz", false}};
  run_case(p);

  // Outputs are standard gzip files, also when nothing is kept.
  temp_dir dir;
  dir.write_gz("in.gen.gz", kGen);
  run_result r = run_trevlin(dir.path(), {"-S", "--g", "in.gen.gz", "--og", "all.gz", "--start", "0"});
  EXPECT_EQ(r.status, 0);
  r = run_trevlin(dir.path(), {"-S", "--g", "in.gen.gz", "--og", "none.gz", "--start", "1000"});
  EXPECT_EQ(r.status, 0);
  std::string cmd = "cd '" + dir.path() + "' && gzip -dc all.gz > all.txt && gzip -t none.gz";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(dir.read("all.txt").substr(0, 41), "snp1 rs1 100 A G 1 0 0 0 1 0 0 0 1 0 0 0 ");
  EXPECT_GT(dir.read("none.gz").size(), 0u);
  EXPECT_EQ(gunzip_bytes(dir.read("none.gz")), "");
}

// A run that ends in an error: the message goes to both, status 1.
e2e_case error_case(const std::string& name, std::map<std::string, std::string> files,
                    const std::vector<std::string>& args, const std::string& before,
                    const std::string& message) {
  e2e_case c;
  c.name = name;
  c.files = files;
  c.args = args;
  c.status = 1;
  c.out = echo_line(args) + before + message;
  c.check_log = false;
  return c;
}

TEST(Subset, UnusableInput) {
  const std::vector<std::string> sel = {"-S", "--g", "in.gen", "--s", "in.sample", "--sample_id", "keep"};
  std::vector<e2e_case> cases = {
      error_case("missing GEN", {}, {"-S", "--g", "in.gen", "--start", "0"}, "", "Can't open in.gen\n"),
      error_case("missing SAMPLE", {{"in.gen", kGen}, {"keep", "i1"}}, sel, "", "Can't open in.sample\n"),
      error_case("missing list", {{"in.gen", kGen}, {"in.sample", kSample}}, sel, "", "Can't open keep\n"),
      error_case("output is the input", {{"in.gen", kGen}}, {"-S", "--g", "in.gen", "--og", "in.gen", "--start", "0"},
                 "", "Output file is also an input: in.gen\n"),
      error_case("wrong field count", {{"in.gen", "a r 1 A G 1 0 0\n\nb r 2 A G 1 0\n"}},
                 {"-S", "--g", "in.gen", "--start", "0"},
                 "Output files: in.gen.subset \nNumber of input samples: 1\nNumber of output samples: 1\n"
                 "positions...\nGen...\n",
                 "Bad line 3 in in.gen: 7 fields, expected 8\n"),
      error_case("not a number", {{"in.gen", "a r 1 A G 1 0 0\nb r 2 A G 1 x 0\n"}},
                 {"-S", "--g", "in.gen", "--start", "0"},
                 "Output files: in.gen.subset \nNumber of input samples: 1\nNumber of output samples: 1\n"
                 "positions...\nGen...\n",
                 "Bad line 2 in in.gen: field 7 is not a number\n"),
      error_case("doubled sign", {{"in.gen", "a r 1 A G 1 0 0\nb r 2 A G 1 0 +-0\n"}},
                 {"-S", "--g", "in.gen", "--start", "0"},
                 "Output files: in.gen.subset \nNumber of input samples: 1\nNumber of output samples: 1\n"
                 "positions...\nGen...\n",
                 "Bad line 2 in in.gen: field 8 is not a number\n"),
      error_case("number beyond the double range", {{"in.gen", "a r 1 A G 1 0 0\nb r 2 A G 1 1e400 0\n"}},
                 {"-S", "--g", "in.gen", "--start", "0"},
                 "Output files: in.gen.subset \nNumber of input samples: 1\nNumber of output samples: 1\n"
                 "positions...\nGen...\n",
                 "Bad line 2 in in.gen: field 7 is not a number\n"),
      error_case("bad position", {{"in.gen", "a r 1e3 A G 1 0 0\n"}}, {"-S", "--g", "in.gen", "--start", "0"},
                 "Output files: in.gen.subset \nNumber of input samples: 1\nNumber of output samples: 1\n"
                 "positions...\nGen...\n",
                 "Bad line 1 in in.gen: position is not a 32-bit integer\n"),
      error_case("first line too short", {{"in.gen", "a r\n"}}, {"-S", "--g", "in.gen", "--start", "0"},
                 "Output files: in.gen.subset \nNumber of input samples: -1\nNumber of output samples: -1\n"
                 "positions...\nGen...\n",
                 "Bad line 1 in in.gen: fewer than 5 fields\n"),
      error_case("output cannot be created", {{"in.gen", kGen}, {"in.sample", kSample}, {"keep", "i1"}},
                 {"-S", "--g", "in.gen", "--s", "in.sample", "--sample_id", "keep", "--os", "no/dir"},
                 "Output files: in.gen.subset no/dir\nNumber of input samples: 4\nSamples...\n",
                 "Can't open no/dir\n"),
      error_case("disk full", {{"in.gen", kGen}}, {"-S", "--g", "in.gen", "--og", "/dev/full", "--start", "0"},
                 "Output files: /dev/full \nNumber of input samples: 4\nNumber of output samples: 4\n"
                 "positions...\nGen...\n",
                 "Can't write /dev/full\n"),
  };
  cases[0].absent = {"in.gen.subset"};
  cases[1].absent = cases[2].absent = {"in.gen.subset", "in.sample.subset"};
  cases[3].outputs = {{"in.gen", kGen}};
  for (e2e_case& c : cases) {
    c.check_log = true;
    c.log = c.out;
    if (c.name == "output cannot be created")
      c.log.insert(c.log.find("Can't"), "Number of samples in subset file: 1\n");
    run_case(c);
  }
}

TEST(Subset, DamagedGzipInput) {
  std::string gz = gzip_bytes(kGen);
  std::string corrupt = gz;
  corrupt[gz.size() - 6] ^= 0x55;  // CRC-32 of the trailer
  struct row {
    std::string name, bytes, before;
  };
  // A fault near the end of a long file is met by the SNP pass, not the first line.
  std::string long_text;
  for (int i = 0; i < 60000; ++i) long_text += "snp rs " + std::to_string(i) + " A G 1 0 0 0 1 0\n";
  std::string long_gz = gzip_bytes(long_text);
  long_gz[long_gz.size() - 6] ^= 0x55;
  const std::string opened = "Output files: in.gen.subset.gz \n";
  // The text before a fault is handed on, so these first lines still count.
  const std::string counted =
      opened + "Number of input samples: 4\nNumber of output samples: 4\npositions...\nGen...\n";
  std::vector<row> rows = {
      {"not gzip", kGen, opened},
      {"cut short", gz.substr(0, gz.size() / 2), counted},
      {"bad CRC", corrupt, counted},
      {"bad CRC after the first line", long_gz,
       opened + "Number of input samples: 2\nNumber of output samples: 2\npositions...\nGen...\n"},
  };
  for (const row& w : rows) {
    SCOPED_TRACE(w.name);
    temp_dir dir;
    dir.write("in.gen.gz", w.bytes);
    std::vector<std::string> args = {"-S", "--g", "in.gen.gz", "--start", "0"};
    run_result r = run_trevlin(dir.path(), args);
    EXPECT_EQ(r.status, 1);
    std::string expected = echo_line(args) + w.before + "Damaged gzip file: in.gen.gz\n";
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(dir.read("trevlin.log"), expected);
  }

  // A 0-byte file under a gzip name is empty, not damaged.
  temp_dir dir;
  dir.write("in.gen.gz", "");
  run_result r = run_trevlin(dir.path(), {"-S", "--g", "in.gen.gz", "--start", "0"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Number of input samples: -1\n"), std::string::npos);
}

}  // namespace
