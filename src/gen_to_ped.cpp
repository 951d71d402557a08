#include "gen_to_ped.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <sys/mman.h>

#include "gen_line.h"
#include "genotype_records.h"
#include "streams.h"
#include "text.h"

// 1 when the text is a chromosome code: "1" to "24", "X", "Y" or "M", in full.
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

// The genotype store: zeroed pages from the system, asked for as large
// pages, since each GEN line writes one call into every sample's row and
// small pages would make each of those writes a page-table walk.
class store_memory {
 public:
  ~store_memory() {
    if (data_) munmap(data_, size_);
  }
  bool allocate(size_t size) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    madvise(p, size, MADV_HUGEPAGE);  // a hint: without it the store still works
    data_ = static_cast<char*>(p);
    size_ = size;
    return true;
  }
  char* get() const { return data_; }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
};

void append_wide(std::string& out, unsigned __int128 v) {
  char tmp[48];
  char* p = tmp + sizeof tmp;
  do {
    *--p = static_cast<char>('0' + static_cast<int>(v % 10));
    v /= 10;
  } while (v);
  out.append(p, tmp + sizeof tmp);
}

// The calling test "probability >= threshold" for short plain decimals
// without a division per field: m / 10^d rounds upwards as m grows, so for
// each number of decimals d it holds exactly from some least m on, found once.
class threshold_test_g {
 public:
  explicit threshold_test_g(double t) : t_(t) {
    for (unsigned d = 0; d < 16; ++d) {
      // Least m below 10^15 with m / 10^d >= t; kNever when there is none.
      uint64_t lo = 0, hi = kLimit;
      while (lo < hi) {
        uint64_t mid = lo + (hi - lo) / 2;
        if (short_decimal_value(mid, d, false) >= t)
          hi = mid;
        else
          lo = mid + 1;
      }
      least_[d] = lo == kLimit ? kNever : lo;
    }
  }
  bool reached(uint64_t m, unsigned d, bool negative) const {
    if (negative) return short_decimal_value(m, d, true) >= t_;
    return m >= least_[d];
  }
  bool reached(double v) const { return v >= t_; }

 private:
  static constexpr uint64_t kLimit = 1000000000000000ULL;  // 15 digits
  static constexpr uint64_t kNever = UINT64_MAX;
  double t_;
  uint64_t least_[16];
};

// For each set of probabilities at the threshold (bit k for the k-th of a
// triple), the first of them, or 3 when there is none.
constexpr unsigned char kFirstReached[8] = {3, 0, 1, 0, 2, 0, 1, 0};

// Counts the fields left on a line.
uint64_t count_rest(field_cursor& c) {
  uint64_t n = 0;
  std::string_view f;
  while (c.next(f)) ++n;
  return n;
}

}  // namespace

int gen_to_ped(std::string gen_file, std::string sample_file, std::string ped_file,
               std::string map_file, std::string phenotype_column, std::string sex_column,
               double threshold, bool alleles) {
  const bool gen_gz = is_gzip_name(gen_file);
  const bool sample_gz = is_gzip_name(sample_file);

  run_log log;
  if (!log.open_append()) return 1;
  if (!check_inputs(log, {gen_file, sample_file})) return 1;
  if (!check_outputs(log, {ped_file, map_file}, {gen_file, sample_file})) return 1;

  std::string msg;
  auto count_line = [&](const char* label, long long v) {
    msg = label;
    append_int(msg, v);
    msg += '\n';
    log.both(msg, true);
  };

  // ---- counting pass: SNPs are the non-blank lines, samples come from the first ----
  log.both("Count SNPs and samples...\n");
  line_reader gen;
  if (!gen.open(gen_file, gen_gz)) {
    log.both(gen.error());
    return 1;
  }
  uint64_t M = 0;
  int64_t N = 0;
  {
    std::string_view line;
    while (gen.next(line)) {
      if (is_blank(line)) continue;
      if (M == 0) {
        field_cursor c(line);
        uint64_t T = count_rest(c);
        // Fewer than five fields leave no SNP to read and no sample count.
        if (T < 5) {
          log.both(gen.bad_line("fewer than 5 fields"));
          return 1;
        }
        N = static_cast<int64_t>((T - 5) / 3);
      }
      ++M;
    }
    if (gen.failed()) {
      log.both(gen.error());
      return 1;
    }
  }
  count_line("Number of samples: ", N);
  count_line("Number of SNPs: ", static_cast<long long>(M));

  // ---- SAMPLE table ----
  log.both("Sample...\n");
  std::vector<sample> samples;
  // Counts come from the file: room grows with the rows actually read beyond this.
  samples.reserve(static_cast<size_t>(std::min<int64_t>(N, kMaxReserve)));
  {
    line_reader in;
    if (!in.open(sample_file, sample_gz)) {
      log.both(in.error());
      return 1;
    }
    int32_t pheno_col = -9, sex_col = -9;
    std::string_view line, word;
    if (in.next(line)) {
      field_cursor c(line);
      for (int32_t i = 0; c.next(word); ++i) {
        if (word == phenotype_column)
          pheno_col = i;
        else if (word == sex_column)
          sex_col = i;
        else if (sex_col == -9 && (word == "sex" || word == "gender"))
          sex_col = i;
      }
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
      return 1;
    }
  }
  // Every GEN sample needs its row: its id goes into the PED file and the messages.
  if (static_cast<int64_t>(samples.size()) < N) {
    msg = "SAMPLE file " + sample_file + " has ";
    append_int(msg, static_cast<long long>(samples.size()));
    msg += " samples, GEN file has ";
    append_int(msg, N);
    msg += '\n';
    log.both(msg);
    return 1;
  }

  // ---- genotype store: sample-major, two bytes per call ----
  const uint64_t n = static_cast<uint64_t>(N);
  const uint64_t row_bytes = 2 * M;
  unsigned __int128 wide = static_cast<unsigned __int128>(row_bytes) * n;
  std::string count;
  append_wide(count, wide);
  log.both("Assign memory for genotypes..." + count + "\n", true);
  // One byte more keeps the pointer arithmetic below valid for an empty store.
  store_memory store;
  if (!(wide < static_cast<unsigned __int128>(SIZE_MAX) &&
        store.allocate(static_cast<size_t>(wide) + 1))) {
    log.both("Not enough memory for genotypes: " + count + "\n");
    return 1;
  }

  // ---- data pass: one SNP per non-blank line, 5 + 3N fields each ----
  log.both("Gen...\n");
  std::vector<map_snp> snps;
  snps.reserve(static_cast<size_t>(std::min<uint64_t>(M, kMaxReserve)));
  if (!gen.rewind()) {
    log.both(gen.error());
    return 1;
  }
  const threshold_test_g test(threshold);
  uint64_t chromosomes = 0, missing_calls = 0, j = 0;
  {
    std::string_view line, f[5];
    while (gen.next(line)) {
      if (is_blank(line)) continue;
      if (j == M) {
        log.both("File changed while it was read: " + gen_file + "\n");
        return 1;
      }
      field_cursor c(line);
      uint64_t got = 0;
      while (got < 5 && c.next(f[got])) ++got;
      int32_t position = 0;
      if (got < 5 || !parse_int32(f[2], position)) {
        log.both(gen.bad_line(strict_line_fault(line, n)));
        return 1;
      }
      char a = allele_letter(f[3]), b = allele_letter(f[4]);
      const bool representable = a && b;
      snps.push_back(map_snp{std::string(f[0]), std::string(f[1]), position, a ? a : 'N',
                             b ? b : 'N'});
      const map_snp& snp = snps.back();
      chromosomes += snp_id_check(snp.snp_id);

      char* call = store.get() + 2 * j;
      // The two letters of each call: AA, AB, BB, then a missing call. Alleles
      // a PED file cannot hold make every call of the SNP "N N", none missing.
      const char x = representable ? a : 'N', y = representable ? b : 'N';
      const char calls[4][2] = {{x, x}, {x, y}, {y, y}, {'N', 'N'}};
      // Fields are split and read in one walk over the line; a field that is
      // not a short plain decimal goes the general way.
      const char* p = c.rest.data();
      const char* const end = p + c.rest.size();
      for (uint64_t i = 0; i < n; ++i, call += row_bytes) {
        unsigned reached = 0;  // bit k: the k-th probability is at the threshold
        for (int k = 0; k < 3; ++k) {
          while (p < end && is_space(*p)) ++p;
          if (p == end) {
            log.both(gen.bad_line(strict_line_fault(line, n)));
            return 1;
          }
          const char* field = p;
          uint64_t m;
          unsigned decimals;
          if (const char* q = scan_common_field(p, end, m, decimals)) {
            reached |= static_cast<unsigned>(test.reached(m, decimals, false)) << k;
            p = q + 1;  // the blank after it is known to be there
            continue;
          }
          bool negative;
          const char* q = scan_short_decimal(p, end, m, decimals, negative);
          if (q && (q == end || is_space(*q))) {
            reached |= static_cast<unsigned>(test.reached(m, decimals, negative)) << k;
            p = q;
            continue;
          }
          while (p < end && !is_space(*p)) ++p;
          double v;
          if (!parse_double(std::string_view(field, static_cast<size_t>(p - field)), v)) {
            log.both(gen.bad_line(strict_line_fault(line, n)));
            return 1;
          }
          reached |= static_cast<unsigned>(test.reached(v)) << k;
        }
        // The first probability that reaches the threshold gives the call;
        // looked up, since calls come in no order a branch could learn.
        const unsigned which = kFirstReached[reached];
        std::memcpy(call, calls[which], 2);
        if (which == 3 && representable) {
          ++missing_calls;
          msg = "Missing data at locus: ";
          msg += snp.rs_id;
          msg += ' ';
          append_int(msg, snp.position);
          msg += ' ';
          msg += samples[i].ID_2;
          msg += '\n';
          // One line per missing call can mean millions: buffered, and
          // flushed with the count line that follows them.
          log.both(msg);
        }
      }
      c.rest = std::string_view(p, static_cast<size_t>(end - p));
      uint64_t extra = count_rest(c);
      if (extra) {
        log.both(gen.bad_line(strict_line_fault(line, n)));
        return 1;
      }
      if (!representable) {
        msg = "Allele not representable in PED: " + snp.rs_id + " ";
        append_int(msg, snp.position);
        msg += '\n';
        log.both(msg);
      }
      ++j;
    }
    if (gen.failed()) {
      log.both(gen.error());
      return 1;
    }
    gen.close();
  }
  if (j != M) {
    log.both("File changed while it was read: " + gen_file + "\n");
    return 1;
  }
  count_line("Number of missing loci: ", static_cast<long long>(missing_calls));

  // ---- MAP file ----
  {
    text_writer out;
    if (!out.open(map_file, gen_gz)) {
      log.both(out.error());
      return 1;
    }
    const bool chromosome_layout = chromosomes == M;
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
    if (!close_output(log, out)) return 1;
  }
  log.both("Output...\n");

  // ---- PED file: each row straight from the store ----
  {
    text_writer out;
    if (!out.open(ped_file, gen_gz)) {
      log.both(out.error());
      return 1;
    }
    std::string& b = out.buffer();
    const char* row = store.get();
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
      b.resize(at + 4 * M);
      char* o = &b[at];
      for (uint64_t k = 0; k < M; ++k, o += 4) {
        o[0] = '\t';
        o[1] = row[2 * k];
        o[2] = ' ';
        o[3] = row[2 * k + 1];
      }
      b += '\n';
      out.maybe_flush();
    }
    if (!close_output(log, out)) return 1;
  }

  log.close();
  return 0;
}
