// End-to-end tests of -G: calling, SAMPLE columns, MAP layouts, compression, bad input.
#include <algorithm>
#include <csignal>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>

#include <gtest/gtest.h>

#include "e2e.h"
#include "gen_to_ped.h"

namespace {

const std::string kSample2 = "ID_1 ID_2 missing\n0 0 0\nS1 x 0\nS2 y 0\n";

std::vector<std::string> g2p(std::vector<std::string> extra = {},
                             const std::string& gen = "in.gen",
                             const std::string& sample = "in.sample") {
  std::vector<std::string> a = {"-G", "--g", gen, "--s", sample};
  a.insert(a.end(), extra.begin(), extra.end());
  return a;
}

// Messages of a run that gets past the counting pass; "gen" is what the data
// pass prints, "tail" what follows it (missing count, Output...).
std::string run_text(const std::vector<std::string>& args, long n, long m,
                     const std::string& gen, const std::string& tail) {
  return echo_line(args) + "Count SNPs and samples...\nNumber of samples: " +
         std::to_string(n) + "\nNumber of SNPs: " + std::to_string(m) +
         "\nSample...\nAssign memory for genotypes..." + std::to_string(2 * m * n) +
         "\nGen...\n" + gen + tail;
}

e2e_case ok_case(std::string name, std::map<std::string, std::string> files,
                 std::vector<std::string> args, long n, long m, std::string gen_msgs,
                 long missing, std::map<std::string, std::string> outputs) {
  e2e_case c;
  c.name = name;
  c.files = files;
  c.args = args;
  c.out = c.log = run_text(args, n, m, gen_msgs,
                           "Number of missing loci: " + std::to_string(missing) + "\nOutput...\n");
  c.outputs = outputs;
  return c;
}

// A run that stops with "error" after "before" (the messages up to it).
e2e_case fail_case(std::string name, std::map<std::string, std::string> files,
                   std::vector<std::string> args, std::string before, std::string error) {
  e2e_case c;
  c.name = name;
  c.files = files;
  c.args = args;
  c.status = 1;
  c.out = c.log = before + error;
  c.absent = {"in.gen.ped", "in.gen.map"};
  return c;
}

TEST(GenToPed, ChromosomeCodes) {
  for (const char* yes : {"1", "9", "10", "19", "20", "24", "X", "Y", "M"})
    EXPECT_EQ(snp_id_check(yes), 1) << yes;
  for (const char* no : {"x", "MT", "XY", "chr1", "01", "25", "0", "", "2 ", "100", "30"})
    EXPECT_EQ(snp_id_check(no), 0) << no;
}

TEST(GenToPed, CallingThreshold) {
  struct row { std::vector<std::string> opts; std::string triple, call; };
  const std::vector<row> rows = {
      {{}, "0.9 0.1 0", "A A"},          {{}, "0 0.9 0.1", "A G"},
      {{}, "0.05 0.05 0.9", "G G"},      {{}, "0.3 0.3 0.4", "N N"},
      {{}, "0.8999999 0.1 0", "N N"},    {{}, "9e-1 0 0", "A A"},
      {{"--threshold", "0.5"}, "0.5 0.5 0", "A A"},
      {{"--threshold", "0.5"}, "0.4 0.5 0.5", "A G"},
      {{"--threshold", "0"}, "0 0 0", "A A"},
      {{"--threshold", "-1"}, "0.89 0.11 0", "N N"},  // negative: the default 0.9
      {{"--threshold", "1.01"}, "1 1 1", "N N"},
      {{"--threshold", "nan"}, "1 0 0", "N N"},
  };
  for (const row& r : rows) {
    auto args = g2p(r.opts);
    bool miss = r.call == "N N";
    run_case(ok_case(r.triple, {{"in.gen", "s1 rs1 100 A G " + r.triple + "\n"},
                                {"in.sample", "ID_1 ID_2\n0 0\nS1 x\n"}},
                     args, 1, 1, miss ? "Missing data at locus: rs1 100 S1\n" : "", miss,
                     {{"in.gen.ped", "0\tS1\t0\t0\t-9\t-9\t" + r.call + "\n"}}));
  }
}

TEST(GenToPed, MissingCallsAndExample) {
  // Two samples missing at one SNP count twice; messages name rs id, position and sample.
  auto args = g2p();
  run_case(ok_case("two missing", {{"in.gen", "a rs10 5000 C T 0 0 0 0.5 0.4 0.1\n"
                                              "b rs11 6000 A C 0 0 1 1 0 0\n"},
                                   {"in.sample", "ID_1 ID_2 missing\n0 0 0\nS7 x 0\nS8 y 0\n"}},
                   args, 2, 2,
                   "Missing data at locus: rs10 5000 S7\nMissing data at locus: rs10 5000 S8\n", 2,
                   {{"in.gen.ped", "0\tS7\t0\t0\t-9\t-9\tN N\tC C\n1\tS8\t0\t0\t-9\t-9\tN N\tA A\n"},
                    {"in.gen.map", "0\trs10\t0\t5000\n0\trs11\t0\t6000\n"}}));
}

TEST(GenToPed, SampleCountFromFirstLine) {
  std::string t4 = " 1 0 0 1 0 0 1 0 0 1 0 0";  // 12 probabilities: 17 fields in all
  std::string sample4 = "ID_1 ID_2\n0 0\na 1\nb 2\nc 3\nd 4\n";
  auto args = g2p();
  std::string ped;
  for (int i = 0; i < 4; ++i)
    ped += std::to_string(i) + "\t" + std::string(1, char('a' + i)) + "\t0\t0\t-9\t-9\tA A\n";
  run_case(ok_case("17 fields", {{"in.gen", "s r 1 A C" + t4 + "\n"}, {"in.sample", sample4}},
                   args, 4, 1, "", 0, {{"in.gen.ped", ped}}));
  for (auto [extra, fields] : {std::pair<std::string, std::string>{" 1", "18"}, {" 1 0", "19"}}) {
    run_case(fail_case(fields + " fields",
                       {{"in.gen", "s r 1 A C" + t4 + extra + "\n"}, {"in.sample", sample4}},
                       args, run_text(args, 4, 1, "", ""),
                       "Bad line 1 in in.gen: " + fields + " fields, expected 17\n"));
  }
  std::string head = echo_line(args) + "Count SNPs and samples...\n";
  for (std::string line : {"s r 1", "s r 1 A"})
    run_case(fail_case(line, {{"in.gen", "\n  \n" + line + "\n"}, {"in.sample", sample4}}, args,
                       head, "Bad line 3 in in.gen: fewer than 5 fields\n"));
}

TEST(GenToPed, SampleColumns) {
  // refused: the column that is not there, and no PED line; "-9" names none.
  struct row { std::string header, data; std::vector<std::string> opts; std::string sex, pheno, refused = ""; };
  const std::vector<row> rows = {
      {"ID_1 ID_2 missing sex pheno", "a b 0 2 1", {"--phenotype", "pheno"}, "2", "1"},
      {"ID_1 ID_2 missing gender sex", "a b 0 1 2", {}, "1", "-9"},
      {"ID_1 ID_2 missing sex mysex", "a b 0 1 2", {"--sex", "mysex"}, "2", "-9"},
      {"ID_1 ID_2 missing mysex sex", "a b 0 1 2", {"--sex", "mysex"}, "1", "-9"},
      {"ID_1 ID_2 missing p q p", "a b 0 x y z", {"--phenotype", "p"}, "-9", "z"},
      {"ID_1 ID_2 missing sex", "a b 0 2", {"--phenotype", "sex"}, "-9", "2"},
      {"ID_1 ID_2 missing", "a b 0", {}, "-9", "-9"},
      {"ID_1 ID_2 missing sex", "a b 0 F", {}, "0", "-9"},
      {"ID_1 ID_2 missing sex", "a b 0 1.5", {}, "1", "-9"},
      {"sex\tID_2 missing", "a\tb 0", {"--phenotype", "ID_2"}, "-9", "b"},
      {"ID_1 ID_2 missing sex pheno", "a b 0", {"--phenotype", "pheno"}, "-9", "-9"},
      {"ID_1 ID_2 missing sex pheno", "a b 0 2 1", {"--phenotype", "Pheno"}, "", "", "Pheno"},
      {"ID_1 ID_2 missing pheno", "a b 0 1", {"--sex", "mysex"}, "", "", "mysex"},
      {"ID_1 ID_2 missing gender", "a b 0 2", {"--sex", "mysex"}, "2", "-9"},
      {"ID_1 ID_2 missing p", "a b 0 5", {"--phenotype", "p", "--sex", "p"}, "-9", "5"},
      {"ID_1 ID_2 missing", "a b 0", {"--phenotype", "-9", "--sex", "-9"}, "-9", "-9"},
  };
  for (const row& r : rows) {
    auto args = g2p(r.opts);
    const std::map<std::string, std::string> files = {
        {"in.gen", "s rs1 7 A G 0 1 0\n"},
        {"in.sample", r.header + "\r\n0 0 0\r\n" + r.data + "\r\nextra row\n"}};
    if (!r.refused.empty()) {
      run_case(fail_case(r.header + " / " + r.refused, files, args,
                         echo_line(args) + "Count SNPs and samples...\nNumber of samples: 1\n"
                                           "Number of SNPs: 1\nSample...\n",
                         "No column " + r.refused + " in SAMPLE file in.sample\n"));
      continue;
    }
    run_case(ok_case(r.header + " / " + r.data, files, args, 1, 1, "", 0,
                     {{"in.gen.ped", "0\ta\t0\t0\t" + r.sex + "\t" + r.pheno + "\tA G\n"}}));
  }
}

TEST(GenToPed, MapLayouts) {
  struct row { std::string gen; std::vector<std::string> opts; std::string map; };
  const std::vector<row> rows = {
      {"1 rs7 1200 A C 1 0 0\nX snp2 1300 G T 1 0 0\n", {},
       "1\trs7\t0\t1200\nX\tsnp2\t0\t1300\n"},
      {"3 rs7 1200 A C 1 0 0\n", {"--alleles"}, "3\trs7\t0\t1200\tA\tC\n"},
      {"1 rs1 10 A C 1 0 0\nchr1 rs2 20 A C 1 0 0\n", {}, "0\trs1\t0\t10\n0\trs2\t0\t20\n"},
      {"a rs123 1 A C 1 0 0\nb SNP_A-1234 2 A C 1 0 0\nc RS5 3 A C 1 0 0\n"
       "d Mrs1 4 A C 1 0 0\n",
       {"--alleles"},
       "0\trs123\t0\t1\tA\tC\n0\tb\t0\t2\tA\tC\n0\tc\t0\t3\tA\tC\n0\tMrs1\t0\t4\tA\tC\n"},
      {"1 rs1 +007 A C 1 0 0\n", {}, "1\trs1\t0\t7\n"},
  };
  for (const row& r : rows) {
    auto args = g2p(r.opts);
    long m = static_cast<long>(std::count(r.gen.begin(), r.gen.end(), '\n'));
    run_case(ok_case(r.gen, {{"in.gen", r.gen}, {"in.sample", "ID_1\n0\nS\n"}}, args, 1, m, "",
                     0, {{"in.gen.map", r.map}}));
  }
}

TEST(GenToPed, AllelesAndWhitespace) {
  // Any one-character allele is written as it is; a longer one cannot be a PED allele.
  std::string gen = "s rs1 10 a - 1 0 0 0 1 0\n\n  \t\ns rs2 20\tAT\tG 1 0 0 0 0 0\r\n"
                    "s rs3 30  C  G  0 0 1   0.2 0.2 0.2\n";
  auto args = g2p({"--alleles"});
  run_case(ok_case("alleles", {{"in.gen", gen}, {"in.sample", kSample2}}, args, 2, 3,
                   "Allele not representable in PED: rs2 20\n"
                   "Missing data at locus: rs3 30 S2\n",
                   1,
                   {{"in.gen.ped", "0\tS1\t0\t0\t-9\t-9\ta a\tN N\tG G\n"
                                   "1\tS2\t0\t0\t-9\t-9\ta -\tN N\tN N\n"},
                    {"in.gen.map", "0\trs1\t0\t10\ta\t-\n0\trs2\t0\t20\tN\tG\n"
                                   "0\trs3\t0\t30\tC\tG\n"}}));
}

TEST(GenToPed, Compression) {
  std::string gen = "s rs1 10 A C 1 0 0 0 0 1\n";
  std::string ped = "0\tS1\t0\t0\t-9\t-9\tA A\n1\tS2\t0\t0\t-9\t-9\tC C\n";
  std::string map = "0\trs1\t0\t10\n";
  auto a1 = g2p({}, "in.gen.gz", "in.sample.gz");
  auto c1 = ok_case("gz in and out", {{"in.gen.gz", gen}, {"in.sample.gz", kSample2}}, a1, 2, 1,
                    "", 0, {{"in.gen.ped.gz", ped}, {"in.gen.map.gz", map}});
  c1.gzipped = {{"in.gen.ped.gz", true}, {"in.gen.map.gz", true}};
  run_case(c1);
  auto a2 = g2p({"--ped", "out.ped.gz", "--map", "o.map"});
  auto c2 = ok_case("plain in, gz name out", {{"in.gen", gen}, {"in.sample", kSample2}}, a2, 2, 1,
                    "", 0, {{"out.ped.gz", ped}, {"o.map", map}});
  c2.gzipped = {{"out.ped.gz", false}};
  run_case(c2);
  // A 0-byte GEN file under a gzip name is empty; empty outputs are still valid gzip.
  temp_dir d;
  d.write("e.gen.gz", "");
  d.write("e.sample", "");
  auto a3 = g2p({}, "e.gen.gz", "e.sample");
  run_result r = run_trevlin(d.path(), a3);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, run_text(a3, 0, 0, "", "Number of missing loci: 0\nOutput...\n"));
  for (const char* f : {"e.gen.ped.gz", "e.gen.map.gz"}) {
    bool ok = false;
    EXPECT_TRUE(is_gzip_data(d.read(f))) << f;
    EXPECT_EQ(gunzip_bytes(d.read(f), &ok), "");
    EXPECT_TRUE(ok);
  }
}

TEST(GenToPed, EmptyGen) {
  auto args = g2p();
  run_case(ok_case("empty", {{"in.gen", ""}, {"in.sample", kSample2}}, args, 0, 0, "", 0,
                   {{"in.gen.ped", ""}, {"in.gen.map", ""}}));
}

TEST(GenToPed, BadInput) {
  auto args = g2p();
  std::string head = echo_line(args);
  std::string ok_line = "s rs1 10 A C 1 0 0 0 0 1\n";
  auto gen_fail = [&](std::string name, std::string gen, long m, std::string error) {
    return fail_case(name, {{"in.gen", gen}, {"in.sample", kSample2}}, args,
                     run_text(args, 2, m, "", ""), error);
  };
  const std::vector<e2e_case> rows = {
      fail_case("no GEN", {{"in.sample", kSample2}}, args, head, "Can't open in.gen\n"),
      fail_case("neither", {}, args, head, "Can't open in.gen\nCan't open in.sample\n"),
      fail_case("too few rows", {{"in.gen", ok_line}, {"in.sample", "ID_1\n0\nS1\n"}}, args,
                head + "Count SNPs and samples...\nNumber of samples: 2\nNumber of SNPs: 1\n"
                       "Sample...\n",
                "SAMPLE file in.sample has 1 samples, GEN file has 2\n"),
      gen_fail("short line", ok_line + "\ns rs2 20 A C 1 0 0 0 0\n", 2,
               "Bad line 3 in in.gen: 10 fields, expected 11\n"),
      gen_fail("long line", ok_line + "s rs2 20 A C 1 0 0 0 0 1 0\n", 2,
               "Bad line 2 in in.gen: 12 fields, expected 11\n"),
      gen_fail("few leading", ok_line + "s rs2 20 A\n", 2,
               "Bad line 2 in in.gen: fewer than 5 fields\n"),
      gen_fail("position", "s rs1 10x A C 1 0 0 0 0 1\n", 1,
               "Bad line 1 in in.gen: position is not a 32-bit integer\n"),
      gen_fail("big position", "s rs1 2147483648 A C 1 0 0 0 0 1\n", 1,
               "Bad line 1 in in.gen: position is not a 32-bit integer\n"),
      gen_fail("probability", "s rs1 10 A C 1 0 0 0 0,5 1\n", 1,
               "Bad line 1 in in.gen: field 10 is not a number\n"),
      gen_fail("nan probability", "s rs1 10 A C 1 0 0 nan inf 0\n", 1,
               "Bad line 1 in in.gen: field 9 is not a number\n"),
  };
  for (const e2e_case& c : rows) run_case(c);
  auto same = g2p({"--map", "in.sample"});
  run_case(fail_case("output is input", {{"in.gen", ok_line}, {"in.sample", kSample2}}, same,
                     echo_line(same), "Output file is also an input: in.sample\n"));
  auto nodir = g2p({"--ped", "no/such.ped"});
  auto c = ok_case("no dir", {{"in.gen", ok_line}, {"in.sample", kSample2}}, nodir, 2, 1, "", 0,
                   {});
  c.status = 1;
  c.out = c.log = c.out + "Can't open no/such.ped\n";
  run_case(c);
  auto full = g2p({"--map", "/dev/full"});
  c = ok_case("full disk", {{"in.gen", ok_line}, {"in.sample", kSample2}}, full, 2, 1, "", 0, {});
  c.status = 1;
  c.out = c.log = c.out.substr(0, c.out.size() - 10) + "Can't write /dev/full\n";
  run_case(c);
}

TEST(GenToPed, DamagedGzip) {
  std::string gz = gzip_bytes("s rs1 10 A C 1 0 0 0 0 1\n");
  struct row { std::string gen, sample; bool sample_bad; };
  for (const row& r : std::vector<row>{{"plain text\n", "", false},
                                        {gz.substr(0, gz.size() - 6), "", false},
                                        {gz, "not gzip\n", true}}) {
    temp_dir d;
    d.write("in.gen.gz", r.gen);
    d.write("in.sample.gz", r.sample.empty() ? gzip_bytes(kSample2) : r.sample);
    auto args = g2p({}, "in.gen.gz", "in.sample.gz");
    run_result res = run_trevlin(d.path(), args);
    std::string head = echo_line(args) + "Count SNPs and samples...\n";
    if (r.sample_bad)
      head += "Number of samples: 2\nNumber of SNPs: 1\nSample...\n";
    std::string name = r.sample_bad ? "in.sample.gz" : "in.gen.gz";
    EXPECT_EQ(res.status, 1);
    EXPECT_EQ(res.out, head + "Damaged gzip file: " + name + "\n");
    EXPECT_FALSE(d.exists("in.gen.ped.gz"));
  }
}

TEST(GenToPed, MissingCallLinesOutBeforeTheirCount) {
  // The missing-call lines may be buffered, but all of them reach standard
  // output and the log, in order, with the count line that follows them: a
  // log that can grow no further than that line holds every line up to the
  // count, and the run ends saying the log could not be written.
  struct row { std::string gen; std::vector<std::string> before, after; };
  const std::vector<row> rows = {
      {"s rs1 10 A C 0 0 0 0.5 0.4 0\n",
       {"Missing data at locus: rs1 10 S1\n", "Missing data at locus: rs1 10 S2\n",
        "Number of missing loci: 2\n"},
       {}},
      {"s rs1 10 A C 0 0 0 1 0 0\nt rs2 20 A C 1 0 0 0 0 0\n",
       {"Missing data at locus: rs1 10 S1\n", "Missing data at locus: rs2 20 S2\n",
        "Number of missing loci: 2\n"},
       {}},
  };
  for (const row& r : rows) {
    temp_dir d;
    d.write("in.gen", r.gen);
    d.write("in.sample", kSample2);
    auto args = g2p();
    long m = static_cast<long>(std::count(r.gen.begin(), r.gen.end(), '\n'));
    std::string log = run_text(args, 2, m, "", "");
    for (const std::string& l : r.before) log += l;
    std::string out = log;
    for (const std::string& l : r.after) out += l;
    out += "Output...\nCan't write trevlin.log\n";
    struct rlimit old_size, old_core;
    getrlimit(RLIMIT_FSIZE, &old_size);
    getrlimit(RLIMIT_CORE, &old_core);
    struct rlimit size = old_size, core = old_core;
    size.rlim_cur = log.size();
    core.rlim_cur = 0;
    setrlimit(RLIMIT_CORE, &core);
    setrlimit(RLIMIT_FSIZE, &size);
    run_result res = run_trevlin(d.path(), args);
    setrlimit(RLIMIT_FSIZE, &old_size);
    setrlimit(RLIMIT_CORE, &old_core);
    EXPECT_EQ(res.status, 1) << r.gen;
    EXPECT_EQ(res.out, out) << r.gen;
    EXPECT_EQ(d.read("trevlin.log"), log) << r.gen;
  }
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(GenToPed, StoreTooLarge) {
  // 1,000,001 SNPs of 1,000 samples need 2 GB of calls; the address space is capped at 1 GB.
  std::string gen = "s r 1 A C";
  for (int i = 0; i < 3000; ++i) gen += " 0";
  gen += "\n";
  gen.reserve(gen.size() + 2000000);
  for (int i = 0; i < 1000000; ++i) gen += "x\n";
  std::string sample = "ID_1\n0\n";
  for (int i = 0; i < 1000; ++i) sample += "s\n";
  temp_dir d;
  d.write("in.gen", gen);
  d.write("in.sample", sample);
  struct rlimit old;
  getrlimit(RLIMIT_AS, &old);
  struct rlimit cap = old;
  cap.rlim_cur = 1ull << 30;
  setrlimit(RLIMIT_AS, &cap);
  run_result r = run_trevlin(d.path(), g2p());
  setrlimit(RLIMIT_AS, &old);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Assign memory for genotypes...2000002000\n"
                       "Not enough memory for genotypes: 2000002000\n"),
            std::string::npos)
      << r.out;
}
#endif

}  // namespace
