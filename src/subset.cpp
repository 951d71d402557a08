// -S: copies a GEN file, and with a sample selection its SAMPLE file, keeping
// the chosen samples and SNPs.
//
// The GEN file is read twice: once for its first line (the number of
// samples), then line by line for the SNPs. Only the ID sets, the kept sample
// indices and one line's probabilities are held in memory.
#include "subset.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "gen_line.h"
#include "streams.h"
#include "text.h"

namespace {

using id_set = std::set<std::string, std::less<>>;

// Reads an ID list file into a set: any white-space-separated fields, on any
// number of lines. An empty name is a list that was not given.
bool read_id_list(run_log& log, const std::string& name, id_set& ids) {
  if (name.empty()) return true;
  line_reader in;
  if (!in.open(name, is_gzip_name(name))) {
    log.both(in.error(), true);
    return false;
  }
  std::string_view line, f;
  while (in.next(line)) {
    field_cursor c(line);
    while (c.next(f))
      if (ids.find(f) == ids.end()) ids.emplace(f);
  }
  if (in.failed()) {
    log.both(in.error(), true);
    return false;
  }
  return true;
}

bool contains(const id_set& ids, std::string_view a, std::string_view b) {
  return ids.find(a) != ids.end() || ids.find(b) != ids.end();
}

// Powers of ten that a double holds exactly.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A probability field: an optional sign, then a decimal number (digits or a
// point first, so "nan" and "inf" are not numbers). Parses at p and returns
// the end of the number, or nullptr when the field does not start with one.
inline const char* parse_probability(const char* p, const char* end, double& v) {
  const char* q = p;
  if (q < end && *q == '+')
    p = ++q;
  else if (q < end && *q == '-')
    ++q;
  // Short plain decimals (the usual case): both the digits and the power of
  // ten are exact doubles, so one division gives the correctly rounded value,
  // the same as the full conversion below.
  {
    const char* d = q;
    uint64_t m = 0;
    int digits = 0, decimals = 0;
    while (d < end && *d >= '0' && *d <= '9' && digits < 19) m = m * 10 + uint64_t(*d++ - '0'), ++digits;
    if (d < end && *d == '.') {
      ++d;
      while (d < end && *d >= '0' && *d <= '9' && digits < 19)
        m = m * 10 + uint64_t(*d++ - '0'), ++digits, ++decimals;
    }
    if (digits > 0 && digits < 19 && m <= (uint64_t(1) << 53) && (d == end || is_space(*d))) {
      double x = static_cast<double>(m) / kPow10[decimals];
      v = (q != p) ? -x : x;
      return d;
    }
  }
  if (q == end || !((*q >= '0' && *q <= '9') || *q == '.')) return nullptr;
  auto r = std::from_chars(p, end, v);
  if (r.ec == std::errc::result_out_of_range)  // below the double range reads as 0
    return parse_double(std::string_view(p, static_cast<size_t>(r.ptr - p)), v) ? r.ptr : nullptr;
  if (r.ec != std::errc()) return nullptr;
  return r.ptr;
}

// Whole numbers are written without decimals, every other value with four,
// rounded as the fixed conversion rounds the exact binary value. Returns the
// end of the text written at out (room for 400 characters).
inline char* format_probability(char* out, double v) {
  double a = std::fabs(v);
  if (a < 1e15) {
    double whole = std::floor(a);
    if (a == whole) {
      if (std::signbit(v)) *out++ = '-';
      return std::to_chars(out, out + 24, static_cast<long long>(whole)).ptr;
    }
    // Four decimals by scaling; for values this small the product is within
    // far less than 1e-5 of the exact one, so only near-ties need the full
    // conversion.
    if (a < 1e6) {
      double y = a * 10000.0;
      double f = y - std::floor(y);
      if (std::fabs(f - 0.5) > 1e-5) {
        long long n = static_cast<long long>(std::floor(y + 0.5));
        if (v < 0) *out++ = '-';
        out = std::to_chars(out, out + 24, n / 10000).ptr;
        int frac = static_cast<int>(n % 10000);
        out[0] = '.';
        out[1] = char('0' + frac / 1000);
        out[2] = char('0' + frac / 100 % 10);
        out[3] = char('0' + frac / 10 % 10);
        out[4] = char('0' + frac % 10);
        return out + 5;
      }
    }
  }
  int decimals = (v == std::floor(v)) ? 0 : 4;
  return std::to_chars(out, out + 400, v, std::chars_format::fixed, decimals).ptr;
}

// Splits digits into whole part and fraction at a constant power of ten.
template <uint64_t Ten>
inline void split_digits(uint64_t m, uint64_t& whole, uint64_t& frac) {
  whole = m / Ten;
  frac = m % Ten;
}

// Writes a value as format_probability does. A short decimal with at most
// four decimals and a small whole part is exactly the value that the fixed
// conversion rounds to, so its digits are written as they are.
inline char* format_read_probability(char* out, const probability& p) {
  // One digit and three decimals, the usual shape: a fourth decimal "0",
  // or the digit alone when the decimals are all zero.
  if (p.decimals == 3 && p.m < 10000 && !p.negative) {
    const unsigned m = static_cast<unsigned>(p.m);
    out[0] = static_cast<char>('0' + m / 1000);
    if (m % 1000 == 0) return out + 1;
    out[1] = '.';
    out[2] = static_cast<char>('0' + m / 100 % 10);
    out[3] = static_cast<char>('0' + m / 10 % 10);
    out[4] = static_cast<char>('0' + m % 10);
    out[5] = '0';
    return out + 6;
  }
  if (p.decimals == 0) {
    if (p.negative) *out++ = '-';
    if (p.m < 10) {
      *out++ = static_cast<char>('0' + p.m);
      return out;
    }
    return std::to_chars(out, out + 24, p.m).ptr;
  }
  if (p.decimals > 0 && p.decimals <= 4) {
    uint64_t whole, frac;
    switch (p.decimals) {
      case 1: split_digits<10>(p.m, whole, frac); break;
      case 2: split_digits<100>(p.m, whole, frac); break;
      case 3: split_digits<1000>(p.m, whole, frac); break;
      default: split_digits<10000>(p.m, whole, frac); break;
    }
    if (frac == 0) {
      if (p.negative) *out++ = '-';
      return std::to_chars(out, out + 24, whole).ptr;
    }
    if (whole < 1000000000) {
      if (p.negative) *out++ = '-';
      out = std::to_chars(out, out + 24, whole).ptr;
      // The fraction's digits, then zeros up to four places.
      char digits[4] = {'0', '0', '0', '0'};
      for (int d = p.decimals - 1; d >= 0; --d, frac /= 10) digits[d] = static_cast<char>('0' + frac % 10);
      *out++ = '.';
      std::memcpy(out, digits, 4);
      return out + 4;
    }
  }
  return format_probability(out, p.value());
}

// One GEN line, split in place: five leading fields and 3N probabilities.
struct gen_line {
  std::string_view snp_id, rs_id, allele_a, allele_b;
  int32_t position = 0;
};

// Parses a non-blank line; false when it does not hold exactly the five
// leading fields and `values.size()` numbers.
bool parse_gen_line(std::string_view line, gen_line& g, std::vector<probability>& values) {
  field_cursor c(line);
  std::string_view pos;
  if (!c.next(g.snp_id) || !c.next(g.rs_id) || !c.next(pos) || !c.next(g.allele_a) ||
      !c.next(g.allele_b))
    return false;
  if (!parse_int32(pos, g.position)) return false;
  const char* p = c.rest.data();
  const char* end = p + c.rest.size();
  for (probability& v : values) {
    while (p < end && is_space(*p)) ++p;
    if (p == end) return false;
    unsigned decimals;
    if (const char* q = scan_common_field(p, end, v.m, decimals)) {
      v.decimals = static_cast<int>(decimals);
      v.negative = false;
      p = q;
      continue;
    }
    const char* q = scan_short_decimal(p, end, v.m, decimals, v.negative);
    if (q && (q == end || is_space(*q))) {
      v.decimals = static_cast<int>(decimals);
      p = q;
      continue;
    }
    v.decimals = -1;
    p = parse_probability(p, end, v.v);
    if (!p || (p < end && !is_space(*p))) return false;
  }
  while (p < end && is_space(*p)) ++p;
  return p == end;
}

}  // namespace

int subset(std::string gen_file, std::string out_gen, std::string inclusion_file,
           std::string sample_id_file, std::string sample_excl_file, std::string sample_file,
           std::string out_sample, std::string exclusion_file, int start, int end,
           bool range_given, bool inclusion_given, bool sample_subset, bool exclusion_given,
           bool missing_given, double missing_threshold, double threshold) {
  const bool gen_gz = is_gzip_name(gen_file);
  const bool include_all = !range_given && !inclusion_given;

  run_log log;
  if (!log.open_append()) return 1;

  // Every input is checked before anything is written; no output is created
  // when one is missing or would overwrite an input.
  std::vector<std::string> inputs = {gen_file, inclusion_file, sample_id_file, sample_excl_file,
                                     exclusion_file};
  if (sample_subset) inputs.push_back(sample_file);
  std::vector<std::string> outputs = {out_gen};
  if (sample_subset) outputs.push_back(out_sample);
  if (!check_inputs(log, inputs) || !check_outputs(log, outputs, inputs)) return 1;

  log.both("Output files: " + out_gen + " " + out_sample + "\n", true);

  // Number of samples: from the fields of the first non-blank GEN line.
  long long input_samples = -1;
  line_reader gen;
  {
    if (!gen.open(gen_file, gen_gz)) {
      log.both(gen.error(), true);
      return 1;
    }
    std::string_view line;
    while (gen.next(line)) {
      if (is_blank(line)) continue;
      field_cursor c(line);
      std::string_view f;
      long long fields = 0;
      while (c.next(f)) ++fields;
      input_samples = (fields - 5) / 3;
      break;
    }
    if (gen.failed()) {
      log.both(gen.error(), true);
      return 1;
    }
  }
  log.both("Number of input samples: " + int_text(input_samples) + "\n", true);

  // Sample selection: the kept SAMPLE rows, copied verbatim, and their indices.
  std::vector<long long> kept_samples;
  long long output_samples = input_samples;
  if (sample_subset) {
    log.both("Samples...\n");
    id_set include_ids, exclude_ids;
    if (!read_id_list(log, sample_id_file, include_ids)) return 1;
    log.log("Number of samples in subset file: " + int_text(static_cast<long long>(include_ids.size())) + "\n", true);
    if (!read_id_list(log, sample_excl_file, exclude_ids)) return 1;

    text_writer out;
    if (!out.open(out_sample, gen_gz)) {
      log.both(out.error(), true);
      return 1;
    }
    line_reader in;
    if (!in.open(sample_file, is_gzip_name(sample_file))) {
      log.both(in.error(), true);
      return 1;
    }
    std::string_view line;
    for (int header = 0; header < 2; ++header) {
      if (in.next(line)) out.write(line);
      out.put('\n');
    }
    output_samples = 0;
    long long row_index = 0;
    std::string row_text;
    // A row with fewer than two fields (a blank line included) ends the rows.
    while (in.next(line)) {
      field_cursor c(line);
      std::string_view id_1, id_2;
      if (!c.next(id_1) || !c.next(id_2)) break;
      bool kept;
      if (!include_ids.empty()) {
        log.log("sample_file: " + std::string(id_2) + "\n", true);
        kept = contains(include_ids, id_2, id_1);
      } else if (exclude_ids.empty()) {
        kept = true;
      } else {
        kept = !contains(exclude_ids, id_2, id_1);
      }
      if (kept) {
        kept_samples.push_back(row_index);
        out.write(line);
        out.put('\n');
        ++output_samples;
        if (!include_ids.empty()) {
          row_text.assign(id_2);
          row_text += ' ';
          append_int(row_text, row_index);
          row_text += ' ';
          row_text.append(line);
          row_text += '\n';
          log.log(row_text, true);
        }
      }
      ++row_index;
    }
    if (in.failed()) {
      log.both(in.error(), true);
      out.close();
      return 1;
    }
    in.close();
    if (!close_output(log, out)) return 1;
  }
  log.both("Number of output samples: " + int_text(output_samples) + "\n", true);

  if (range_given) {
    log.both("positions...\n");
    if (start == -1) start = 0;
  }
  id_set include_snps, exclude_snps;
  if (inclusion_given) {
    log.both("Snp_id...\n");
    if (!read_id_list(log, inclusion_file, include_snps)) return 1;
  }
  if (exclusion_given) {
    log.both("Exclusion...\n");
    if (!read_id_list(log, exclusion_file, exclude_snps)) return 1;
  }
  log.both("Gen...\n");

  // Which triples are written: all of them, or the kept rows that have one.
  std::vector<long long> written;
  const long long samples = input_samples > 0 ? input_samples : 0;
  if (sample_subset) {
    for (long long k : kept_samples)
      if (k < samples) written.push_back(k);
  } else {
    written.resize(static_cast<size_t>(samples));
    for (long long k = 0; k < samples; ++k) written[static_cast<size_t>(k)] = k;
  }

  if (!gen.rewind()) {
    log.both(gen.error(), true);
    return 1;
  }
  text_writer out;
  if (!out.open(out_gen, gen_gz)) {
    log.both(out.error(), true);
    return 1;
  }

  long long input_snps = 0, output_snps = 0;
  std::vector<probability> values(static_cast<size_t>(3 * samples));
  gen_line g;
  // Written triples, each up to 400 characters and a blank a value.
  std::vector<char> triples(1 << 16);
  std::string_view line;
  while (gen.next(line)) {
    if (is_blank(line)) continue;
    // The whole line must hold 5 + 3N fields, numbers from the sixth on.
    if (input_samples < 0 || !parse_gen_line(line, g, values)) {
      const uint64_t n = input_samples < 0 ? 0 : static_cast<uint64_t>(input_samples);
      log.both(gen.bad_line(strict_line_fault(line, n)), true);
      out.close();
      return 1;
    }
    ++input_snps;

    bool in_range = range_given && start <= g.position && (end <= 0 || g.position <= end);
    bool kept;
    if (in_range || include_all)
      kept = !exclusion_given || !contains(exclude_snps, g.rs_id, g.snp_id);
    else
      kept = false;
    if (!kept) kept = inclusion_given && contains(include_snps, g.rs_id, g.snp_id);
    if (!kept) continue;

    if (missing_given && samples > 0) {
      long long missing = 0;
      for (size_t i = 0; i < values.size(); i += 3)
        if (threshold > values[i].value() && threshold > values[i + 1].value() &&
            threshold > values[i + 2].value())
          ++missing;
      if (static_cast<double>(missing) / static_cast<double>(samples) > missing_threshold) continue;
    }

    std::string& buf = out.buffer();
    buf.append(g.snp_id);
    buf += ' ';
    buf.append(g.rs_id);
    buf += ' ';
    append_int(buf, g.position);
    buf += ' ';
    buf.append(g.allele_a);
    buf += ' ';
    buf.append(g.allele_b);
    buf += ' ';
    // The kept triples go into one buffer, appended in large pieces.
    char* e = triples.data();
    const char* const last_room = triples.data() + triples.size() - 3 * 401;
    for (long long k : written) {
      if (e > last_room) {
        buf.append(triples.data(), e);
        e = triples.data();
      }
      const probability* t = &values[static_cast<size_t>(3 * k)];
      for (int i = 0; i < 3; ++i) {
        e = format_read_probability(e, t[i]);
        *e++ = ' ';
      }
    }
    buf.append(triples.data(), e);
    buf += '\n';
    out.maybe_flush();
    ++output_snps;
  }
  if (gen.failed()) {
    log.both(gen.error(), true);
    out.close();
    return 1;
  }
  gen.close();
  if (!close_output(log, out)) return 1;

  log.both("Number of input SNPs: " + int_text(input_snps) + "\n", true);
  log.both("Number of output SNPs: " + int_text(output_snps) + "\n", true);
  log.close();
  return 0;
}
