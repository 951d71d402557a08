// -P: converts a PED/MAP pair to GEN/SAMPLE, or to one pair per phenotype.
//
// The MAP file is read first, then the PED file twice: a counting pass, then
// a data pass that codes every genotype into a SNP-major matrix of three
// bytes a cell, from which the SAMPLE and GEN files are written.
#include "ped_to_gen.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "file_names.h"
#include "genotype_records.h"
#include "number_format.h"
#include "run_log.h"
#include "store_memory.h"
#include "text.h"

namespace {

// Cell codes of the genotype matrix, three bytes each.
constexpr char kHomFirst[3] = {'1', '0', '0'};  // both alleles are the SNP's allele1
constexpr char kHet[3] = {'0', '1', '0'};
constexpr char kHomOther[3] = {'0', '0', '1'};  // both alleles equal, not allele1
constexpr char kMissing[3] = {'?', '?', '?'};

using group_map = std::map<std::string, std::vector<int64_t>, std::less<>>;

// Each non-blank line: chromosome, SNP name, distance, position, then
// optionally two allele characters ("A G" or "AG"); only the first two
// non-blank characters after the position count.
bool read_map(run_log& log, const std::string& name, std::vector<map_snp>& snps) {
  line_reader in;
  if (!open_input(log, in, name, is_gzip_name(name))) return false;
  std::string_view line;
  while (in.next(line)) {
    if (is_blank(line)) continue;
    field_cursor c(line);
    std::string_view chrom, snp, dist, pos;
    if (!c.next(chrom) || !c.next(snp) || !c.next(dist) || !c.next(pos)) {
      log.both(in.bad_line("expected chromosome, SNP name, distance and position"));
      return false;
    }
    double d;
    if (!parse_double(dist, d)) {
      log.both(in.bad_line("distance is not a number"));
      return false;
    }
    int32_t p;
    if (!parse_int32(pos, p)) {
      log.both(in.bad_line("position is not an integer"));
      return false;
    }
    char alleles[2] = {'-', '-'};
    int got = 0;
    for (char ch : c.rest) {
      if (is_space(ch)) continue;
      alleles[got++] = ch;
      if (got == 2) break;
    }
    snps.push_back(map_snp{std::string(chrom), std::string(snp), p, alleles[0], alleles[1]});
  }
  if (in.failed()) {
    log.both(in.error());
    return false;
  }
  return true;
}

// Non-blank lines only: a blank line is not a sample. The file stays open
// for the data pass.
bool count_samples(run_log& log, line_reader& in, const std::string& name, bool gz,
                   int64_t& count) {
  if (!open_input(log, in, name, gz)) return false;
  std::string_view line;
  while (in.next(line))
    if (!is_blank(line)) ++count;
  if (in.failed()) {
    log.both(in.error());
    return false;
  }
  return true;
}

struct ped_pass {
  std::vector<map_snp>& snps;
  std::vector<sample>& samples;
  char* matrix;
  bool family;
  bool discrete;
  group_map& groups;
};

// Codes one PED line's allele characters into sample k's cells; white space
// between them is optional, so "A C" and "AC" are the same pair. Returns how
// many characters the line has (all of them counted, for the message), and
// adds the sample's missing pairs to missing.
uint64_t code_alleles(std::string_view alleles, ped_pass& p, size_t k, int64_t& missing) {
  const size_t nsnps = p.snps.size();
  const size_t n = p.samples.size();
  const char* s = alleles.data();
  const char* end = s + alleles.size();
  size_t j = 0;
  uint64_t codes = 0;
  char c1 = 0;
  for (; s != end; ++s) {
    if (is_space(*s)) continue;
    ++codes;
    if (codes & 1) {
      c1 = *s;
      continue;
    }
    if (j == nsnps) continue;  // too many; counted for the message
    char c2 = *s;
    map_snp& snp = p.snps[j];
    char* cell = p.matrix + (j * n + k) * 3;
    ++j;
    // Only the first character decides missingness: "A 0" is a genotype.
    if (c1 == '0' || c1 == 'N') {
      std::memcpy(cell, kMissing, 3);
      ++missing;
      continue;
    }
    if (snp.allele1 == '-') snp.allele1 = c1;
    if (c1 == c2) {
      if (c1 == snp.allele1) {
        std::memcpy(cell, kHomFirst, 3);
      } else {
        std::memcpy(cell, kHomOther, 3);
        snp.allele2 = c1;
      }
    } else {
      std::memcpy(cell, kHet, 3);
      if (snp.allele2 == '-') snp.allele2 = c1 != snp.allele1 ? c1 : c2;
    }
  }
  return codes;
}

// Sample k from its line's leading fields f (sex_text: scratch), and its group.
void store_sample(ped_pass& p, size_t k, const std::string_view* f, int64_t missing,
                  std::string& sex_text) {
  sample& out = p.samples[k];
  if (p.family) {
    out.ID_1.assign(f[0]);
    out.ID_1 += '_';
    out.ID_1 += f[1];
  } else {
    out.ID_1.assign(f[1]);
  }
  out.ID_2 = out.ID_1;
  // The sex code is taken as strtol reads it: "F" gives 0, "2x" gives 2.
  sex_text.assign(f[4]);
  out.gender = static_cast<int32_t>(std::strtol(sex_text.c_str(), nullptr, 10));
  out.phenotype.assign(f[5]);
  out.missing = static_cast<double>(missing);
  if (p.discrete) {
    auto g = p.groups.find(f[5]);
    if (g == p.groups.end())
      g = p.groups.emplace(std::string(f[5]), std::vector<int64_t>()).first;
    g->second.push_back(static_cast<int64_t>(k));
  }
}

// Fills the sample table, the matrix and the groups from the PED lines.
bool read_ped(run_log& log, line_reader& in, ped_pass& p) {
  if (!in.rewind()) {
    log.both(in.error());
    return false;
  }
  const size_t nsnps = p.snps.size();
  const size_t n = p.samples.size();
  std::string sex_text;
  size_t k = 0;
  bool extra = false;
  std::string_view line;
  while (in.next(line)) {
    if (is_blank(line)) continue;
    if (k == n) {  // more lines than the first pass saw
      extra = true;
      break;
    }
    field_cursor c(line);
    std::string_view f[6];
    int fields = 0;
    while (fields < 6 && c.next(f[fields])) ++fields;
    if (fields < 6) {
      log.both(in.bad_line("fewer than 6 leading fields"));
      return false;
    }

    int64_t missing = 0;
    const uint64_t codes = code_alleles(c.rest, p, k, missing);
    if (codes != 2 * static_cast<uint64_t>(nsnps)) {
      std::string reason;
      append_int(reason, static_cast<long long>(codes));
      reason += " allele codes for ";
      append_int(reason, static_cast<long long>(nsnps));
      reason += nsnps == 1 ? " SNP" : " SNPs";
      log.both(in.bad_line(reason));
      return false;
    }

    store_sample(p, k, f, missing, sex_text);
    ++k;
  }
  if (in.failed()) {
    log.both(in.error());
    return false;
  }
  // A file that grows or shrinks between the passes would leave samples
  // without genotypes, or genotypes without room.
  if (extra || k != n) {
    log.both(in.file_changed());
    return false;
  }
  return true;
}

// The phenotype text goes into the name verbatim, but a '/' would put the
// file into another directory, and a zero byte would end its name there.
std::string group_file_name(const std::string& base, const std::string& phenotype) {
  std::string t = phenotype;
  for (char& ch : t)
    if (ch == '/' || ch == '\0') ch = '_';
  size_t at = base.find(".gz");
  if (at == std::string::npos) return base + "_" + t;
  std::string name = base;
  name.insert(at, "_" + t);
  return name;
}

// members == nullptr: every sample in index order.
bool write_sample_file(run_log& log, const std::string& name, bool gz, bool calvora1,
                       const std::vector<sample>& samples, const std::vector<int64_t>* members,
                       size_t nsnps) {
  text_writer w;
  if (!open_output(log, w, name, gz)) return false;
  w.write("ID_1 ID_2 Missing Gender Phenotype\n");
  w.write(calvora1 ? "0 0 0 1 P\n" : "0 0 0 D P\n");
  size_t rows = members ? members->size() : samples.size();
  std::string& buf = w.buffer();
  for (size_t r = 0; r < rows; ++r) {
    const sample& s = samples[members ? static_cast<size_t>((*members)[r]) : r];
    buf += s.ID_1;
    buf += ' ';
    buf += s.ID_2;
    buf += ' ';
    // With no SNPs nothing is missing.
    append_double(buf, nsnps == 0 ? 0.0 : s.missing / static_cast<double>(nsnps));
    buf += ' ';
    append_int(buf, s.gender);
    buf += ' ';
    buf += s.phenotype;
    buf += '\n';
    w.maybe_flush();
  }
  return close_output(log, w);
}

char recode(char a) {
  switch (a) {
    case '1': return 'A';
    case '2': return 'C';
    case '3': return 'G';
    case '4': return 'T';
    case '0': return 'N';
    default: return a;  // '-', and letters mixed in with digits, stay as read
  }
}

bool is_numeric_allele(char a) { return a >= '1' && a <= '4'; }

// One GEN line: the SNP, alleles a and b, then the cells of the given samples
// (nullptr: all n), reversed when swap is set.
void append_gen_line(std::string& buf, const map_snp& snp, char a, char b, bool numeric,
                     bool swap, const char* row, size_t n, const std::vector<int64_t>* members) {
  buf += snp.snp_id;
  buf += ' ';
  buf += snp.rs_id;
  buf += ' ';
  append_int(buf, snp.position);
  buf += ' ';
  buf += numeric ? recode(a) : a;
  buf += ' ';
  buf += numeric ? recode(b) : b;
  size_t cols = members ? members->size() : n;
  size_t at = buf.size();
  buf.resize(at + cols * 6);
  char* o = &buf[at];
  for (size_t i = 0; i < cols; ++i, o += 6) {
    const char* cell = row + (members ? static_cast<size_t>((*members)[i]) : i) * 3;
    o[0] = o[2] = o[4] = ' ';
    if (cell[0] == '?') {
      o[1] = o[3] = o[5] = '0';
    } else if (swap) {
      o[1] = cell[2];
      o[3] = cell[1];
      o[5] = cell[0];
    } else {
      o[1] = cell[0];
      o[3] = cell[1];
      o[5] = cell[2];
    }
  }
  buf += '\n';
}

// A SNP seen with one allele only gets it twice; one never seen keeps "- -".
void settle_alleles(std::vector<map_snp>& snps) {
  for (map_snp& snp : snps)
    if (snp.allele2 == '-') snp.allele2 = snp.allele1;
}

// One GEN file: every sample (members null) or one phenotype group, alleles in
// order and cells reversed when that swaps them. Digits are recoded by allele
// A in the single file, by the allele as read in group files.
bool write_gen_file(run_log& log, const std::string& name, bool gz,
                    const std::vector<map_snp>& snps, const char* matrix, size_t n,
                    const std::vector<int64_t>* members) {
  text_writer w;
  if (!open_output(log, w, name, gz)) return false;
  for (size_t j = 0; j < snps.size(); ++j) {
    const map_snp& snp = snps[j];
    const bool swap = static_cast<signed char>(snp.allele1) > static_cast<signed char>(snp.allele2);
    const char a = swap ? snp.allele2 : snp.allele1;
    const char b = swap ? snp.allele1 : snp.allele2;
    append_gen_line(w.buffer(), snp, a, b, is_numeric_allele(members ? snp.allele1 : a), swap,
                    matrix + j * n * 3, n, members);
    w.maybe_flush();
  }
  return close_output(log, w);
}

// The genotype matrix, SNP-major, three bytes a cell; null when it holds no cell.
bool allocate_matrix(run_log& log, int64_t nsamples, size_t nsnps, store_memory& matrix) {
  uint128 bytes = static_cast<uint128>(nsamples) * 3u * nsnps;
  log.both("memory...");
  log.both(uint128_text(bytes) + "\n", true);
  if (bytes == 0) return true;
  if (bytes <= SIZE_MAX && matrix.allocate(static_cast<size_t>(bytes))) return true;
  log.both(not_enough_memory_for_genotypes(uint128_text(bytes)));
  return false;
}

// One SAMPLE/GEN pair per phenotype value, all SAMPLE files first. All names
// are known, and checked, before any file is truncated.
bool write_groups(run_log& log, const std::vector<std::string>& inputs,
                  const std::string& out_gen, const std::string& out_sample, bool gz,
                  bool calvora1, const ped_pass& p) {
  std::vector<std::string> sample_names, gen_names;
  for (const auto& g : p.groups) {
    sample_names.push_back(group_file_name(out_sample, g.first));
    gen_names.push_back(group_file_name(out_gen, g.first));
  }
  std::vector<std::string> all = sample_names;
  all.insert(all.end(), gen_names.begin(), gen_names.end());
  // Two texts that differ only in '/', zero bytes and '_' would write over each other.
  std::set<std::string_view> seen;
  for (const std::string& name : sample_names) {
    if (!seen.insert(name).second) {
      log.both("Phenotype groups share a file name: " + name + "\n");
      return false;
    }
  }
  if (!check_outputs(log, all, inputs)) return false;

  size_t i = 0;
  for (const auto& g : p.groups)
    if (!write_sample_file(log, sample_names[i++], gz, calvora1, p.samples, &g.second,
                           p.snps.size()))
      return false;
  log.both("Output...\n");
  std::string msg = "Number of discrete phenotypes: ";
  append_int(msg, static_cast<long long>(p.groups.size()));
  log.both(msg + "\n", true);
  i = 0;
  for (const auto& g : p.groups)
    if (!write_gen_file(log, gen_names[i++], gz, p.snps, p.matrix, p.samples.size(), &g.second))
      return false;
  return true;
}

int convert_to_gen(run_log& log, const std::string& ped_file, const std::string& map_file,
                   const std::string& out_gen, const std::string& out_sample,
                   bool discrete_phenotype, bool family, bool calvora1) {
  const bool ped_gz = is_gzip_name(ped_file);
  const std::vector<std::string> inputs = ped_to_gen_inputs(ped_file, map_file);
  if (!check_inputs(log, inputs)) return 1;
  if (!discrete_phenotype && !check_outputs(log, ped_to_gen_outputs(out_gen, out_sample), inputs))
    return 1;

  log.both("MAP...\n");
  std::vector<map_snp> snps;
  if (!read_map(log, map_file, snps)) return 1;
  log.both("Number of SNPs: " + int_text(static_cast<long long>(snps.size())) + "\n", true);

  log.both("Count Samples...\n");
  int64_t nsamples = 0;
  line_reader ped;
  if (!count_samples(log, ped, ped_file, ped_gz, nsamples)) return 1;
  log.both("Number of samples: " + int_text(nsamples) + "\n", true);

  store_memory matrix;
  if (!allocate_matrix(log, nsamples, snps.size(), matrix)) return 1;

  log.both("PED...\n");
  std::vector<sample> samples(static_cast<size_t>(nsamples));
  group_map groups;
  ped_pass pass{snps, samples, matrix.get(), family, discrete_phenotype, groups};
  if (!read_ped(log, ped, pass)) return 1;
  settle_alleles(snps);

  if (discrete_phenotype)
    return write_groups(log, inputs, out_gen, out_sample, ped_gz, calvora1, pass) ? 0 : 1;
  if (!write_sample_file(log, out_sample, ped_gz, calvora1, samples, nullptr, snps.size()))
    return 1;
  log.both("Output...\n");
  return write_gen_file(log, out_gen, ped_gz, snps, matrix.get(), samples.size(), nullptr) ? 0 : 1;
}

}  // namespace

int ped_to_gen(std::string ped_file, std::string map_file, std::string out_gen,
               std::string out_sample, bool discrete_phenotype, bool family, bool calvora1) {
  run_log log;
  if (!log.open_append()) return 1;
  int status = convert_to_gen(log, ped_file, map_file, out_gen, out_sample, discrete_phenotype,
                              family, calvora1);
  log.close();
  return status;
}
