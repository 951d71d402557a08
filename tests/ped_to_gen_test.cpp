// End-to-end tests of -P: PED/MAP in, GEN/SAMPLE out, exact bytes.
#include <gtest/gtest.h>

#include "e2e.h"

namespace {

const std::string kHeader = "ID_1 ID_2 Missing Gender Phenotype\n0 0 0 D P\n";
const std::string kMap4 = "1 rs1 0 100\n1 rs2 0 200\n1 rs3 0 300\n1 rs4 0 400\n";

std::vector<std::string> p_args(std::vector<std::string> extra = {},
                                const std::string& ped = "in.ped",
                                const std::string& map = "in.map") {
  std::vector<std::string> a = {"-P", "--ped", ped, "--map", map};
  a.insert(a.end(), extra.begin(), extra.end());
  return a;
}

// Echo and progress lines up to the data pass.
std::string progress(const std::vector<std::string>& args, long snps, long samples) {
  return echo_line(args) + "MAP...\nNumber of SNPs: " + std::to_string(snps) +
         "\nCount Samples...\nNumber of samples: " + std::to_string(samples) + "\nmemory..." +
         std::to_string(3 * snps * samples) + "\nPED...\n";
}

struct row {
  std::string name;
  std::string map, ped;
  std::vector<std::string> args;
  long snps, samples;
  std::string tail;  // what follows "PED..."
  std::map<std::string, std::string> outputs;
  int status = 0;
  std::vector<std::string> absent = {};
  std::map<std::string, bool> gzipped = {};
  std::string ped_name = "in.ped", map_name = "in.map";
};

void run_rows(const std::vector<row>& rows) {
  for (const row& r : rows) {
    e2e_case c;
    c.name = r.name;
    c.files = {{r.map_name, r.map}, {r.ped_name, r.ped}};
    c.args = r.args;
    c.status = r.status;
    c.out = progress(r.args, r.snps, r.samples) + r.tail;
    c.log = c.out;
    c.outputs = r.outputs;
    c.absent = r.absent;
    c.gzipped = r.gzipped;
    run_case(c);
  }
}

const std::string kOut = "Output...\n";

TEST(PedToGen, GenotypeCodingAndAlleles) {
  run_rows({
      {"two-line example: discovery, codes, missing pair, allele2 set later", kMap4,
       "F1 I1 0 0 2 1 A A A G G G 0 0\nF2 I2 0 0 1 2 G G A G T T C C\n", p_args(), 4, 2, kOut,
       {{"in.ped.sample", kHeader + "I1 I1 0.25 2 1\nI2 I2 0 1 2\n"},
        {"in.ped.gen",
         "1 rs1 100 A G 1 0 0 0 0 1\n1 rs2 200 A G 0 1 0 0 1 0\n"
         "1 rs3 300 G T 1 0 0 0 0 1\n1 rs4 400 C C 0 0 0 1 0 0\n"}}},
      {"A 0 is a genotype, 0 A and N A are missing", "1 rs1 0 100\n1 rs2 0 200\n1 rs3 0 300\n",
       "F I 0 0 1 1 A 0 0 A N N\nF J 0 0 2 1 A A C C N A\n", p_args(), 3, 2, kOut,
       {{"in.ped.sample", kHeader + "I I 0.666667 1 1\nJ J 0.333333 2 1\n"},
        {"in.ped.gen",
         "1 rs1 100 0 A 0 1 0 0 0 1\n1 rs2 200 C C 0 0 0 1 0 0\n1 rs3 300 - - 0 0 0 0 0 0\n"}}},
      {"MAP alleles as A G, AG, one, none; blank MAP line; pair without blank",
       "1 rs1 0 100 A G\n2 rs2 0.5 200 AG\n\n3 rs3 1e-3 300 G\n4 rs4 0 400\n5 rs5 0 500\n",
       "F I 0 0 1 1 G G GG A A A A 0 0\n", p_args(), 5, 1, kOut,
       {{"in.ped.sample", kHeader + "I I 0.2 1 1\n"},
        {"in.ped.gen",
         "1 rs1 100 A G 0 0 1\n2 rs2 200 A G 0 0 1\n3 rs3 300 A G 1 0 0\n"
         "4 rs4 400 A A 1 0 0\n5 rs5 500 - - 0 0 0\n"}}},
      // rs3 mixes a letter with a digit: the letter is written as it stands.
      {"numeric alleles recoded and swapped", "1 rs1 0 100\n1 rs2 0 200\n1 rs3 0 300\n",
       "F I 0 0 1 1 3 3 1 2 G G\nF J 0 0 2 2 1 1 2 2 1 1\n", p_args(), 3, 2, kOut,
       {{"in.ped.gen",
         "1 rs1 100 A G 0 0 1 1 0 0\n1 rs2 200 A C 0 1 0 0 0 1\n1 rs3 300 A G 0 0 1 1 0 0\n"}}},
      {"numeric alleles per phenotype group", "1 rs1 0 100\n1 rs2 0 200\n1 rs3 0 300\n",
       "F I 0 0 1 1 3 3 1 2 G G\nF J 0 0 2 2 1 1 2 2 1 1\n",
       p_args({"--discrete_phenotype", "--og", "o.gen", "--os", "o.sample"}), 3, 2,
       kOut + "Number of discrete phenotypes: 2\n",
       {{"o.gen_1", "1 rs1 100 A G 0 0 1\n1 rs2 200 A C 0 1 0\n1 rs3 300 1 G 0 0 1\n"},
        {"o.gen_2", "1 rs1 100 A G 1 0 0\n1 rs2 200 A C 0 0 1\n1 rs3 300 1 G 1 0 0\n"}}},
      // Alleles order as signed bytes: one above 127 comes before a letter.
      {"byte above 127 sorts before a letter", "1 rs1 0 100\n",
       "F I 0 0 1 1 A A\nF J 0 0 1 1 \xc3\xc3\n", p_args(), 1, 2, kOut,
       {{"in.ped.gen", "1 rs1 100 \xc3 A 0 0 1 1 0 0\n"}}},
      {"CRLF files read like LF files", "1 rs1 0 100 A G\r\n1 rs2 0 200\r\n",
       "F I 0 0 1 1 G G A C\r\nF J 0 0 2 2 A A C C\r\n", p_args(), 2, 2, kOut,
       {{"in.ped.sample", kHeader + "I I 0 1 1\nJ J 0 2 2\n"},
        {"in.ped.gen", "1 rs1 100 A G 0 0 1 1 0 0\n1 rs2 200 A C 0 1 0 0 0 1\n"}}},
  });
}

TEST(PedToGen, SamplesAndPhenotypeGroups) {
  const std::string ped4 =
      "F A 0 0 1 2 A A\nF B 0 0 2 1 A G\nF C 0 0 1 -9 G G\nF D 0 0 2 1 0 0\n";
  const std::string map1 = "1 rs1 0 100\n";
  const std::string groups3 = kOut + "Number of discrete phenotypes: 3\n";
  run_rows({
      {"--family ids; sex read as strtol does", map1,
       "F1 I7 0 0 1 1 A A\nF2 I8 0 0 F 2 A A\nF3 I9 0 0 2x -9 A A\n", p_args({"--family"}), 1,
       3, kOut,
       {{"in.ped.sample", kHeader + "F1_I7 F1_I7 0 1 1\nF2_I8 F2_I8 0 0 2\nF3_I9 F3_I9 0 2 -9\n"}}},
      {"--calvora1 type line", map1, "F I 0 0 1 1 A A\n", p_args({"--calvora1"}), 1, 1, kOut,
       {{"in.ped.sample", "ID_1 ID_2 Missing Gender Phenotype\n0 0 0 1 P\nI I 0 1 1\n"}}},
      {"one pair per phenotype, in byte order", map1, ped4,
       p_args({"--discrete_phenotype", "--os", "out.sample", "--og", "out.gen"}), 1, 4, groups3,
       {{"out.sample_-9", kHeader + "C C 0 1 -9\n"},
        {"out.sample_1", kHeader + "B B 0 2 1\nD D 1 2 1\n"},
        {"out.sample_2", kHeader + "A A 0 1 2\n"},
        {"out.gen_-9", "1 rs1 100 A G 0 0 1\n"},
        {"out.gen_1", "1 rs1 100 A G 0 1 0 0 0 0\n"},
        {"out.gen_2", "1 rs1 100 A G 1 0 0\n"}},
       0, {"out.sample", "out.gen"}},
      {"group names with .gz inside the base name; plain PED writes plain", map1,
       "F A 0 0 1 2 A A\n",
       p_args({"--discrete_phenotype", "--os", "data.sample.gz", "--og", "x.gz.gen"}), 1, 1,
       kOut + "Number of discrete phenotypes: 1\n",
       {{"data.sample_2.gz", kHeader + "A A 0 1 2\n"}, {"x_2.gz.gen", "1 rs1 100 A A 1 0 0\n"}},
       0, {"data.sample.gz", "x.gz.gen"}, {{"data.sample_2.gz", false}, {"x_2.gz.gen", false}}},
      {"gzip PED compresses every group file", map1, ped4,
       p_args({"--discrete_phenotype"}, "in.ped.gz"), 1, 4, groups3,
       {{"in.ped.sample_1.gz", kHeader + "B B 0 2 1\nD D 1 2 1\n"},
        {"in.ped.gen_-9.gz", "1 rs1 100 A G 0 0 1\n"}},
       0, {}, {{"in.ped.sample_2.gz", true}, {"in.ped.gen_1.gz", true}}, "in.ped.gz"},
      {"a '/' in a phenotype stays out of the path", map1, "F A 0 0 1 case/ctl A A\n",
       p_args({"--discrete_phenotype", "--os", "o.sample", "--og", "o.gen"}), 1, 1,
       kOut + "Number of discrete phenotypes: 1\n",
       {{"o.sample_case_ctl", kHeader + "A A 0 1 case/ctl\n"},
        {"o.gen_case_ctl", "1 rs1 100 A A 1 0 0\n"}}},
      {"a zero byte in a phenotype stays in the name", map1,
       std::string("F A 0 0 1 a_b\0zzz A G\nF B 0 0 2 b A A\n", 38),
       p_args({"--discrete_phenotype", "--os", "o.sample", "--og", "o.gen"}), 1, 2,
       kOut + "Number of discrete phenotypes: 2\n",
       {{"o.sample_a_b_zzz", kHeader + std::string("A A 0 1 a_b\0zzz\n", 16)},
        {"o.sample_b", kHeader + "B B 0 2 b\n"},
        {"o.gen_a_b_zzz", "1 rs1 100 A G 0 1 0\n"},
        {"o.gen_b", "1 rs1 100 A G 1 0 0\n"}}},
      {"two phenotypes that would share a file", map1, "F A 0 0 1 a/b A A\nF B 0 0 1 a_b A A\n",
       p_args({"--discrete_phenotype", "--os", "o.sample", "--og", "o.gen"}), 1, 2,
       "Phenotype groups share a file name: o.sample_a_b\n", {}, 1,
       {"o.sample_a_b", "o.gen_a_b"}},
      {"empty PED with groups writes nothing", map1, "", p_args({"--discrete_phenotype"}), 1, 0,
       kOut + "Number of discrete phenotypes: 0\n", {}, 0, {"in.ped.sample", "in.ped.gen"}},
  });
}

TEST(PedToGen, FileShapes) {
  run_rows({
      {"MAP with no SNPs: missing proportion 0", "", "F I 0 0 1 1\n", p_args(), 0, 1, kOut,
       {{"in.ped.sample", kHeader + "I I 0 1 1\n"}, {"in.ped.gen", ""}}},
      {"empty PED", "1 rs1 0 100\n1 rs2 0 200 C\n", "", p_args(), 2, 0, kOut,
       {{"in.ped.sample", kHeader}, {"in.ped.gen", "1 rs1 100 - -\n1 rs2 200 C C\n"}}},
      {"blank PED lines are not samples", "1 rs1 0 100\n",
       "\n  \t\nF I 0 0 1 1 A A\n\nF J 0 0 1 1 A G\n   \n", p_args(), 1, 2, kOut,
       {{"in.ped.sample", kHeader + "I I 0 1 1\nJ J 0 1 1\n"},
        {"in.ped.gen", "1 rs1 100 A G 1 0 0 0 1 0\n"}}},
      {"last lines without a newline", "1 rs1 0 100\n1 rs2 0 200", "F I 0 0 1 1 A A C C",
       p_args(), 2, 1, kOut, {{"in.ped.gen", "1 rs1 100 A A 1 0 0\n1 rs2 200 C C 1 0 0\n"}}},
      {"gzip in and out by the PED name", "1 rs1 0 100 A G\n", "F I 0 0 1 1 A G\n",
       p_args({}, "in.ped.gz", "in.map.gz"), 1, 1, kOut,
       {{"in.ped.sample.gz", kHeader + "I I 0 1 1\n"}, {"in.ped.gen.gz", "1 rs1 100 A G 0 1 0\n"}},
       0, {}, {{"in.ped.sample.gz", true}, {"in.ped.gen.gz", true}}, "in.ped.gz", "in.map.gz"},
      {"a given name gets .gz forced by a gzip PED", "1 rs1 0 100\n", "F I 0 0 1 1 A A\n",
       p_args({"--og", "out.gen"}, "in.ped.gz"), 1, 1, kOut,
       {{"out.gen.gz", "1 rs1 100 A A 1 0 0\n"}}, 0, {"out.gen"}, {{"out.gen.gz", true}},
       "in.ped.gz"},
      {"a plain PED writes plain, whatever the output name", "1 rs1 0 100\n", "F I 0 0 1 1 A A\n",
       p_args({"--og", "out.gen.gz"}), 1, 1, kOut, {{"out.gen.gz", "1 rs1 100 A A 1 0 0\n"}}, 0,
       {}, {{"out.gen.gz", false}}},
  });
}

TEST(PedToGen, BadLines) {
  const std::vector<std::string> outs = {"in.ped.sample", "in.ped.gen"};
  auto ped_error = [&](const std::string& name, const std::string& map, const std::string& ped,
                       long snps, long samples, const std::string& msg) {
    return row{name, map, ped, p_args(), snps, samples, msg, {}, 1, outs};
  };
  run_rows({
      ped_error("short PED line", "1 rs1 0 100\n", "F I 0 0 1 1 A A\nF J 0 0 1\n", 1, 2,
                "Bad line 2 in in.ped: fewer than 6 leading fields\n"),
      ped_error("too few allele codes, counted by physical line", "1 rs1 0 100\n1 rs2 0 200\n",
                "\nF I 0 0 1 1 A A G\n", 2, 1, "Bad line 2 in in.ped: 3 allele codes for 2 SNPs\n"),
      ped_error("too many allele codes", "1 rs1 0 100\n", "F I 0 0 1 1 A A G G\n", 1, 1,
                "Bad line 1 in in.ped: 4 allele codes for 1 SNP\n"),
      ped_error("genotypes against a MAP with no SNPs", "", "F I 0 0 1 1 A A\n", 0, 1,
                "Bad line 1 in in.ped: 2 allele codes for 0 SNPs\n"),
  });
  struct map_row {
    std::string name, map, reason;
  };
  for (const map_row& m : std::vector<map_row>{
           {"MAP header line", "CHR SNP CM BP\n1 rs1 0 100\n",
            "1 in in.map: distance is not a number"},
           {"MAP line with three fields", "1 rs1 0 100\n1 rs2 0\n1 rs3 0 300\n",
            "2 in in.map: expected chromosome, SNP name, distance and position"},
           {"position with trailing text", "1 rs1 0 100x\n",
            "1 in in.map: position is not an integer"},
           {"position beyond 32 bits", "1 rs1 0 3000000000\n",
            "1 in in.map: position is not an integer"},
       }) {
    e2e_case c;
    c.name = m.name;
    c.files = {{"in.map", m.map}, {"in.ped", "F I 0 0 1 1 A A\n"}};
    c.args = p_args();
    c.status = 1;
    c.out = c.log = echo_line(c.args) + "MAP...\nBad line " + m.reason + "\n";
    c.absent = outs;
    run_case(c);
  }
}

TEST(PedToGen, FilesThatCannotBeUsed) {
  const std::string map1 = "1 rs1 0 100\n";
  std::vector<std::string> outs = {"in.ped.sample", "in.ped.gen"};
  struct fail_row {
    std::string name;
    std::map<std::string, std::string> files;
    std::vector<std::string> args;
    std::string out;  // after the echo line
  };
  for (const fail_row& f : std::vector<fail_row>{
           {"no inputs", {}, p_args(), "Can't open in.ped\nCan't open in.map\n"},
           {"no MAP", {{"in.ped", ""}}, p_args(), "Can't open in.map\n"},
           {"output is an input", {{"in.ped", ""}, {"in.map", map1}}, p_args({"--og", "in.map"}),
            "Output file is also an input: in.map\n"},
           {"group file is an input", {{"in.ped", "F I 0 0 1 1 A A\n"}, {"m_1", map1}},
            p_args({"--discrete_phenotype", "--os", "m"}, "in.ped", "m_1"),
            "MAP...\nNumber of SNPs: 1\nCount Samples...\nNumber of samples: 1\nmemory...3\n"
            "PED...\nOutput file is also an input: m_1\n"},
       }) {
    e2e_case c;
    c.name = f.name;
    c.files = f.files;
    c.args = f.args;
    c.status = 1;
    c.out = c.log = echo_line(f.args) + f.out;
    for (const auto& in : f.files) c.outputs[in.first] = in.second;  // left as they were
    c.absent = outs;
    run_case(c);
  }
  run_rows({
      {"output directory missing", map1, "F I 0 0 1 1 A A\n", p_args({"--os", "nodir/s"}), 1, 1,
       "Can't open nodir/s\n", {}, 1, {"in.ped.gen"}},
      {"output device full", map1, "F I 0 0 1 1 A A\n", p_args({"--og", "/dev/full"}), 1, 1,
       kOut + "Can't write /dev/full\n", {}, 1},
  });
}

// Compressed inputs whose bytes the harness must not compress for us.
TEST(PedToGen, DamagedGzipInputs) {
  std::string good = gzip_bytes("F I 0 0 1 1 A A\n");
  struct gz_row {
    std::string name, ped_bytes, map_bytes, after_echo;
    int status;
  };
  const std::string map_gz = gzip_bytes("1 rs1 0 100\n");
  for (const gz_row& g : std::vector<gz_row>{
           {"PED cut short", good.substr(0, good.size() - 6), map_gz,
            "MAP...\nNumber of SNPs: 1\nCount Samples...\nDamaged gzip file: in.ped.gz\n", 1},
           {"PED not gzip data", "F I 0 0 1 1 A A\n", map_gz,
            "MAP...\nNumber of SNPs: 1\nCount Samples...\nDamaged gzip file: in.ped.gz\n", 1},
           {"MAP not gzip data", good, "1 rs1 0 100\n",
            "MAP...\nDamaged gzip file: in.map.gz\n", 1},
           {"0-byte MAP reads as empty", good, "",
            "MAP...\nNumber of SNPs: 0\nCount Samples...\nNumber of samples: 1\nmemory...0\nPED...\n"
            "Bad line 1 in in.ped.gz: 2 allele codes for 0 SNPs\n",
            1},
       }) {
    SCOPED_TRACE(g.name);
    temp_dir dir;
    dir.write("in.ped.gz", g.ped_bytes);
    dir.write("in.map.gz", g.map_bytes);
    std::vector<std::string> args = p_args({}, "in.ped.gz", "in.map.gz");
    run_result r = run_trevlin(dir.path(), args);
    EXPECT_EQ(r.status, g.status);
    EXPECT_EQ(r.out, echo_line(args) + g.after_echo);
    EXPECT_EQ(dir.read("trevlin.log"), r.out);
    EXPECT_FALSE(dir.exists("in.ped.gen.gz"));
    EXPECT_FALSE(dir.exists("in.ped.sample.gz"));
  }
}

}  // namespace
