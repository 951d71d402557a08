// The option parse and the output names.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "modes.h"
#include "trevlin.h"

namespace {

struct parsed {
  parse_status status;
  option_values v;
  std::string bad;
};

parsed parse(std::vector<std::string> words) {
  words.insert(words.begin(), "trevlin");
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  parsed p;
  p.status = parse_options(static_cast<int>(argv.size()), argv.data(), p.v, p.bad);
  return p;
}

TEST(Parse, ValuesAndConversions) {
  parsed p = parse({"--start", "-1", "--end", "+15", "--threshold", "9e-1", "--missing", " 0.25",
                    "--og", "a", "--out_genotype", "b", "--g", "-S"});
  ASSERT_EQ(p.status, parse_status::ok);
  EXPECT_EQ(p.v.start, -1);
  EXPECT_EQ(p.v.end, 15);
  EXPECT_TRUE(p.v.range_given);
  EXPECT_EQ(p.v.threshold, 0.9);
  EXPECT_EQ(p.v.missing_threshold, 0.25);
  EXPECT_TRUE(p.v.missing_given);
  EXPECT_EQ(p.v.out_gen, "b");       // last value wins
  EXPECT_EQ(p.v.gen_file, "-S");     // a value may look like an option
  EXPECT_FALSE(p.v.mode_S);
  EXPECT_EQ(parse({"--end", "-2147483648"}).v.end, INT32_MIN);
}

TEST(Parse, Failures) {
  struct row {
    std::vector<std::string> words;
    parse_status status;
    std::string bad;
  } rows[] = {
      {{"in.gen"}, parse_status::unknown_word, "in.gen"},
      {{"-s"}, parse_status::unknown_word, "-s"},
      {{"--g=a.gen"}, parse_status::unknown_word, "--g=a.gen"},
      {{"--order", "yes"}, parse_status::unknown_word, "yes"},
      {{"-M", "--g", "a.gen", "-x.gen"}, parse_status::unknown_word, "-x.gen"},
      {{"-S", "--g"}, parse_status::missing_value, "--g"},
      {{"--log"}, parse_status::missing_value, "--log"},
      // A number must be one as a whole, and an integer fit 32 bits.
      {{"--threshold", "0,9"}, parse_status::invalid_value, "--threshold 0,9"},
      {{"--end", "12abc"}, parse_status::invalid_value, "--end 12abc"},
      {{"--missing", ""}, parse_status::invalid_value, "--missing "},
      {{"--threshold", "abc"}, parse_status::invalid_value, "--threshold abc"},
      {{"--start", "4294967297"}, parse_status::invalid_value, "--start 4294967297"},
      {{"--start", "99999999999999999999"}, parse_status::invalid_value, "--start 99999999999999999999"},
      {{"--end", "1e6"}, parse_status::invalid_value, "--end 1e6"},
      {{"--start", "5 "}, parse_status::invalid_value, "--start 5 "},
      // The first fault from the left is the one reported.
      {{"--start", "x", "bogus"}, parse_status::invalid_value, "--start x"},
  };
  for (const row& r : rows) {
    parsed p = parse(r.words);
    EXPECT_EQ(p.status, r.status) << r.bad;
    EXPECT_EQ(p.bad, r.bad);
  }
}

TEST(Parse, MergeLists) {
  parsed p = parse({"-M", "--g", "a.gen", "b.gen", "--og", "out", "--s", "a.sample", "b.sample"});
  ASSERT_EQ(p.status, parse_status::ok);
  EXPECT_EQ(p.v.files, (std::vector<std::string>{"a.gen", "b.gen", "a.sample", "b.sample"}));
  EXPECT_EQ(p.v.out_gen, "out");
  EXPECT_EQ(p.v.gen_file, "");

  // SAMPLE names first, or alternating: still all GEN names first.
  p = parse({"-M", "--s", "a.sample", "--g", "a.gen", "--s", "b.sample", "--g", "b.gen"});
  EXPECT_EQ(p.v.files, (std::vector<std::string>{"a.gen", "b.gen", "a.sample", "b.sample"}));

  p = parse({"-M", "--g", "--s", "x.sample"});
  EXPECT_TRUE(p.v.gen_list.empty());
  EXPECT_EQ(p.v.sample_list.size(), 1u);

  p = parse({"--g", "a.gen", "-M", "--s", "x.sample"});  // --g before -M is a plain value
  EXPECT_EQ(p.v.gen_file, "a.gen");
  EXPECT_TRUE(p.v.gen_list.empty());

  p = parse({"-M", "--g", "a.gen"});  // a list may end the command line
  EXPECT_EQ(p.status, parse_status::ok);
  EXPECT_EQ(p.v.gen_list.size(), 1u);
  p = parse({"-M", "--s"});  // an empty list, not a missing value
  EXPECT_EQ(p.status, parse_status::ok);
}

TEST(Names, DefaultOutputName) {
  struct row {
    const char* in;
    const char* suffix;
    const char* out;
  } rows[] = {
      {"in.gen.gz", ".subset", "in.gen.subset.gz"}, {"in.gen", ".subset", "in.gen.subset"},
      {"data.gz.txt", ".subset", "data.subset.gz.txt"}, {"a.gzip", ".subset", "a.subset.gzip"},
      {"x.ped.gz", ".gen", "x.ped.gen.gz"}, {"a.gen.gz", ".orient", "a.gen.orient.gz"},
  };
  for (const row& r : rows) EXPECT_EQ(default_output_name(r.in, r.suffix), r.out);
  EXPECT_EQ(force_gz("out.txt"), "out.txt.gz");
  EXPECT_EQ(force_gz("a.gzip"), "a.gzip");
}

TEST(Names, MergedOutputNames) {
  struct row {
    std::vector<std::string> files;
    const char* gen;
    const char* sample;
  } rows[] = {
      {{"d/a.gen.gz", "d/b.gen.gz", "d/a.sample", "d/b.sample"}, "d/a_b.gen.gz", "d/a_b.sample.gz"},
      {{"x/chr1.gen", "y/chr2.gen.gz", "x/1.sample", "y/2.sample"}, "x/chr1_chr2.gen.gz", "x/1_2.sample.gz"},
      {{"run.1/a", "run.1/b", "s1", "s2"}, "run.1/a_b.gen", "run.1/s1_s2.sample"},
      {{"a.gen", "b.sample.gz"}, "a.gen", "b.sample"},
      {{"a.gen.gz", "samples/b.sample"}, "a.gen.gz", "b.sample.gz"},
  };
  for (row& r : rows) {
    int n = static_cast<int>(r.files.size() / 2);
    EXPECT_EQ(default_gen_output_file(n, r.files), r.gen);
    EXPECT_EQ(default_gen_output_sample_file(n, r.files), r.sample);
  }
  std::vector<std::string> none;
  EXPECT_EQ(default_gen_output_file(0, none), ".gen");
}

}  // namespace
