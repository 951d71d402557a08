// Round trips across modes: what one mode writes, another (or the same one)
// reads back without loss.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e.h"

namespace {

using words = std::vector<std::string>;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    if (nl == std::string::npos) nl = text.size();
    out.push_back(text.substr(at, nl - at));
    at = nl + 1;
  }
  return out;
}

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < line.size()) {
    size_t b = line.find_first_not_of(" \t", at);
    if (b == std::string::npos) break;
    size_t e = line.find_first_of(" \t", b);
    if (e == std::string::npos) e = line.size();
    out.push_back(line.substr(b, e - b));
    at = e;
  }
  return out;
}

// A genotype as an unordered pair of letters: numeric codes as the bases
// they stand for, "0" (missing in a PED input) as "N".
std::string genotype(char a, char b) {
  auto letter = [](char c) {
    switch (c) {
      case '0': return 'N';
      case '1': return 'A';
      case '2': return 'C';
      case '3': return 'G';
      case '4': return 'T';
      default: return c;
    }
  };
  a = letter(a);
  b = letter(b);
  return a < b ? std::string{a, b} : std::string{b, a};
}

// Sample id, sex, phenotype and genotypes of each PED line; the allele
// characters pair up whether or not blanks stand between them.
std::vector<std::string> ped_content(const std::string& ped, size_t id_field) {
  std::vector<std::string> out;
  for (const std::string& l : lines_of(ped)) {
    std::vector<std::string> f = fields_of(l);
    if (f.size() < 6) continue;
    std::string row = f[id_field] + "|" + f[4] + "|" + f[5], codes;
    for (size_t i = 6; i < f.size(); ++i) codes += f[i];
    for (size_t i = 0; i + 1 < codes.size(); i += 2) row += "|" + genotype(codes[i], codes[i + 1]);
    out.push_back(row);
  }
  return out;
}

TEST(RoundTrip, PedToGenToPed) {
  struct row {
    const char* name;
    std::string ped, map;
    std::string missing_loci;
  };
  const std::vector<row> rows = {
      {"letters", "f1 a 0 0 1 1 A A C T G G\nf2 b 0 0 2 2 A G T T C G\nf3 c 0 0 1 2 G G C C G G\n",
       "1 rs1 0 100\n1 rs2 0 200\n2 rs3 0 300\n", "0"},
      // Numeric codes come back as the letters they stand for.
      {"numeric", "f1 a 0 0 1 1 1 1 2 4\nf2 b 0 0 2 2 1 3 4 4\n", "1 rs1 0 100\n1 rs2 0 200\n", "0"},
      {"alleles without blanks", "f1 a 0 0 2 1 AG CC\nf2 b 0 0 1 1 GG CT\n",
       "1 rs1 0 100\n1 rs2 0 200\n", "0"},
      // A missing PED genotype is a zero triple, called as missing.
      {"missing", "f1 a 0 0 1 1 0 0 C T\nf2 b 0 0 2 2 A G 0 0\n", "1 rs1 0 100\n1 rs2 0 200\n", "2"},
  };
  for (const row& r : rows) {
    for (bool gz : {false, true}) {
      SCOPED_TRACE(std::string(r.name) + (gz ? " compressed" : ""));
      temp_dir d;
      std::string z = gz ? ".gz" : "";
      if (gz) {
        d.write_gz("in.ped.gz", r.ped);
      } else {
        d.write("in.ped", r.ped);
      }
      d.write("in.map", r.map);
      ASSERT_EQ(run_trevlin(d.path(), {"-P", "--ped", "in.ped" + z, "--map", "in.map", "--og",
                                       "x.gen" + z, "--os", "x.sample" + z}).status, 0);
      run_result g = run_trevlin(d.path(), {"-G", "--g", "x.gen" + z, "--s", "x.sample" + z,
                                            "--ped", "y.ped" + z, "--map", "y.map" + z, "--sex",
                                            "Gender", "--phenotype", "Phenotype", "--threshold", "0.9"});
      ASSERT_EQ(g.status, 0) << g.out;
      EXPECT_NE(g.out.find("Number of missing loci: " + r.missing_loci + "\n"), std::string::npos);
      std::string ped = gz ? gunzip_bytes(d.read("y.ped.gz")) : d.read("y.ped");
      // -G writes the sample id second, -P took it from the second field.
      EXPECT_EQ(ped_content(ped, 1), ped_content(r.ped, 1));
      std::string map = gz ? gunzip_bytes(d.read("y.map.gz")) : d.read("y.map");
      std::vector<std::string> in_map = lines_of(r.map), out_map = lines_of(map);
      ASSERT_EQ(in_map.size(), out_map.size());
      for (size_t i = 0; i < in_map.size(); ++i) {
        std::vector<std::string> a = fields_of(in_map[i]), b = fields_of(out_map[i]);
        EXPECT_EQ(a[1], b[1]);  // SNP name
        EXPECT_EQ(a[3], b[3]);  // position
      }
    }
  }
}

TEST(RoundTrip, OrientMinusTwiceIsIdentity) {
  const std::string gen =
      "s1 r1 100 A G 1 0 0 0 1 0\n"
      "s2 r2 200 C T 0.2 0.3 0.5 0 0 1\n"
      "s3 r3 300 AT G 0 1 0 1 0 0\n"   // a text of two letters has no complement
      "s4 r4 400 N - 0 0 0 1 0 0\n"
      "s5 r5 500 G C 0.333 0.333 0.334 1e-05 0 1\n";
  for (bool gz : {false, true}) {
    SCOPED_TRACE(gz ? "compressed" : "plain");
    temp_dir d;
    d.write("strand", "100 -\n200 -\n300 -\n400 -\n500 -\n");
    std::string z = gz ? ".gz" : "";
    if (gz) {
      d.write_gz("in.gen.gz", gen);
    } else {
      d.write("in.gen", gen);
    }
    ASSERT_EQ(run_trevlin(d.path(), {"-O", "--g", "in.gen" + z, "--strand", "strand", "--og", "once.gen" + z}).status, 0);
    ASSERT_EQ(run_trevlin(d.path(), {"-O", "--g", "once.gen" + z, "--strand", "strand", "--og", "twice.gen" + z}).status, 0);
    std::string once = gz ? gunzip_bytes(d.read("once.gen.gz")) : d.read("once.gen");
    std::string twice = gz ? gunzip_bytes(d.read("twice.gen.gz")) : d.read("twice.gen");
    EXPECT_NE(once, gen);
    EXPECT_EQ(twice, gen);
  }
}

TEST(RoundTrip, SubsetKeepingAllOnlyReformatsNumbers) {
  struct row {
    std::string in, out;
  };
  const std::vector<row> rows = {
      {"s1 r1 100 A G 1 0 0 0 1 0\n", "s1 r1 100 A G 1 0 0 0 1 0 \n"},
      {"s1 r1 100 A G 1.0 0.00 0.5 0.33333 0.33333 0.33334\n",
       "s1 r1 100 A G 1 0 0.5000 0.3333 0.3333 0.3333 \n"},
      {"s1\tr1\t+0100\tAT\tG\t1e-05\t0.99999\t0\r\n", "s1 r1 100 AT G 0.0000 1.0000 0 \n"},
      {"a b -5 x y 0.12345 0.00005 2\n\nc d 7 x y 0.5 0.25 0.25\n",
       "a b -5 x y 0.1235 0.0001 2 \nc d 7 x y 0.5000 0.2500 0.2500 \n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.in);
    temp_dir d;
    d.write("in.gen", r.in);
    run_result res = run_trevlin(d.path(), {"-S", "--g", "in.gen", "--start", "-2147483647", "--og", "out.gen"});
    EXPECT_EQ(res.status, 0) << res.out;
    EXPECT_EQ(d.read("out.gen"), r.out);
  }
}

TEST(RoundTrip, MergeWithItself) {
  const std::string gen =
      "s1 r1 100 A G 1 0 0 0 1 0 0 0 1\n"
      "s2 r2 200 C T 0.5 0.25 0.25 0 0 0 0.9 0.1 0\n"
      "s3 r3 300 A C 0.333333 0.333333 0.333334 1e-05 0 0.99999 0 0 1\n";
  const std::string sample = "ID_1 ID_2 missing pheno\n0 0 0 P\na a 0 1\nb b 0 2\nc c 0 -9\n";
  for (bool gz : {false, true}) {
    SCOPED_TRACE(gz ? "compressed" : "plain");
    temp_dir d;
    std::string z = gz ? ".gz" : "";
    if (gz) {
      d.write_gz("in.gen.gz", gen);
      d.write_gz("in.sample.gz", sample);
    } else {
      d.write("in.gen", gen);
      d.write("in.sample", sample);
    }
    run_result r = run_trevlin(d.path(), {"-M", "--g", "in.gen" + z, "in.gen" + z, "--s", "in.sample" + z,
                                          "in.sample" + z, "--og", "m.gen", "--os", "m.sample"});
    ASSERT_EQ(r.status, 0) << r.out;
    std::vector<std::string> in = lines_of(gen), out = lines_of(d.read("m.gen"));
    ASSERT_EQ(in.size(), out.size()) << d.read("m.gen");
    for (size_t i = 0; i < in.size(); ++i) EXPECT_EQ(fields_of(out[i]), fields_of(in[i]));
    EXPECT_EQ(lines_of(d.read("m.sample")).size(), 5u) << d.read("m.sample");
  }
}

// Every mode writes the same text from compressed inputs as from plain ones.
TEST(RoundTrip, CompressedAndPlainRunsAgree) {
  const std::string gen = "s1 r1 100 A G 1 0 0 0 1 0\ns2 r2 200 C T 0.5 0.5 0 0 0 1\n";
  const std::string sample = "ID_1 ID_2 missing sex\n0 0 0 D\na a 0 1\nb b 0 2\n";
  const std::string ped = "f1 a 0 0 1 1 A A C T\nf2 b 0 0 2 2 A G T T\n";
  const std::string map = "1 rs1 0 100\n1 rs2 0 200\n";
  struct row {
    const char* name;
    words args;  // "@" stands for "" or ".gz"
    std::vector<std::string> outputs;
  };
  const std::vector<row> rows = {
      {"subset", {"-S", "--g", "in.gen@", "--s", "in.sample@", "--sample_excl", "ids@", "--og", "o.gen@", "--os", "o.sample@"},
       {"o.gen@", "o.sample@"}},
      {"ped to gen", {"-P", "--ped", "in.ped@", "--map", "in.map@", "--og", "o.gen@", "--os", "o.sample@"},
       {"o.gen@", "o.sample@"}},
      {"gen to ped", {"-G", "--g", "in.gen@", "--s", "in.sample@", "--ped", "o.ped@", "--map", "o.map@"},
       {"o.ped@", "o.map@"}},
      {"merge", {"-M", "--g", "in.gen@", "in.gen@", "--s", "in.sample@", "in.sample@", "--og", "o.gen@", "--os", "o.sample@"},
       {"o.gen@", "o.sample@"}},
      {"orient", {"-O", "--g", "in.gen@", "--strand", "strand@", "--og", "o.gen@", "--order"}, {"o.gen@"}},
  };
  auto with = [](std::string s, const std::string& z) {
    size_t at = s.find('@');
    if (at != std::string::npos) s.replace(at, 1, z);
    return s;
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<std::string> texts[2];
    for (int gz = 0; gz < 2; ++gz) {
      temp_dir d;
      std::string z = gz ? ".gz" : "";
      auto put = [&](const std::string& name, const std::string& text) {
        if (gz) {
          d.write_gz(name + z, text);
        } else {
          d.write(name, text);
        }
      };
      put("in.gen", gen);
      put("in.sample", sample);
      put("in.ped", ped);
      put("in.map", map);
      put("strand", "100 -\n200 +\n");
      put("ids", "b\n");
      words args;
      for (const std::string& a : r.args) args.push_back(with(a, z));
      run_result res = run_trevlin(d.path(), args);
      ASSERT_EQ(res.status, 0) << res.out;
      for (const std::string& o : r.outputs) {
        std::string bytes = d.read(with(o, z));
        if (gz) {
          bool ok = false;
          EXPECT_TRUE(is_gzip_data(bytes)) << with(o, z);
          texts[gz].push_back(gunzip_bytes(bytes, &ok));
          EXPECT_TRUE(ok);
        } else {
          EXPECT_FALSE(is_gzip_data(bytes));
          texts[gz].push_back(bytes);
        }
      }
    }
    EXPECT_EQ(texts[0], texts[1]);
  }
}

}  // namespace
