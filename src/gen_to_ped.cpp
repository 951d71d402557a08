// -G: converts a GEN/SAMPLE pair to PED/MAP, calling every genotype from its
// three probabilities with a threshold.
//
// The GEN file is read twice: a counting pass (SNPs and samples), then a
// data pass that writes each call into a sample-major store of two bytes a
// call, from which the MAP file and then the PED file are written.
#include "gen_to_ped.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "file_names.h"
#include "gen_line.h"
#include "genotype_records.h"
#include "run_log.h"
#include "store_memory.h"
#include "text.h"

int snp_id_check(std::string id) {
  if (id.size() == 1) {
    char c = id[0];
    return (c >= '1' && c <= '9') || c == 'X' || c == 'Y' || c == 'M';
  }
  if (id.size() == 2) {
    if (id[0] == '1') return id[1] >= '0' && id[1] <= '9';
    if (id[0] == '2') return id[1] >= '0' && id[1] <= '4';
  }
  return 0;
}

namespace {

constexpr int64_t kMaxReserve = 1 << 22;

// Character of an allele text in a PED file; 0 when it has none (a text of
// several characters cannot stand in a one-character allele field).
char allele_letter(std::string_view text) { return text.size() == 1 ? text[0] : 0; }


// For each set of probabilities at the threshold (bit k for the k-th of a
// triple), the first of them, or 3 when there is none.
constexpr unsigned char kFirstReached[8] = {3, 0, 1, 0, 2, 0, 1, 0};

// A count line; flushed, and with it any buffered lines before it.
void log_count(run_log& log, const char* label, long long v) {
  std::string msg = label;
  append_int(msg, v);
  msg += '\n';
  log.both(msg, true);
}

// SNPs are the non-blank lines; the samples come from the first one's
// fields. The file stays open for the data pass.
bool count_gen(run_log& log, line_reader& gen, const std::string& name, uint64_t& snps,
               int64_t& samples) {
  if (!open_input(log, gen, name, is_gzip_name(name))) return false;
  std::string_view line;
  while (gen.next(line)) {
    if (is_blank(line)) continue;
    if (snps == 0) {
      const uint64_t fields = count_fields(line);
      // Fewer than five fields leave no SNP to read and no sample count.
      if (fields < 5) {
        log.both(gen.bad_line("fewer than 5 fields"));
        return false;
      }
      samples = static_cast<int64_t>((fields - 5) / 3);
    }
    ++snps;
  }
  if (gen.failed()) {
    log.both(gen.error());
    return false;
  }
  return true;
}

// Finds the phenotype and sex columns in the column name line: sex in the
// named column, else the first "sex" or "gender" one. A column named on the
// command line must be there ("-9" names none); a "sex" or "gender" column
// stands in for the --sex one.
bool find_columns(run_log& log, const line_reader& in, std::string_view names,
                  const std::string& phenotype_column, const std::string& sex_column,
                  int32_t& pheno_col, int32_t& sex_col) {
  bool sex_named = false;  // a column has --sex's name, even when it is the phenotype's
  field_cursor c(names);
  std::string_view word;
  for (int32_t i = 0; c.next(word); ++i) {
    sex_named |= word == sex_column;
    if (word == phenotype_column)
      pheno_col = i;
    else if (word == sex_column)
      sex_col = i;
    else if (sex_col == -9 && (word == "sex" || word == "gender"))
      sex_col = i;
  }
  for (const auto& [column, found] : {std::pair{&phenotype_column, pheno_col != -9},
                                      std::pair{&sex_column, sex_col != -9 || sex_named}}) {
    if (!in.failed() && *column != "-9" && !found) {
      log.both("No column " + *column + " in SAMPLE file " + in.name() + "\n");
      return false;
    }
  }
  return true;
}

// One row per line after the two header lines: the first field is the id;
// sex comes from the named column, else the first "sex" or "gender" one.
// Every GEN sample needs its row: its id goes into the PED file and the
// messages.
bool read_samples(run_log& log, const std::string& name, const std::string& phenotype_column,
                  const std::string& sex_column, int64_t gen_samples,
                  std::vector<sample>& samples) {
  // Counts come from the file: room grows with the rows actually read beyond this.
  samples.reserve(static_cast<size_t>(std::min<int64_t>(gen_samples, kMaxReserve)));
  line_reader in;
  if (!open_input(log, in, name, is_gzip_name(name))) return false;
  int32_t pheno_col = -9, sex_col = -9;
  std::string_view line, word;
  const bool header = in.next(line);
  if (!find_columns(log, in, header ? line : std::string_view(), phenotype_column, sex_column,
                    pheno_col, sex_col))
    return false;
  if (header) {
    in.next(line);  // column types: not needed here
    std::string num;
    while (in.next(line)) {
      sample s;
      field_cursor c(line);
      for (int32_t j = 0; c.next(word); ++j) {
        if (j == 0) {
          s.ID_2.assign(word);
        } else if (j == sex_col) {
          num.assign(word);
          s.gender = static_cast<int32_t>(std::strtol(num.c_str(), nullptr, 10));
        } else if (j == pheno_col) {
          s.phenotype.assign(word);
        }
      }
      samples.push_back(std::move(s));
    }
  }
  if (in.failed()) {
    log.both(in.error());
    return false;
  }
  if (static_cast<int64_t>(samples.size()) < gen_samples) {
    std::string msg = "SAMPLE file " + name + " has ";
    append_int(msg, static_cast<long long>(samples.size()));
    msg += " samples, GEN file has ";
    append_int(msg, gen_samples);
    msg += '\n';
    log.both(msg);
    return false;
  }
  return true;
}

// Sample-major, two bytes per call: a sample's row is its PED genotypes.
bool allocate_store(run_log& log, store_memory& store, uint64_t snps, uint64_t samples) {
  const uint128 bytes = static_cast<uint128>(2 * snps) * samples;
  const std::string count = uint128_text(bytes);
  log.both("Assign memory for genotypes..." + count + "\n", true);
  // One byte more keeps the pointer arithmetic of the data pass valid for an
  // empty store.
  if (!(bytes < static_cast<uint128>(SIZE_MAX) &&
        store.allocate(static_cast<size_t>(bytes) + 1))) {
    log.both(not_enough_memory_for_genotypes(count));
    return false;
  }
  return true;
}

// What the data pass reads and fills.
struct gen_pass {
  const std::vector<sample>& samples;
  uint64_t n;                 // GEN samples: 3n probabilities a line
  uint64_t snps;              // non-blank lines of the counting pass
  char* store;
  threshold_test test;
  std::vector<map_snp> map;   // filled, one per line
  uint64_t chromosomes = 0;   // SNP ids that are chromosome codes
  uint64_t missing_calls = 0;
  std::string msg;            // reused for the missing-call lines
};

// Calls SNP j for every sample from the probabilities in fields, into its
// column of the store. False at a fault in the fields.
bool call_snp(run_log& log, gen_pass& p, uint64_t j, std::string_view fields,
              bool representable) {
  const map_snp& snp = p.map[j];
  const threshold_test& test = p.test;
  const uint64_t n = p.n, row_bytes = 2 * p.snps;
  char* call = p.store + 2 * j;
  // The two letters of each call: AA, AB, BB, then a missing call. Alleles
  // a PED file cannot hold make every call of the SNP "N N", none missing.
  const char x = representable ? snp.allele1 : 'N', y = representable ? snp.allele2 : 'N';
  const char calls[4][2] = {{x, x}, {x, y}, {y, y}, {'N', 'N'}};
  probability_reader r(fields);
  uint64_t missing = 0;
  for (uint64_t i = 0; i < n; ++i, call += row_bytes) {
    unsigned reached = 0;  // bit k: the k-th probability is at the threshold
    unsigned a, b, c;
    if (r.next_digit_triple(a, b, c)) {
      reached = static_cast<unsigned>(test.reached_digit(a)) |
                static_cast<unsigned>(test.reached_digit(b)) << 1 |
                static_cast<unsigned>(test.reached_digit(c)) << 2;
    } else {
      // Unrolled, each read with its own copy of the reader's code: as a loop
      // the paths of the reads merge, the reader's position is reloaded from
      // memory for every field, and this pass takes some 15 % longer.
#pragma GCC unroll 3
      for (unsigned k = 0; k < 3; ++k) {
        probability v;
        if (!r.next(v)) return false;
        reached |= static_cast<unsigned>(test.reached(v)) << k;
      }
    }
    // The first probability that reaches the threshold gives the call;
    // looked up, since calls come in no order a branch could learn.
    const unsigned which = kFirstReached[reached];
    std::memcpy(call, calls[which], 2);
    if (which == 3 && representable) {
      ++missing;
      std::string& msg = p.msg;
      msg = "Missing data at locus: ";
      msg += snp.rs_id;
      msg += ' ';
      append_int(msg, snp.position);
      msg += ' ';
      msg += p.samples[i].ID_2;
      msg += '\n';
      // One line per missing call can mean millions: buffered, and
      // flushed with the count line that follows them.
      log.both(msg);
    }
  }
  p.missing_calls += missing;
  return r.done();
}

// One SNP per non-blank line, 5 + 3n fields each.
bool read_gen(run_log& log, line_reader& gen, gen_pass& p) {
  p.map.reserve(static_cast<size_t>(std::min<uint64_t>(p.snps, kMaxReserve)));
  if (!gen.rewind()) {
    log.both(gen.error());
    return false;
  }
  uint64_t j = 0;
  std::string_view line;
  gen_head h;
  while (gen.next(line)) {
    if (is_blank(line)) continue;
    if (j == p.snps) {
      log.both(gen.file_changed());
      return false;
    }
    if (read_gen_head(line, h)) {
      log.both(gen.bad_line(strict_line_fault(line, p.n)));
      return false;
    }
    const char a = allele_letter(h.allele_a), b = allele_letter(h.allele_b);
    const bool representable = a && b;
    p.map.push_back(map_snp{std::string(h.snp_id), std::string(h.rs_id), h.position,
                            a ? a : 'N', b ? b : 'N'});
    const map_snp& snp = p.map.back();
    p.chromosomes += snp_id_check(snp.snp_id);
    if (!call_snp(log, p, j, h.rest, representable)) {
      log.both(gen.bad_line(strict_line_fault(line, p.n)));
      return false;
    }
    if (!representable) {
      p.msg = "Allele not representable in PED: " + snp.rs_id + " ";
      append_int(p.msg, snp.position);
      p.msg += '\n';
      log.both(p.msg);
    }
    ++j;
  }
  if (gen.failed()) {
    log.both(gen.error());
    return false;
  }
  gen.close();
  if (j != p.snps) {
    log.both(gen.file_changed());
    return false;
  }
  return true;
}

// Chromosome and SNP id when every SNP id is a chromosome code; else 0 and
// the rs id when it holds "rs", or the SNP id.
bool write_map(run_log& log, const std::string& name, bool gz, const std::vector<map_snp>& snps,
               bool chromosome_layout, bool alleles) {
  text_writer out;
  if (!open_output(log, out, name, gz)) return false;
  std::string& b = out.buffer();
  for (const map_snp& s : snps) {
    if (chromosome_layout) {
      b += s.snp_id;
      b += '\t';
      b += s.rs_id;
    } else {
      b += "0\t";
      b += s.rs_id.find("rs") != std::string::npos ? s.rs_id : s.snp_id;
    }
    b += "\t0\t";
    append_int(b, s.position);
    if (alleles) {
      b += '\t';
      b += s.allele1;
      b += '\t';
      b += s.allele2;
    }
    b += '\n';
    out.maybe_flush();
  }
  return close_output(log, out);
}

// One row per GEN sample, its calls straight from the store.
bool write_ped(run_log& log, const std::string& name, bool gz, const std::vector<sample>& samples,
               uint64_t n, const char* store, uint64_t snps) {
  text_writer out;
  if (!open_output(log, out, name, gz)) return false;
  std::string& b = out.buffer();
  const uint64_t row_bytes = 2 * snps;
  const char* row = store;
  for (uint64_t i = 0; i < n; ++i, row += row_bytes) {
    const sample& s = samples[i];
    append_int(b, static_cast<long long>(i));
    b += '\t';
    b += s.ID_2;
    b += "\t0\t0\t";
    append_int(b, s.gender);
    b += '\t';
    b += s.phenotype;
    size_t at = b.size();
    b.resize(at + 4 * snps);
    char* o = &b[at];
    for (uint64_t k = 0; k < snps; ++k, o += 4) {
      o[0] = '\t';
      o[1] = row[2 * k];
      o[2] = ' ';
      o[3] = row[2 * k + 1];
    }
    b += '\n';
    out.maybe_flush();
  }
  return close_output(log, out);
}

int convert_to_ped(run_log& log, const std::string& gen_file, const std::string& sample_file,
                   const std::string& ped_file, const std::string& map_file,
                   const std::string& phenotype_column, const std::string& sex_column,
                   double threshold, bool alleles) {
  const std::vector<std::string> inputs = gen_to_ped_inputs(gen_file, sample_file);
  if (!check_inputs(log, inputs)) return 1;
  if (!check_outputs(log, gen_to_ped_outputs(ped_file, map_file), inputs)) return 1;

  log.both("Count SNPs and samples...\n");
  line_reader gen;
  uint64_t snps = 0;
  int64_t gen_samples = 0;
  if (!count_gen(log, gen, gen_file, snps, gen_samples)) return 1;
  log_count(log, "Number of samples: ", gen_samples);
  log_count(log, "Number of SNPs: ", static_cast<long long>(snps));

  log.both("Sample...\n");
  std::vector<sample> samples;
  if (!read_samples(log, sample_file, phenotype_column, sex_column, gen_samples, samples))
    return 1;
  const uint64_t n = static_cast<uint64_t>(gen_samples);

  store_memory store;
  if (!allocate_store(log, store, snps, n)) return 1;

  log.both("Gen...\n");
  gen_pass pass{samples, n, snps, store.get(), threshold_test(threshold), {}, 0, 0, {}};
  if (!read_gen(log, gen, pass)) return 1;
  log_count(log, "Number of missing loci: ", static_cast<long long>(pass.missing_calls));

  const bool gz = is_gzip_name(gen_file);
  if (!write_map(log, map_file, gz, pass.map, pass.chromosomes == snps, alleles)) return 1;
  log.both("Output...\n");
  return write_ped(log, ped_file, gz, samples, n, store.get(), snps) ? 0 : 1;
}

}  // namespace

int gen_to_ped(std::string gen_file, std::string sample_file, std::string ped_file,
               std::string map_file, std::string phenotype_column, std::string sex_column,
               double threshold, bool alleles) {
  run_log log;
  if (!log.open_append()) return 1;
  int status = convert_to_ped(log, gen_file, sample_file, ped_file, map_file, phenotype_column,
                              sex_column, threshold, alleles);
  log.close();
  return status;
}
