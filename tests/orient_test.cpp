// End-to-end tests of -O: strand table, allele orientation, names and failures.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e.h"

namespace {

const std::string kStrand = "Processing strand file...\n";
const std::string kGen = "Processing GEN file...\n";

std::vector<std::string> orient_args(const std::string& gen, const std::string& strand,
                                     std::vector<std::string> extra = {}) {
  std::vector<std::string> a = {"-O", "--g", gen, "--strand", strand};
  a.insert(a.end(), extra.begin(), extra.end());
  return a;
}

// A run whose messages are "strand_msgs" (both), then the GEN pass with
// "no_entry" lines (both) and standard-output-only lines "out_only" after them.
e2e_case ok_case(std::string name, std::map<std::string, std::string> files,
                 std::vector<std::string> args, std::string strand_msgs, std::string no_entry,
                 std::string out_only, std::map<std::string, std::string> outputs) {
  e2e_case c;
  c.name = name;
  c.files = files;
  c.args = args;
  std::string echo = echo_line(args);
  c.out = echo + kStrand + strand_msgs + kGen + no_entry + out_only;
  c.log = echo + kStrand + strand_msgs + kGen + no_entry;
  c.outputs = outputs;
  return c;
}

TEST(Orient, OutputNames) {
  std::string gen = "s1 r1 100 A G 1 0 0\n";
  std::string done = "0\nInput SNPs: 1 Output SNPs: 1\n";
  struct row { std::string gen_in, strand, og, out; bool gz; std::string not_made; };
  for (const row& r : std::vector<row>{
           {"a.gen.gz", "s.txt", "b.gen", "b.gen.gz", true, "b.gen"},
           {"a.gen", "s.txt", "b.gen.gz", "b.gen.gz", true, ""},
           {"a.gen.gz", "s.txt", "b.gz.txt", "b.gz.txt", true, "b.gz.txt.gz"},
           {"in.gen.gz", "s.txt", "", "in.gen.orient.gz", true, ""},
           {"in.gen", "s.txt", "", "in.gen.orient", false, "in.gen.orient.gz"},
           {"a.gen", "s.txt.gz", "b.gen", "b.gen", false, "b.gen.gz"}}) {
    auto args = orient_args(r.gen_in, r.strand);
    if (!r.og.empty()) args.insert(args.end(), {"--og", r.og});
    e2e_case c = ok_case(r.gen_in + " -> " + r.out, {{r.gen_in, gen}, {r.strand, "100 +\n"}},
                         args, "", "", done, {{r.out, gen}});
    c.gzipped[r.out] = r.gz;
    if (!r.not_made.empty()) c.absent.push_back(r.not_made);
    run_case(c);
  }
}

TEST(Orient, StrandLines) {
  std::string gen = "s1 r1 100 A G 1 0 0\n";
  std::string kept = "s1 r1 100 A G 1 0 0\n", flipped = "s1 r1 100 T C 1 0 0\n";
  std::string none = "No orientation for SNP: 100 s1 r1\n";
  struct row { std::string strand, msgs, no_entry, out; };
  for (const row& r : std::vector<row>{
           {"100 -\n100 +\n", "", "", kept},
           {"100 +\n100 -\n", "", "", flipped},
           {"100 F\n", "Unknown orientation: F 100\n", none, kept},
           {"100\n", "Unknown orientation:  100\n", none, kept},
           {"100 + rs5 extra\n", "", "", kept},
           {"100+\n", "", "", kept},
           {"100-", "", "", flipped},
           {" \t0100\t-\r\n", "", "", flipped},
           {"100 -1\n100 ++\n", "Unknown orientation: -1 100\nUnknown orientation: ++ 100\n", none, kept},
           {"pos strand\n100 -\n", "Unknown orientation:  0\n", "", flipped},
           {"2147483748 -\n", "Unknown orientation:  0\n", none, kept},
           {"\n100 -\n", "Unknown orientation:  0\n", "", flipped}}) {
    run_case(ok_case("strand " + r.strand, {{"a.gen", gen}, {"s.txt", r.strand}},
                     orient_args("a.gen", "s.txt", {"--og", "o.gen"}), r.msgs, r.no_entry,
                     "0\nInput SNPs: 1 Output SNPs: 1\n", {{"o.gen", r.out}}));
  }
}

TEST(Orient, NoEntryAndExcl) {
  std::string gen = "s1 r1 100 A G 1 0 0\ns2 r2 -200 A G 0 1 0\ns3 r3 300 A G 0 0 1";
  std::string none = "No orientation for SNP: 100 s1 r1\nNo orientation for SNP: -200 s2 r2\n"
                     "No orientation for SNP: 300 s3 r3\n";
  // The progress line comes after that SNP's message.
  e2e_case c = ok_case("excl", {{"a.gen", gen}, {"s.txt", ""}},
                       orient_args("a.gen", "s.txt", {"--excl", "--og", "o.gen"}), "", "", "",
                       {{"o.gen", ""}});
  c.out += "No orientation for SNP: 100 s1 r1\n0\nNo orientation for SNP: -200 s2 r2\n"
           "No orientation for SNP: 300 s3 r3\nInput SNPs: 3 Output SNPs: 0\n";
  c.log += none;
  run_case(c);
  e2e_case k = ok_case("kept", {{"a.gen", gen}, {"s.txt", "-200 -\n"}},
                       orient_args("a.gen", "s.txt", {"--og", "o.gen"}), "", "", "",
                       {{"o.gen", "s1 r1 100 A G 1 0 0\ns2 r2 -200 T C 0 1 0\ns3 r3 300 A G 0 0 1\n"}});
  k.out += "No orientation for SNP: 100 s1 r1\n0\nNo orientation for SNP: 300 s3 r3\n"
           "Input SNPs: 3 Output SNPs: 3\n";
  k.log += "No orientation for SNP: 100 s1 r1\nNo orientation for SNP: 300 s3 r3\n";
  run_case(k);
}

TEST(Orient, Alleles) {
  struct row { std::string tail, strand; bool order; std::string want; };
  for (const row& r : std::vector<row>{
           {"A C 1 0 0", "-", false, "T G 1 0 0"},
           {"A T 0.1 0.2 0.7", "-", false, "T A 0.1 0.2 0.7"},
           {"G A 0.1 0.2 0.7", "+", true, "A G 0.7 0.2 0.1"},
           {"A G 0.1 0.2 0.7 1 0 0", "-", true, "C T 0.7 0.2 0.1 0 0 1"},
           {"A A 0.1 0.2 0.7", "+", true, "A A 0.1 0.2 0.7"},
           {"a C 0.1 0.2 0.7", "+", true, "C a 0.7 0.2 0.1"},
           {"AC A 0.1 0.2 0.7", "+", true, "A AC 0.7 0.2 0.1"},
           {"A AC 0.1 0.2 0.7", "+", true, "A AC 0.1 0.2 0.7"},
           {"G T 1.000 0 0 1e-05 x 0.3333 7", "+", false, "G T 1.000 0 0 1e-05 x 0.3333"},
           {"G T", "-", true, "A C"},
           {"N a 1 0 0", "-", false, "N a 1 0 0"},
           {"AC - 1 0 0", "-", false, "AC - 1 0 0"},
           {"G\tT \t 1  0\t\t0\r", "-", true, "A C 0 0 1"},
           // Bytes order as unsigned values: 0xE9 after 'a'.
           {"\xe9 a 0.1 0.2 0.7", "+", true, "a \xe9 0.7 0.2 0.1"}}) {
    run_case(ok_case("alleles " + r.tail, {{"a.gen", "s r 5 " + r.tail + "\n"}, {"s.txt", "5 " + r.strand}},
                     orient_args("a.gen", "s.txt", r.order ? std::vector<std::string>{"--order"}
                                                           : std::vector<std::string>{}),
                     "", "", "0\nInput SNPs: 1 Output SNPs: 1\n",
                     {{"a.gen.orient", "s r 5 " + r.want + "\n"}}));
  }
}

// GEN positions match strand positions as integers and are written back
// without leading zeros or a plus sign, in the message too.
TEST(Orient, GenPositions) {
  struct row { std::string gen, strand, no_entry, out; };
  for (const row& r : std::vector<row>{
           {"snp1 rs1 0100 A G 1 0 0", "100 -", "", "snp1 rs1 100 T C 1 0 0"},
           {"snp1 rs1 +100 A G 1 0 0", "100 -", "", "snp1 rs1 100 T C 1 0 0"},
           {"snp1 rs1 -0 A G 1 0 0", "0 -", "", "snp1 rs1 0 T C 1 0 0"},
           {"snp1 rs1 -2147483648 A G 1 0 0", "-2147483648 -", "", "snp1 rs1 -2147483648 T C 1 0 0"},
           {"snp1 rs1 0200 A G 0 1 0", "100 -", "No orientation for SNP: 200 snp1 rs1\n",
            "snp1 rs1 200 A G 0 1 0"}}) {
    run_case(ok_case("position " + r.gen, {{"a.gen", r.gen + "\n"}, {"s.txt", r.strand + "\n"}},
                     orient_args("a.gen", "s.txt"), "", r.no_entry,
                     "0\nInput SNPs: 1 Output SNPs: 1\n", {{"a.gen.orient", r.out + "\n"}}));
  }
}

TEST(Orient, ProgressCrlfAndBlankLines) {
  struct row { int lines; std::string progress; };
  for (const row& r : std::vector<row>{{1, "0\n"}, {1000, "0\n"}, {1001, "0\n1000\n"}, {0, ""}}) {
    std::string gen, crlf;
    for (int i = 0; i < r.lines; ++i) {
      gen += "s r 7 A G 1 0 0\n";
      crlf += "s r 7 A G 1 0 0\r\n" + std::string(i % 2 ? "\r\n" : "");
    }
    std::string count = "Input SNPs: " + std::to_string(r.lines) +
                        " Output SNPs: " + std::to_string(r.lines) + "\n";
    for (const std::string& in : {gen, crlf}) {
      run_case(ok_case(std::to_string(r.lines) + " lines", {{"a.gen", in}, {"s.txt", "7 +\n"}},
                       orient_args("a.gen", "s.txt"), "", "", r.progress + count,
                       {{"a.gen.orient", gen}}));
    }
  }
}

TEST(Orient, Failures) {
  std::string gen = "s1 r1 100 A G 1 0 0\n";
  auto fail = [](std::string name, std::map<std::string, std::string> files,
                 std::vector<std::string> args, std::string msgs) {
    e2e_case c;
    c.name = name;
    c.files = files;
    c.args = args;
    c.status = 1;
    c.out = c.log = echo_line(args) + msgs;
    return c;
  };
  e2e_case c = fail("no strand file", {{"a.gen", gen}}, orient_args("a.gen", "s.txt"),
                    kStrand + "Can't open s.txt\n");
  c.absent = {"a.gen.orient"};
  run_case(c);
  // The GEN input is tried first: an existing output is not emptied.
  c = fail("no GEN file", {{"s.txt", "100 +\n"}, {"a.gen.orient.gz", "kept\n"}},
           orient_args("a.gen.gz", "s.txt"), kStrand + kGen + "Can't open a.gen.gz\n");
  c.outputs = {{"a.gen.orient.gz", "kept\n"}};
  run_case(c);
  c = fail("output not creatable", {{"a.gen.gz", gen}, {"s.txt", "100 F\n"}},
           orient_args("a.gen.gz", "s.txt", {"--og", "no/b.gen"}),
           kStrand + "Unknown orientation: F 100\n" + kGen + "Can't open no/b.gen.gz\n");
  run_case(c);
  for (const auto& og : std::vector<std::pair<std::string, std::string>>{
           {"a.gen", "a.gen"}, {"./s.txt", "./s.txt"}}) {
    c = fail("output is input " + og.first, {{"a.gen", gen}, {"s.txt", "100 +\n"}},
             orient_args("a.gen", "s.txt", {"--og", og.first}),
             "Output file is also an input: " + og.second + "\n");
    c.outputs = {{"a.gen", gen}, {"s.txt", "100 +\n"}};
    run_case(c);
  }
  // With the ".gz" appended, a.gen names the input.
  c = fail("appended name is input", {{"a.gen.gz", gen}, {"s.txt", ""}},
           orient_args("a.gen.gz", "s.txt", {"--og", "a.gen"}),
           "Output file is also an input: a.gen.gz\n");
  c.outputs = {{"a.gen.gz", gen}};
  run_case(c);
  // Blank lines are skipped; the line number counts them.
  struct bad { std::string gen, progress, msg; };
  const std::string not_int = "position is not a 32-bit integer\n";
  for (const bad& b : std::vector<bad>{
           {"s1 r1 100 A G 1 0 0\n\n \t\ns2 r2 200 A\n", "0\n", "4 in a.gen: fewer than 5 fields\n"},
           {"s1 r1 1e3 A G 1 0 0\n", "", "1 in a.gen: " + not_int},
           {"s1 r1 100x A G 1 0 0\n", "", "1 in a.gen: " + not_int},
           {"s1 r1 2147483648 A G\n", "", "1 in a.gen: " + not_int}}) {
    c = fail("bad " + b.gen, {{"a.gen", b.gen}, {"s.txt", "100 +\n"}}, orient_args("a.gen", "s.txt"),
             kStrand + kGen + "Bad line " + b.msg);
    c.out = echo_line(c.args) + kStrand + kGen + b.progress + "Bad line " + b.msg;
    run_case(c);
  }
  c = fail("full disk", {{"a.gen", gen}, {"s.txt", "100 +\n"}},
           orient_args("a.gen", "s.txt", {"--og", "/dev/full"}),
           kStrand + kGen + "Can't write /dev/full\n");
  c.out = echo_line(c.args) + kStrand + kGen + "0\nCan't write /dev/full\n";
  run_case(c);
}

// Files written byte for byte, which run_case would compress by their names.
TEST(Orient, GzipBytes) {
  std::string gen = "s1 r1 100 A G 1 0 0\ns2 r2 200 A G 0 1 0\n";
  std::string z = gzip_bytes(gen);
  struct row { std::string gen_bytes, strand_bytes, out, log_tail; int status; std::string written; };
  for (const row& r : std::vector<row>{
           // A 0-byte strand file under a gzip name is empty, not damaged.
           {z, "", "No orientation for SNP: 100 s1 r1\n0\nNo orientation for SNP: 200 s2 r2\n"
                     "Input SNPs: 2 Output SNPs: 0\n",
            "No orientation for SNP: 100 s1 r1\nNo orientation for SNP: 200 s2 r2\n", 0, ""},
           {z, gzip_bytes("100 -\n200 +\n") + gzip_bytes("100 +\n"), "0\nInput SNPs: 2 Output SNPs: 2\n",
            "", 0, "s1 r1 100 A G 1 0 0\ns2 r2 200 A G 0 1 0\n"},
           {z, "100 +\n", "Damaged gzip file: s.gz\n", "Damaged gzip file: s.gz\n", 1, ""},
           // The lines before the cut are processed; the run still fails.
           {z.substr(0, z.size() - 6), gzip_bytes("100 -\n200 -\n"),
            "0\nDamaged gzip file: a.gen.gz\n", "Damaged gzip file: a.gen.gz\n", 1, ""}}) {
    temp_dir dir;
    dir.write("a.gen.gz", r.gen_bytes);
    dir.write("s.gz", r.strand_bytes);
    auto args = orient_args("a.gen.gz", "s.gz", {"--excl", "--og", "o.gen"});
    run_result res = run_trevlin(dir.path(), args);
    std::string head = echo_line(args) + kStrand;
    bool strand_bad = r.out.rfind("Damaged gzip file: s.gz", 0) == 0;
    if (!strand_bad) head += kGen;
    EXPECT_EQ(res.status, r.status);
    EXPECT_EQ(res.out, head + r.out);
    EXPECT_EQ(dir.read("trevlin.log"), head + r.log_tail);
    EXPECT_EQ(dir.exists("o.gen.gz"), !strand_bad);
    if (!r.written.empty()) {
      EXPECT_EQ(gunzip_bytes(dir.read("o.gen.gz")), r.written);
    }
  }
}

}  // namespace
