// End-to-end tests of -M: sample union, allele classes, overlap reconciliation,
// progress, gzip inputs and failures.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e.h"

namespace {

// "-M --g a.gen b.gen ... --s a.sample b.sample ... --og m.gen --os m.sample" for k pairs.
std::vector<std::string> margs(int k, std::vector<std::string> extra = {}) {
  std::vector<std::string> a = {"-M", "--g"};
  for (int i = 0; i < k; ++i) a.push_back(std::string(1, char('a' + i)) + ".gen");
  a.push_back("--s");
  for (int i = 0; i < k; ++i) a.push_back(std::string(1, char('a' + i)) + ".sample");
  a.insert(a.end(), {"--og", "m.gen", "--os", "m.sample"});
  a.insert(a.end(), extra.begin(), extra.end());
  return a;
}

// Expected standard output and log, built in the order the run writes them.
struct expect {
  struct file_count {
    std::string name;
    int count;
    std::string msgs;  // its rows' or lines' messages, before its count
  };
  std::string out, log;
  explicit expect(const std::vector<std::string>& args) { both(echo_line(args)); }
  expect& both(const std::string& s) { return out += s, log += s, *this; }
  expect& samples(const std::vector<file_count>& files, int merged) {
    both("Organise Samples...\n");
    for (const auto& f : files)
      both(f.msgs + "Number of samples in " + f.name + ": " + std::to_string(f.count) + "\n");
    return both("Number of merged samples: " + std::to_string(merged) + "\n" +
                "Create ordered list of positions...\n");
  }
  // The scan of each GEN file; its name goes to standard output only.
  expect& gens(const std::vector<file_count>& files) {
    for (const auto& f : files) {
      out += f.name + "\n";
      both(f.msgs + "Number of SNPs in " + f.name + ": " + std::to_string(f.count) + "\n");
    }
    return *this;
  }
  // From the mismatched allele count to the merged count; conflicts as
  // standard output shows them (with_col) and as the log does.
  expect& merge(int mismatched, const std::string& progress, int loci, int merged,
                const std::string& with_col = "", const std::string& without_col = "") {
    both("Number of SNPs with mismatched alleles: " + std::to_string(mismatched) + "\n" +
         "Open all GEN files for reading...\nMerge...\n");
    out += with_col + progress;
    log += without_col;
    return both("Number of mismatched overlapping loci: " + std::to_string(loci) + "\n" +
                "Number of merged SNPs: " + std::to_string(merged) + "\n");
  }
};

// A case writing m.gen and m.sample, or, failing, neither.
e2e_case make(std::string name, std::map<std::string, std::string> files,
              std::vector<std::string> args, const expect& x, std::string gen,
              std::string sample, int status = 0) {
  e2e_case c;
  c.name = name;
  c.files = files;
  c.args = args;
  c.out = x.out;
  c.log = x.log;
  c.status = status;
  if (status == 0)
    c.outputs = {{"m.gen", gen}, {"m.sample", sample}};
  else
    c.absent = {"m.gen", "m.sample"};
  return c;
}

const std::string kHead = "ID_1 ID_2 missing\n0 0 0\n";
std::string rows(std::vector<std::string> ids, const std::string& missing = "0") {
  std::string s = kHead;
  for (const auto& id : ids) s += id + " " + id + " " + missing + "\n";
  return s;
}
std::string locus(const std::string& rs, const std::string& pos, const std::string& key, int f,
                  int col, const std::string& p, const std::string& q, bool with_col) {
  return "Mismatched overlap locus. rs_id: " + rs + " pos: " + pos + " subject: " + key +
         " file: " + std::to_string(f) + (with_col ? " col: " + std::to_string(col) : "") +
         " probs: " + p + " probs: " + q + "\n";
}

TEST(Merge, SameSamplesAndOrderOfLists) {
  std::string sample = "ID_1 ID_2 missing sex pheno\n0 0 0 D P\nf1 i1 0.1 1 0\nf2 i2 0 2 1\n";
  std::map<std::string, std::string> files = {
      {"a.sample", sample}, {"b.sample", sample},
      {"a.gen", "s1 rs1 100 A G 1 0 0 0 1 0\n"},
      {"b.gen", "s1 rs1 100 A G 1 0 0 0 0 0\ns2 rs2 200 C T 0 0 1 0.25 0.5 0.25\n"}};
  std::string gen = "s1 rs1 100 A G 1 0 0 0 1 0\ns2 rs2 200 C T 0 0 1 0.25 0.5 0.25\n";
  std::string merged = "ID_1 ID_2 missing sex pheno\n0 0 0 D P\nf1 i1 0 1 0\nf2 i2 0 2 1\n";
  const std::vector<std::string> out = {"--og", "m.gen", "--os", "m.sample"};
  std::vector<std::string> samples_first = {"-M", "--s", "a.sample", "b.sample", "--g", "a.gen", "b.gen"};
  std::vector<std::string> alternating = {"-M", "--g", "a.gen", "--s", "a.sample", "--g", "b.gen", "--s", "b.sample"};
  for (auto args : {margs(2), samples_first, alternating}) {
    if (args.size() < 12) args.insert(args.end(), out.begin(), out.end());
    expect x(args);
    x.samples({{"a.sample", 2, ""}, {"b.sample", 2, ""}}, 2);
    x.gens({{"a.gen", 1, ""}, {"b.gen", 2, ""}}).merge(0, "0\r", 0, 2);
    run_case(make(echo_line(args), files, args, x, gen, merged));
  }
}

TEST(Merge, SampleUnion) {
  // a: a column named twice, a covariate that is a phenotype elsewhere, a row
  // with a word beyond the columns; b: a short type line, ids whose "_" makes
  // a known key; c: no column types, a key twice, a row too short to go on.
  std::map<std::string, std::string> files = {
      {"a.sample", "ID_1 ID_2 missing age trait x x\n0 0 0 C P D D\n"
                   "A A 0.5 30 1 1 1\nB B 0 40 0 1 2\na_b c 0 -9 1 5 5 extra\n"},
      {"b.sample", "ID_1 ID_2 missing trait age bmi\n0 0 0 D P\n"
                   "A A 0 1 50 22\nC C 0 -9 -9 x\na b_c 0 -9 -9 -9\n"},
      {"c.sample", "ID_1 ID_2 missing trait w\n0 0 0\n"
                   "C C 0 2 9\nC C 0 -10 9\na b_c 0 3 1\nE\nF F 0 1 1\n"},
      {"a.gen", "s1 rs1 100 A G 1 0 0 0 1 0 0 0 1\n"},
      {"b.gen", "s2 rs2 200 A G 0 0 1 0 1 0 0 0 1\n"},
      // the fourth triple has no SAMPLE row and must reach nobody
      {"c.gen", "s1 rs1 100 A G 0 0 0 0 0 0 0 0 1 0 1 0\n"}};
  auto args = margs(3);
  const std::string mm = "Mismatch overlap in samples:  ";
  expect x(args);
  x.samples({{"a.sample", 3, mm + "1 2\n"},
             {"b.sample", 3, mm + "30 50\n" + mm + "1 -9\n"},
             {"c.sample", 3, mm + "2 -10\n" + mm + "-10 3\n"}},
            4);
  x.gens({{"a.gen", 1, ""}, {"b.gen", 1, ""}, {"c.gen", 1, ""}}).merge(0, "0\r", 0, 2);
  // trait and age hold their values in the phenotype columns; their covariate
  // columns stay unset. bmi repeats b's last type; w gets "D".
  std::string sample =
      "ID_1 ID_2 missing age x trait w trait age bmi\n0 0 0 C D D D P P P\n"
      "A A 0 -9 1 -9 -9 1 -9 22\nB B 1 -9 -9 -9 -9 0 40 -9\n"
      "a_b c 0 -9 5 -9 1 -9 -9 -9\nC C 1 -9 -9 -9 9 -9 -9 x\n";
  std::string gen = "s1 rs1 100 A G 1 0 0 0 1 0 0 0 1 0 0 0\n"
                    "s2 rs2 200 A G 0 0 1 0 0 0 0 0 1 0 1 0\n";
  run_case(make("union", files, args, x, gen, sample));
}

TEST(Merge, AlleleClasses) {
  std::map<std::string, std::string> files = {
      {"a.sample", rows({"S"})}, {"b.sample", rows({"S"})},
      {"a.gen", "s1 rs1 100 A G 0 0 0\ns2 rs2 200 A G 0 0 0\ns3 rs3 300 A G 0 0 0\n"
                "s4 rs4 400 A T 0 0 0\ns5 rs5 500 A G 0 0 0\ns6 rs6 600 a g 0 0 0\n"},
      {"b.gen", "s1 rs1 100 G A 0.1 0.2 0.7\ns2 rs2 200 T C 0.1 0.2 0.7\n"
                "s3 rs3 300 C T 0.1 0.2 0.7\ns4 rs4 400 T A 0.1 0.2 0.7\n"
                "s5 rs5 500 A C 0 0 0\ns6 rs6 600 t c 0 0 0\n"}};
  auto args = margs(2);
  expect x(args);
  x.samples({{"a.sample", 1, ""}, {"b.sample", 1, ""}}, 1);
  x.gens({{"a.gen", 6, ""},
          {"b.gen", 6,
           "Mismatched alleles: 100 G A A G reverse\n"
           "Mismatched alleles: 200 T C A G complement\n"
           "Mismatched alleles: 300 C T A G reverse_complement\n"
           "Mismatched alleles: 400 T A A T reverse\n"
           "Mismatched alleles: 500 A C A G different alleles\n"
           "Mismatched alleles: 600 t c a g different alleles\n"}});
  // left-out positions write nothing and count no missing genotype
  x.merge(6, "0\r", 0, 4);
  std::string gen = "s1 rs1 100 A G 0.7 0.2 0.1\ns2 rs2 200 A G 0.1 0.2 0.7\n"
                    "s3 rs3 300 A G 0.7 0.2 0.1\ns4 rs4 400 A T 0.7 0.2 0.1\n";
  run_case(make("alleles", files, args, x, gen, rows({"S"})));
}

TEST(Merge, IdMismatchesAndRepeatedPositions) {
  auto args = margs(3);
  {
    std::map<std::string, std::string> files = {
        {"a.sample", rows({"S"})}, {"b.sample", rows({"S"})}, {"c.sample", rows({"S"})},
        {"a.gen", "s1 rs1 100 A G 1 0 0\ns2 rs2 200 A G 1 0 0\n"},
        {"b.gen", "x1 y1 100 A G 1 0 0\nrs2 s2 200 A G 1 0 0\n"},  // swapped ids agree
        {"c.gen", "s1 rs1 100 A G 0 1 0\n"}};
    expect x(args);
    x.samples({{"a.sample", 1, ""}, {"b.sample", 1, ""}, {"c.sample", 1, ""}}, 1);
    x.gens({{"a.gen", 2, ""},
            {"b.gen", 2,
             "Mismatched overlap SNP snp_id: x1 s1\nMismatched overlap SNP rs_id: y1 rs1\n"},
            {"c.gen", 1,
             "Mismatched overlap SNP snp_id: s1 -9\nMismatched overlap SNP rs_id: rs1 -9\n"}});
    x.merge(0, "0\r", 1, 2, locus("-9", "100", "S_S", 2, 0, "0 1 0", "1 0 0", true),
            locus("-9", "100", "S_S", 2, 0, "0 1 0", "1 0 0", false));
    run_case(make("ids", files, args, x, "-9 -9 100 A G 0 0 0\ns2 rs2 200 A G 1 0 0\n",
                  rows({"S"}, "1")));
  }
  {
    // The last line of a repeated position is used, in its own orientation:
    // b's reversed first line must not swap its second.
    std::map<std::string, std::string> files = {
        {"a.sample", rows({"S"})}, {"b.sample", rows({"S"})},
        {"a.gen", "s1 rs1 100 A G 0 0 0\ns2 rs2 200 A G 1 0 0\ns2 rs2 200 A G 0 1 0\n"},
        {"b.gen", "s1 rs1 100 G A 0.1 0.2 0.7\ns1 rs1 100 A G 0.3 0.3 0.4\n"}};
    auto args2 = margs(2);
    expect x(args2);
    x.samples({{"a.sample", 1, ""}, {"b.sample", 1, ""}}, 1);
    x.gens({{"a.gen", 3, ""}, {"b.gen", 2, "Mismatched alleles: 100 G A A G reverse\n"}});
    x.merge(1, "0\r", 0, 2);
    run_case(make("repeated", files, args2, x, "s1 rs1 100 A G 0.3 0.3 0.4\ns2 rs2 200 A G 0 1 0\n",
                  rows({"S"})));
  }
}

std::vector<std::string> single(std::vector<std::string> extra = {}) {
  std::vector<std::string> a = {"-M", "--g", "a.gen", "--s", "a.sample", "--og", "m.gen", "--os", "m.sample"};
  a.insert(a.end(), extra.begin(), extra.end());
  return a;
}

TEST(Merge, Reconciliation) {
  {
    // no threshold: conflicts, a second conflict on the conflict triple, the
    // default number format, a negative triple counted missing
    std::string s = rows({"S1", "S2"});
    std::map<std::string, std::string> files = {
        {"a.sample", s}, {"b.sample", s}, {"c.sample", s},
        {"a.gen", "snp5 rs5 1200 A G 1 0 0 0.1234567 0.00001 0.8765333\n"
                  "snp6 rs6 1300 A G -1 -1 -1 0 0 0\n"},
        {"b.gen", "snp5 rs5 1200 A G 0 1 0 0 0 0\n"},
        {"c.gen", "snp5 rs5 1200 A G 0 0 1 0 0 0\n"}};
    auto args = margs(3);
    expect x(args);
    x.samples({{"a.sample", 2, ""}, {"b.sample", 2, ""}, {"c.sample", 2, ""}}, 2);
    x.gens({{"a.gen", 2, ""}, {"b.gen", 1, ""}, {"c.gen", 1, ""}});
    std::string with, without;
    for (bool col : {true, false})
      (col ? with : without) = locus("rs5", "1200", "S1_S1", 1, 0, "0 1 0", "1 0 0", col) +
                               locus("rs5", "1200", "S1_S1", 2, 0, "0 0 1", "-9 -9 -9", col);
    x.merge(0, "0\r", 2, 2, with, without);
    run_case(make("conflicts", files, args, x,
                  "snp5 rs5 1200 A G 0 0 0 0.123457 1e-05 0.876533\n"
                  "snp6 rs6 1300 A G -1 -1 -1 0 0 0\n",
                  kHead + "S1 S1 2\nS2 S2 1\n"));
  }
  {
    // 0.9: agreeing calls become hard calls, a disagreeing one is a conflict;
    // one number written two ways is one value
    std::string s = rows({"S1", "S2", "S3", "S4"});
    std::map<std::string, std::string> files = {
        {"a.sample", s}, {"b.sample", s},
        {"a.gen", "s1 rs1 100 A G 0.95 0.05 0 0.95 0.05 0 0.05 0.95 0 0.1 0.2 0.7\n"},
        {"b.gen", "s1 rs1 100 A G 0.92 0.08 0 0.6 0.4 0 0 0.93 0.07 1e-1 .20 7e-1\n"}};
    auto args = margs(2, {"--threshold", "0.9"});
    expect x(args);
    x.samples({{"a.sample", 4, ""}, {"b.sample", 4, ""}}, 4);
    x.gens({{"a.gen", 1, ""}, {"b.gen", 1, ""}});
    x.merge(0, "0\r", 1, 1, locus("rs1", "100", "S2_S2", 1, 1, "0.6 0.4 0", "0.95 0.05 0", true),
            locus("rs1", "100", "S2_S2", 1, 1, "0.6 0.4 0", "0.95 0.05 0", false));
    run_case(make("threshold 0.9", files, args, x, "s1 rs1 100 A G 1 0 0 0 0 0 0 1 0 0.1 0.2 0.7\n",
                  kHead + "S1 S1 0\nS2 S2 1\nS3 S3 0\nS4 S4 0\n"));
  }
  {
    // the same values in three-decimal and shorter texts agree: no conflict
    std::string s = rows({"S1", "S2"});
    std::map<std::string, std::string> files = {
        {"a.sample", s}, {"b.sample", s},
        {"a.gen", "s1 rs1 100 A G 0.950 0.050 0.000 0.1 0.2 0.700\n"},
        {"b.gen", "s1 rs1 100 A G 0.95 0.05 0 0.100 0.200 0.7\n"}};
    auto args = margs(2);
    expect x(args);
    x.samples({{"a.sample", 2, ""}, {"b.sample", 2, ""}}, 2);
    x.gens({{"a.gen", 1, ""}, {"b.gen", 1, ""}});
    x.merge(0, "0\r", 0, 1);
    run_case(make("three decimals", files, args, x, "s1 rs1 100 A G 0.95 0.05 0 0.1 0.2 0.7\n",
                  kHead + "S1 S1 0\nS2 S2 0\n"));
  }
  {
    // a triple from one file is written as it stands only in the form the
    // number format writes; any other text of the same value is rewritten
    std::string s = rows({"S1", "S2", "S3", "S4"});
    auto args = single();
    expect x(args);
    x.samples({{"a.sample", 4, ""}}, 4).gens({{"a.gen", 1, ""}}).merge(0, "0\r", 0, 1);
    run_case(make("written forms", {{"a.sample", s},
                  {"a.gen", "s1 rs1 100 A G +.5 1.0 0.0001 0.00012 0.00009 9.999999 "
                            "0.1234567 1 0.5000 0.987123 9.99999\t0\n"}},
                  args, x, "s1 rs1 100 A G 0.5 1 0.0001 0.00012 9e-05 10 0.123457 1 0.5 "
                           "0.987123 9.99999 0\n", s));
  }
  // 0 reaches an empty slot too: one file's triples become hard calls
  for (auto t : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--threshold", "0"}, "1 0 0 0 1 0"}, {{}, "0.2 0.3 0.5 -0.1 0.6 0.5"}}) {
    std::vector<std::string> args = {"-M", "--g", "a.gen", "--s", "a.sample", "--og", "m.gen", "--os", "m.sample"};
    args.insert(args.end(), t.first.begin(), t.first.end());
    expect x(args);
    x.samples({{"a.sample", 2, ""}}, 2).gens({{"a.gen", 1, ""}}).merge(0, "0\r", 0, 1);
    run_case(make(echo_line(args), {{"a.sample", rows({"S1", "S2"})}, {"a.gen", "s1 rs1 100 A G 0.2 0.3 0.5 -0.1 0.6 0.5\n"}},
                  args, x, "s1 rs1 100 A G " + t.second + "\n", rows({"S1", "S2"})));
  }
}

TEST(Merge, ProgressAndLongLines) {
  std::string gen;
  for (int i = 1; i <= 2500; ++i) gen += "s r " + std::to_string(i) + " A G 1 0 0\n";
  expect x(single());
  x.samples({{"a.sample", 1, ""}}, 1).gens({{"a.gen", 2500, ""}}).merge(0, "0\r1000\r2000\r", 0, 2500);
  run_case(make("progress", {{"a.sample", rows({"S"})}, {"a.gen", gen}}, single(), x, gen, rows({"S"})));

  // a line far beyond any buffer, its extra triples without rows; the lines
  // descend, so the merge seeks forward past it and then back to it
  std::string longline = "s2 rs2 200 A G 0 0 1 0 0 1";
  for (int i = 0; i < 300000; ++i) longline += " 0 1 0";
  std::string text = longline + "\ns1 rs1 100 A G 0 1 0 1 0 0\n";
  for (bool gz : {false, true}) {
    expect y(single());
    y.samples({{"a.sample", 2, ""}}, 2).gens({{"a.gen", 2, ""}}).merge(0, "0\r", 0, 2);
    run_case(make(gz ? "long line, gzip" : "long line",
                  {{"a.sample", rows({"S1", "S2"})}, {"a.gen", gz ? gzip_bytes(text) : text}},
                  single(), y, "s1 rs1 100 A G 0 1 0 1 0 0\ns2 rs2 200 A G 0 0 1 0 0 1\n",
                  rows({"S1", "S2"})));
  }
}

TEST(Merge, GzipInputs) {
  // a.gen is gzip under a plain name, in two members, its lines descending
  std::vector<std::string> args = {"-M", "--g", "a.gen", "b.gen.gz", "--s", "a.sample.gz", "b.sample",
                                   "--og", "m.gen.gz", "--os", "m.sample"};
  expect x(args);
  x.samples({{"a.sample.gz", 1, ""}, {"b.sample", 1, ""}}, 1);
  x.gens({{"a.gen", 2, ""}, {"b.gen.gz", 2, ""}}).merge(0, "0\r", 0, 3);
  e2e_case c;
  c.name = "gzip";
  c.files = {{"a.gen", gzip_bytes("s2 rs2 200 A G 0 1 0\n") + gzip_bytes("s1 rs1 100 A G 1 0 0\n")},
             {"b.gen.gz", "s1 rs1 100 A G 1 0 0\ns3 rs3 300 C T 0 0 1\n"},
             {"a.sample.gz", rows({"S"})}, {"b.sample", rows({"S"})}};
  c.args = args;
  c.out = x.out;
  c.log = x.log;
  c.outputs = {{"m.gen.gz", "s1 rs1 100 A G 1 0 0\ns2 rs2 200 A G 0 1 0\ns3 rs3 300 C T 0 0 1\n"},
               {"m.sample", rows({"S"})}};
  c.gzipped = {{"m.gen.gz", true}, {"m.sample", false}};
  run_case(c);

  // plain text under a gzip name is read as it stands
  temp_dir dir;
  dir.write("p.gen.gz", "s1 rs1 100 A G 1 0 0\n");
  dir.write("p.sample", rows({"S"}));
  run_result r = run_trevlin(dir.path(), {"-M", "--g", "p.gen.gz", "--s", "p.sample", "--og", "m.gen", "--os", "m.sample"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.read("m.gen"), "s1 rs1 100 A G 1 0 0\n");
}

TEST(Merge, GenLines) {
  struct row {
    std::string name, gen, result;  // result: the merged GEN, or the error
    int snps;
    std::string sample = rows({"S"});  // the merged SAMPLE
    bool in_merge_pass = false;        // result: an error the merge pass finds
  };
  for (const row& r : std::vector<row>{
           {"blank lines skipped", "s1 rs1 100 A G 1 0 0\n\n \t\ns2 rs2 200 A G 0 1 0\r\n",
            "s1 rs1 100 A G 1 0 0\ns2 rs2 200 A G 0 1 0\n", 2},
           // too small for a double is a number (0); too large is none
           {"number below the double range", "s1 rs1 100 A G 1e-400 0 1\n",
            "s1 rs1 100 A G 0 0 1\n", 1},
           {"number above the double range", "s1 rs1 100 A G 1e400 0 1\n",
            "Bad line 1 in a.gen: field 6 is not a number\n", 1, "", true},
           // a triple the merge uses needs three numbers, counted by the
           // line's place in its file; an incomplete last triple, and the
           // triples beyond the SAMPLE rows, reach nobody
           {"incomplete last triple", "s1 rs1 100 A G 1 0\n", "s1 rs1 100 A G 0 0 0\n", 1,
            rows({"S"}, "1")},
           {"incomplete last triple with a word", "s1 rs1 100 A G 1 x\n",
            "s1 rs1 100 A G 0 0 0\n", 1, rows({"S"}, "1")},
           {"words beyond the SAMPLE rows", "s1 rs1 100 A G 1 0 0 x y z\n",
            "s1 rs1 100 A G 1 0 0\n", 1},
           {"word before numbers", "s1 rs1 100 A G NA 1 0 0\n",
            "Bad line 1 in a.gen: field 6 is not a number\n", 1, "", true},
           {"decimal comma after blank lines", "\n \ns1 rs1 100 A G 0 1,5 0\n",
            "Bad line 3 in a.gen: field 7 is not a number\n", 1, "", true},
           {"number with a tail, compressed", gzip_bytes("\n\ns1 rs1 100 A G 0 0 0.5x\n"),
            "Bad line 3 in a.gen: field 8 is not a number\n", 1, "", true},
           {"bad position", "s1 rs1 100 A G 1 0 0\ns2 rs2 2x0 A G 0 1 0\n",
            "Bad line 2 in a.gen: position is not a 32-bit integer\n", -1},
           {"position overflow", "s1 rs1 2147483648 A G 1 0 0\n",
            "Bad line 1 in a.gen: position is not a 32-bit integer\n", -1},
           {"short line", "\ns1 rs1 100 A\n", "Bad line 2 in a.gen: fewer than 5 fields\n", -1},
           {"cut gzip", gzip_bytes(std::string(5000, '\n') + "s1 rs1 100 A G 1 0 0\n").substr(0, 20),
            "Damaged gzip file: a.gen\n", -1}}) {
    expect x(single());
    x.samples({{"a.sample", 1, ""}}, 1);
    std::map<std::string, std::string> files = {{"a.sample", rows({"S"})}, {"a.gen", r.gen}};
    if (r.snps < 0) {
      x.out += "a.gen\n";
      x.both(r.result);
      run_case(make(r.name, files, single(), x, "", "", 1));
    } else if (r.in_merge_pass) {
      x.gens({{"a.gen", r.snps, ""}});
      x.both("Number of SNPs with mismatched alleles: 0\nOpen all GEN files for reading...\nMerge...\n" + r.result);
      e2e_case c = make(r.name, files, single(), x, "", "", 1);
      c.outputs = {{"m.gen", ""}};
      c.absent = {"m.sample"};
      run_case(c);
    } else {
      x.gens({{"a.gen", r.snps, ""}}).merge(0, "0\r", 0, r.snps);
      run_case(make(r.name, files, single(), x, r.result, r.sample));
    }
  }
}

TEST(Merge, NothingToWrite) {
  // every position left out, no sample rows: both outputs still made
  auto args = margs(2);
  expect x(args);
  x.samples({{"a.sample", 0, ""}, {"b.sample", 0, ""}}, 0);
  x.gens({{"a.gen", 1, ""}, {"b.gen", 1, "Mismatched alleles: 100 A C A G different alleles\n"}});
  x.merge(1, "", 0, 0);
  run_case(make("empty", {{"a.sample", kHead}, {"b.sample", kHead}, {"a.gen", "s1 rs1 100 A G 1 0 0\n"},
                          {"b.gen", "s1 rs1 100 A C 1 0 0\n"}},
                args, x, "", kHead));
}

TEST(Merge, NamesNotGiven) {
  // An empty name in a list is a file not given: it reads as empty.
  struct row {
    std::string name;
    std::vector<std::string> gens, samples;
    std::map<std::string, std::string> files;
    int a_rows, b_rows, merged, a_snps, b_snps, snps;
    std::string gen, sample;
  };
  for (const row& r : std::vector<row>{
           {"empty GEN name", {"", "b.gen"}, {"a.sample", "b.sample"},
            {{"a.sample", rows({"S1"})}, {"b.sample", rows({"S1", "S2"})},
             {"b.gen", "s1 rs1 100 A G 1 0 0 0 1 0\n"}},
            1, 2, 2, 0, 1, 1, "s1 rs1 100 A G 1 0 0 0 1 0\n", rows({"S1", "S2"})},
           {"empty SAMPLE name", {"a.gen", "b.gen"}, {"a.sample", ""},
            {{"a.sample", rows({"S1"})}, {"a.gen", "s1 rs1 100 A G 1 0 0\n"},
             {"b.gen", "s1 rs1 100 A G 0 1 0\ns2 rs2 200 A G 0 0 1\n"}},
            1, 0, 1, 1, 2, 2, "s1 rs1 100 A G 1 0 0\ns2 rs2 200 A G 0 0 0\n",
            kHead + "S1 S1 1\n"}}) {
    std::vector<std::string> args = {"-M", "--g", r.gens[0], r.gens[1], "--s", r.samples[0],
                                     r.samples[1], "--og", "m.gen", "--os", "m.sample"};
    expect x(args);
    x.samples({{r.samples[0], r.a_rows, ""}, {r.samples[1], r.b_rows, ""}}, r.merged);
    x.gens({{r.gens[0], r.a_snps, ""}, {r.gens[1], r.b_snps, ""}}).merge(0, "0\r", 0, r.snps);
    run_case(make(r.name, r.files, args, x, r.gen, r.sample));
  }
}

TEST(Merge, FilesThatCannotBeUsed) {
  const std::map<std::string, std::string> all = {
      {"a.gen", "s1 rs1 100 A G 1 0 0\n"}, {"b.gen", "s1 rs1 100 A G 1 0 0\n"},
      {"a.sample", rows({"S"})}, {"b.sample", rows({"S"})}};
  struct row {
    std::string name;
    std::vector<std::string> missing;
    std::vector<std::string> extra;
    std::string msgs;
  };
  for (const row& r : std::vector<row>{
           {"missing gen", {"b.gen"}, {}, "Can't open b.gen\n"},
           {"missing all", {"a.gen", "b.gen", "a.sample", "b.sample"}, {},
            "Can't open a.gen\nCan't open b.gen\nCan't open a.sample\nCan't open b.sample\n"},
           {"output is input", {}, {"--og", "b.gen"}, "Output file is also an input: b.gen\n"}}) {
    auto files = all;
    for (const auto& m : r.missing) files.erase(m);
    auto args = margs(2, r.extra);
    expect x(args);
    x.both(r.msgs);
    e2e_case c = make(r.name, files, args, x, "", "", 1);
    if (r.name == "output is input") c.outputs = {{"b.gen", all.at("b.gen")}}, c.absent = {"m.sample"};
    run_case(c);
  }
  // outputs that cannot be created or written
  for (const auto& out : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--og", "no/m.gen"}, "Can't open no/m.gen\n"}, {{"--os", "/dev/full"}, "Can't write /dev/full\n"}}) {
    auto args = margs(2, out.first);
    expect x(args);
    x.samples({{"a.sample", 1, ""}, {"b.sample", 1, ""}}, 1).gens({{"a.gen", 1, ""}, {"b.gen", 1, ""}});
    if (out.first[0] == "--og") {
      x.both("Number of SNPs with mismatched alleles: 0\nOpen all GEN files for reading...\nMerge...\n");
    } else {
      x.merge(0, "0\r", 0, 1);
    }
    x.both(out.second);
    e2e_case c = make(out.second, all, args, x, "", "", 1);
    c.absent = {};
    run_case(c);
  }
}

}  // namespace
