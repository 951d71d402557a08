// Deterministic synthetic data for the benchmark kit.
//
//   gen_data SAMPLES SNPS DIR [simple|mixed]
//
// writes into DIR:
//   a.gen, a.sample    imputation-like probabilities for SAMPLES x SNPS
//   b.gen, b.sample    a second pair: the second half of a's samples plus as
//                      many new ones, the second half of a's SNPs plus as
//                      many new ones (same positions and alleles where shared)
//   a.ped, a.map       hard calls in the pedigree layout, SAMPLES x SNPS
//   keep.txt           every other sample of a, one "ID_1 ID_2" pair a line
//   a.strand           position and strand for 19 of every 20 SNPs of a
//
// The same arguments always give the same bytes: every SNP line draws from
// its own generator, seeded from the SNP's index.
//
// The probability words of the GEN files come in one of two mixes:
//   simple  (default) 0, 1 or three decimals ("0.953")
//   mixed   shaped as imputed data are: about 70 % of words "0" or "1", 23 %
//           four decimals ("0.9871"), 5 % three decimals and 1 to 2 % two or
//           one decimals ("0.02", "0.5") or an exponent ("1e-04", "2e-05").
// Only the GEN files differ between the mixes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct rng {
  uint64_t s;
  explicit rng(uint64_t seed) : s(seed) {}
  uint64_t next() {  // splitmix64
    uint64_t z = (s += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n).
  uint32_t below(uint32_t n) { return static_cast<uint32_t>((next() >> 32) * n >> 32); }
};

const char kBases[] = "ACGT";

struct snp {
  int position;
  char a, b;
};

snp snp_at(long j) {
  rng r(0x5eed0000ULL + static_cast<uint64_t>(j) * 7919);
  snp s;
  s.position = 10000 + static_cast<int>(j) * 40 + static_cast<int>(r.below(40));
  s.a = kBases[r.below(4)];
  uint32_t ia = s.a == 'A' ? 0 : s.a == 'C' ? 1 : s.a == 'G' ? 2 : 3;
  s.b = kBases[(ia + 1 + r.below(3)) & 3];
  return s;
}

// Allele B frequency of a SNP, in thousandths, 50..500.
uint32_t freq_at(long j) {
  rng r(0xf7e90000ULL + static_cast<uint64_t>(j) * 104729);
  return 50 + r.below(451);
}

const uint32_t kUnit[] = {1, 10, 100, 1000, 10000};

// A probability of v / 10^digits, written 0, 1, or "0." and that many digits.
void put_prob(std::string& out, uint32_t v, int digits) {
  if (v == 0) {
    out += '0';
  } else if (v >= kUnit[digits]) {
    out += '1';
  } else {
    out += "0.";
    for (int k = digits - 1; k >= 0; --k) out += static_cast<char>('0' + v / kUnit[k] % 10);
  }
}

uint32_t draw_genotype(rng& r, uint32_t f) {
  uint32_t g = 0;
  if (r.below(1000) < f) ++g;
  if (r.below(1000) < f) ++g;
  return g;
}

// One sample's triple: about half certain calls, most of the rest confident
// (top probability 0.9 or more), a few below any usual calling threshold
// and a few missing (all zero).  The simple mix writes every triple in
// thousandths.  The mixed one has more certain calls and draws the number of
// decimals per triple, so the words of a triple share a shape; a few
// confident triples carry a tiny second probability written with an
// exponent, its top rounded to four decimals.
void put_triple(std::string& out, rng& r, uint32_t f, bool mixed) {
  uint32_t p[3] = {0, 0, 0};
  uint32_t g = draw_genotype(r, f);
  uint32_t kind = r.below(1000);
  const uint32_t certain_end = mixed ? 615 : 525;
  int digits = 3;
  int tiny = -1;  // index of the word written with an exponent
  uint32_t mantissa = 0, exponent = 0;
  if (mixed && kind >= certain_end) {
    uint32_t shape = r.below(1000);
    digits = shape < 765 ? 4 : shape < 935 ? 3 : shape < 960 ? 2 : shape < 970 ? 1 : 4;
    if (shape >= 970 && kind < 980) {
      tiny = g == 1 ? (r.below(2) ? 0 : 2) : 1;
      mantissa = 1 + r.below(9);
      exponent = 4 + r.below(2);
    }
  }
  const uint32_t unit = kUnit[digits];
  if (kind < 5) {
    // zero triple
  } else if (kind < certain_end) {
    p[g] = unit;
  } else if (tiny >= 0) {
    p[g] = exponent == 4 ? unit - mantissa : unit;
  } else if (kind < 980) {
    uint32_t top = unit / 10 * 9 + r.below(unit / 10);
    uint32_t rest = unit - top;
    uint32_t other = g == 1 ? (r.below(2) ? 0 : 2) : 1;
    if (r.below(10) < 3) {
      uint32_t third = 3 - g - other;
      uint32_t share = r.below(rest + 1) / 2;
      p[third] = share;
      rest -= share;
    }
    p[g] = top;
    p[other] += rest;
  } else {
    uint32_t top = unit / 10 * 4 + r.below(unit / 2);
    uint32_t second = r.below(unit - top + 1);
    uint32_t other = g == 1 ? 0 : 1;
    p[g] = top;
    p[other] = second;
    p[3 - g - other] = unit - top - second;
  }
  for (int k = 0; k < 3; ++k) {
    if (k > 0) out += ' ';
    if (k == tiny) {
      out += static_cast<char>('0' + mantissa);
      out += exponent == 4 ? "e-04" : "e-05";
    } else {
      put_prob(out, p[k], digits);
    }
  }
}

FILE* create(const std::string& dir, const char* name) {
  std::string path = dir + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stdout, "cannot create %s\n", path.c_str());
    std::exit(1);
  }
  return f;
}

void flush_to(FILE* f, std::string& buf, bool force) {
  if (force || buf.size() > (1 << 20)) {
    if (std::fwrite(buf.data(), 1, buf.size(), f) != buf.size()) {
      std::fprintf(stdout, "write failed\n");
      std::exit(1);
    }
    buf.clear();
  }
}

void finish(FILE* f, std::string& buf) {
  flush_to(f, buf, true);
  if (std::fclose(f) != 0) {
    std::fprintf(stdout, "write failed\n");
    std::exit(1);
  }
}

void append_int(std::string& out, long v) { out += std::to_string(v); }

// GEN lines for SNPs [snp0, snp0 + snps) and samples [sample0, sample0 + n).
void write_gen(const std::string& dir, const char* name, long snp0, long snps, long sample0,
               long n, uint64_t salt, bool mixed) {
  FILE* f = create(dir, name);
  std::string buf;
  for (long j = snp0; j < snp0 + snps; ++j) {
    snp s = snp_at(j);
    uint32_t fr = freq_at(j);
    buf += "snp";
    append_int(buf, j + 1);
    buf += " rs";
    append_int(buf, 100000 + j);
    buf += ' ';
    append_int(buf, s.position);
    buf += ' ';
    buf += s.a;
    buf += ' ';
    buf += s.b;
    rng r(salt ^ (static_cast<uint64_t>(j) * 0x100000001b3ULL));
    // Each triple has its own seed from the SNP and the sample, so the
    // samples both GEN files share carry the same triples in each.
    for (long i = sample0; i < sample0 + n; ++i) {
      rng ri(r.s ^ (static_cast<uint64_t>(i) * 0x9e3779b97f4a7c15ULL));
      buf += ' ';
      put_triple(buf, ri, fr, mixed);
    }
    buf += '\n';
    flush_to(f, buf, false);
  }
  finish(f, buf);
}

void write_sample(const std::string& dir, const char* name, long sample0, long n) {
  FILE* f = create(dir, name);
  std::string buf = "ID_1 ID_2 missing sex pheno1\n0 0 0 D P\n";
  for (long i = sample0; i < sample0 + n; ++i) {
    rng r(0xabcd0000ULL + static_cast<uint64_t>(i));
    buf += "F";
    append_int(buf, i + 1);
    buf += " S";
    append_int(buf, i + 1);
    buf += " 0 ";
    buf += r.below(2) ? '2' : '1';
    buf += ' ';
    buf += r.below(3) ? '1' : '2';
    buf += '\n';
  }
  finish(f, buf);
}

void write_ped_map(const std::string& dir, long samples, long snps) {
  FILE* m = create(dir, "a.map");
  std::string buf;
  for (long j = 0; j < snps; ++j) {
    buf += "1\trs";
    append_int(buf, 100000 + j);
    buf += "\t0\t";
    append_int(buf, snp_at(j).position);
    buf += '\n';
  }
  finish(m, buf);

  std::string alleles(2 * static_cast<size_t>(snps), '0');
  for (long j = 0; j < snps; ++j) {
    snp s = snp_at(j);
    alleles[2 * j] = s.a;
    alleles[2 * j + 1] = s.b;
  }
  FILE* p = create(dir, "a.ped");
  for (long i = 0; i < samples; ++i) {
    rng meta(0xabcd0000ULL + static_cast<uint64_t>(i));
    buf += "F";
    append_int(buf, i + 1);
    buf += "\tS";
    append_int(buf, i + 1);
    buf += "\t0\t0\t";
    buf += meta.below(2) ? '2' : '1';
    buf += '\t';
    buf += meta.below(3) ? '1' : '2';
    rng r(0x9ed00000ULL + static_cast<uint64_t>(i) * 1000003);
    for (long j = 0; j < snps; ++j) {
      buf += '\t';
      if (r.below(100) == 0) {
        buf += "0 0";
        continue;
      }
      uint32_t fr = freq_at(j);
      char a = alleles[2 * j], b = alleles[2 * j + 1];
      char x = r.below(1000) < fr ? b : a;
      char y = r.below(1000) < fr ? b : a;
      buf += x;
      buf += ' ';
      buf += y;
    }
    buf += '\n';
    flush_to(p, buf, false);
  }
  finish(p, buf);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mix = argc == 5 ? argv[4] : "simple";
  if ((argc != 4 && argc != 5) || (mix != "simple" && mix != "mixed")) {
    std::fprintf(stdout, "usage: gen_data SAMPLES SNPS DIR [simple|mixed]\n");
    return 1;
  }
  const bool mixed = mix == "mixed";
  long n = std::atol(argv[1]), m = std::atol(argv[2]);
  std::string dir = argv[3];
  if (n < 2 || m < 2) {
    std::fprintf(stdout, "need at least 2 samples and 2 SNPs\n");
    return 1;
  }
  const uint64_t salt = 0x6e6e0000ULL;
  write_gen(dir, "a.gen", 0, m, 0, n, salt, mixed);
  write_sample(dir, "a.sample", 0, n);
  write_gen(dir, "b.gen", m / 2, m, n / 2, n, salt, mixed);
  write_sample(dir, "b.sample", n / 2, n);
  write_ped_map(dir, n, m);

  FILE* k = create(dir, "keep.txt");
  std::string buf;
  for (long i = 0; i < n; i += 2) {
    buf += "F";
    append_int(buf, i + 1);
    buf += " S";
    append_int(buf, i + 1);
    buf += '\n';
  }
  finish(k, buf);

  FILE* s = create(dir, "a.strand");
  for (long j = 0; j < m; ++j) {
    if (j % 20 == 19) continue;
    rng r(0x57a40000ULL + static_cast<uint64_t>(j));
    append_int(buf, snp_at(j).position);
    buf += r.below(4) == 0 ? " -\n" : " +\n";
  }
  finish(s, buf);
  return 0;
}
