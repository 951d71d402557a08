// -S: copies a GEN file, and with a sample selection its SAMPLE file, keeping
// the chosen samples and SNPs.
//
// The GEN file is read twice: once for its first line (the number of
// samples), then line by line for the SNPs. Only the ID sets, the kept sample
// indices and one line's probabilities are held in memory.
#include "subset.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "file_names.h"
#include "gen_line.h"
#include "number_format.h"
#include "run_log.h"
#include "text.h"

namespace {

using id_set = std::set<std::string, std::less<>>;

// Reads an ID list file into a set: any white-space-separated fields, on any
// number of lines. An empty name is a list that was not given.
bool read_id_list(run_log& log, const std::string& name, id_set& ids) {
  if (name.empty()) return true;
  line_reader in;
  if (!open_input(log, in, name, is_gzip_name(name))) return false;
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

// The files of a run; an empty name is a file not given.
struct subset_files {
  const std::string& gen;
  const std::string& out_gen;
  const std::string& inclusion;    // SNP IDs to keep
  const std::string& exclusion;    // SNP IDs to drop
  const std::string& sample_ids;   // sample IDs to keep
  const std::string& sample_excl;  // sample IDs to drop, when none are to be kept
  const std::string& sample;
  const std::string& out_sample;
};

// What the passes share.
struct subset_pass {
  bool gz = false;                      // the GEN input is gzip, and so is every output
  line_reader gen;                      // open from the first pass to the end
  long long input_samples = -1;         // (fields - 5) / 3 of the first GEN line; -1 without one
  long long output_samples = -1;        // input_samples, or the SAMPLE rows kept
  std::vector<long long> kept_samples;  // kept SAMPLE rows, from 0
};

// Which SNPs are kept: those in the range, or all of them with neither a
// range nor an inclusion list, less the exclusion list; then the inclusion
// list; less, with --missing, those with too many missing samples.
struct snp_filter {
  bool range_given, inclusion_given, exclusion_given, missing_given;
  int start, end;            // positions, inclusive; end <= 0: no end
  double missing_threshold;  // largest share of missing samples kept
  double threshold;          // a sample is missing when its three values are all below it
  id_set include_snps, exclude_snps;
};

// Every input is checked before anything is written; no output is created
// when one is missing or would overwrite an input.
bool check_files(run_log& log, const subset_files& f, bool sample_subset) {
  const std::vector<std::string> inputs = subset_inputs(
      f.gen, f.inclusion, f.sample_ids, f.sample_excl, f.exclusion, f.sample, sample_subset);
  return check_inputs(log, inputs) &&
         check_outputs(log, subset_outputs(f.out_gen, f.out_sample, sample_subset), inputs);
}

// First pass: the number of samples, from the fields of the first non-blank
// GEN line. The file stays open for the GEN pass.
bool count_input_samples(run_log& log, const std::string& name, subset_pass& s) {
  if (!open_input(log, s.gen, name, s.gz)) return false;
  std::string_view line;
  while (s.gen.next(line)) {
    if (is_blank(line)) continue;
    // Signed: a line of one or two fields gives -1, as no line does.
    s.input_samples = (static_cast<long long>(count_fields(line)) - 5) / 3;
    break;
  }
  if (s.gen.failed()) {
    log.both(s.gen.error(), true);
    return false;
  }
  return true;
}

// Copies the two header lines, then the kept rows verbatim, and notes the
// kept rows' indices. A row with fewer than two fields (a blank line
// included) ends the rows.
void copy_sample_rows(run_log& log, line_reader& in, text_writer& out, const id_set& include_ids,
                      const id_set& exclude_ids, subset_pass& s) {
  std::string_view line;
  for (int header = 0; header < 2; ++header) {
    if (in.next(line)) out.write(line);
    out.put('\n');
  }
  s.output_samples = 0;
  long long row_index = 0;
  std::string row_text;
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
      s.kept_samples.push_back(row_index);
      out.write(line);
      out.put('\n');
      ++s.output_samples;
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
}

// Sample pass: the ID lists, then the SAMPLE copy, created before the SAMPLE
// input is opened.
bool copy_samples(run_log& log, const subset_files& f, subset_pass& s) {
  log.both("Samples...\n");
  id_set include_ids, exclude_ids;
  if (!read_id_list(log, f.sample_ids, include_ids)) return false;
  log.log("Number of samples in subset file: " + int_text(static_cast<long long>(include_ids.size())) + "\n", true);
  if (!read_id_list(log, f.sample_excl, exclude_ids)) return false;

  text_writer out;
  if (!open_output(log, out, f.out_sample, s.gz)) return false;
  line_reader in;
  if (!open_input(log, in, f.sample, is_gzip_name(f.sample))) return false;
  copy_sample_rows(log, in, out, include_ids, exclude_ids, s);
  // The rows may have ended early; damage after them still fails the file.
  if (!in.read_to_end()) {
    log.both(in.error(), true);
    out.close();
    return false;
  }
  in.close();
  return close_output(log, out);
}

// The SNP lists; a range without a start begins at 0.
bool read_snp_lists(run_log& log, const subset_files& files, snp_filter& f) {
  if (f.range_given) {
    log.both("positions...\n");
    if (f.start == -1) f.start = 0;
  }
  if (f.inclusion_given) {
    log.both("Snp_id...\n");
    if (!read_id_list(log, files.inclusion, f.include_snps)) return false;
  }
  if (f.exclusion_given) {
    log.both("Exclusion...\n");
    if (!read_id_list(log, files.exclusion, f.exclude_snps)) return false;
  }
  return true;
}

// Per sample of the GEN file, 1 when its triple is written: every one, or
// the kept rows that the GEN file has.
std::vector<char> written_samples(const subset_pass& s, bool sample_subset) {
  const long long samples = s.input_samples > 0 ? s.input_samples : 0;
  std::vector<char> written(static_cast<size_t>(samples), !sample_subset);
  if (sample_subset)
    for (long long k : s.kept_samples)
      if (k < samples) written[static_cast<size_t>(k)] = 1;
  return written;
}

// Whether the range and the SNP lists keep a SNP.
bool keep_snp(const snp_filter& f, const gen_head& h) {
  const bool include_all = !f.range_given && !f.inclusion_given;
  const bool in_range =
      f.range_given && f.start <= h.position && (f.end <= 0 || h.position <= f.end);
  if ((in_range || include_all) &&
      (!f.exclusion_given || !contains(f.exclude_snps, h.rs_id, h.snp_id)))
    return true;
  return f.inclusion_given && contains(f.include_snps, h.rs_id, h.snp_id);
}

struct snp_counts {
  long long input = 0;   // non-blank GEN lines
  long long output = 0;  // SNPs written
};

// Appends a SNP's leading fields to buf.
void append_head(std::string& buf, const gen_head& h) {
  buf.append(h.snp_id);
  buf += ' ';
  buf.append(h.rs_id);
  buf += ' ';
  append_int(buf, h.position);
  buf += ' ';
  buf.append(h.allele_a);
  buf += ' ';
  buf.append(h.allele_b);
  buf += ' ';
}

// Reads a line's probabilities, which must be exactly 3N numbers. With write
// set, the written samples' triples go to buf, gathered in triples and
// appended in large pieces; with test, missing counts the samples whose three
// values are all below the threshold. False at a fault of the line.
inline bool copy_triples(std::string_view rest, long long samples, const std::vector<char>& written,
                         bool write, const threshold_test* test, std::vector<char>& triples,
                         std::string& buf, long long& missing) {
  probability_reader r(rest);
  // Each value takes up to kProbabilityMax characters and a blank.
  char* e = triples.data();
  const char* const last_room = triples.data() + triples.size() - 3 * (kProbabilityMax + 1);
  for (long long i = 0; i < samples; ++i) {
    probability t[3];
    unsigned d[3];
    if (r.next_digit_triple(d[0], d[1], d[2])) {
      for (int k = 0; k < 3; ++k) t[k] = probability{d[k], 0, false, 0.0};
    } else if (!r.next(t[0]) || !r.next(t[1]) || !r.next(t[2])) {
      return false;
    }
    if (test)
      missing += static_cast<int>(test->below(t[0])) & static_cast<int>(test->below(t[1])) &
                 static_cast<int>(test->below(t[2]));
    if (!write || !written[static_cast<size_t>(i)]) continue;
    if (e > last_room) {
      buf.append(triples.data(), e);
      e = triples.data();
    }
    for (int k = 0; k < 3; ++k) {
      e = format_read_probability(e, t[k]);
      *e++ = ' ';
    }
  }
  buf.append(triples.data(), e);
  return r.done();
}

// Reads every GEN line, which must hold 5 + 3N fields with a number in each
// from the sixth on, and writes the kept SNPs. The kept samples' values are
// written as they are read; a line left out after all (by --missing, or at a
// fault) is taken back. False after a bad line or a read failure, reported.
bool copy_snps(run_log& log, const snp_filter& f, const std::vector<char>& written,
               subset_pass& s, text_writer& out, snp_counts& n) {
  const long long samples = s.input_samples > 0 ? s.input_samples : 0;
  const threshold_test test(f.threshold);
  std::vector<char> triples(1 << 16);
  std::string& buf = out.buffer();
  gen_head h;
  std::string_view line;
  while (s.gen.next(line)) {
    if (is_blank(line)) continue;
    const text_writer::line_mark line_start = out.mark();
    const bool head = s.input_samples >= 0 && !read_gen_head(line, h);
    const bool kept = head && keep_snp(f, h);
    if (kept) append_head(buf, h);
    long long missing = 0;
    if (!head || !copy_triples(h.rest, samples, written, kept, f.missing_given ? &test : nullptr,
                               triples, buf, missing)) {
      out.take_back(line_start);
      log.both(s.gen.bad_line(strict_line_fault(line, static_cast<uint64_t>(samples))), true);
      return false;
    }
    ++n.input;
    // With --missing, a SNP whose share of missing samples is over the limit goes.
    if (kept && f.missing_given && samples > 0 &&
        static_cast<double>(missing) / static_cast<double>(samples) > f.missing_threshold) {
      out.take_back(line_start);
      continue;
    }
    if (!kept) continue;
    buf += '\n';
    out.maybe_flush();
    ++n.output;
  }
  if (s.gen.failed()) {
    log.both(s.gen.error(), true);
    return false;
  }
  return true;
}

// GEN pass: the GEN input is read again from its start, and only then is the
// GEN output created.
bool copy_gen(run_log& log, const std::string& out_gen, const snp_filter& f, bool sample_subset,
              subset_pass& s) {
  log.both("Gen...\n");
  const std::vector<char> written = written_samples(s, sample_subset);
  if (!s.gen.rewind()) {
    log.both(s.gen.error(), true);
    return false;
  }
  text_writer out;
  if (!open_output(log, out, out_gen, s.gz)) return false;
  snp_counts n;
  if (!copy_snps(log, f, written, s, out, n)) {
    out.close();
    return false;
  }
  s.gen.close();
  if (!close_output(log, out)) return false;
  log.both("Number of input SNPs: " + int_text(n.input) + "\n", true);
  log.both("Number of output SNPs: " + int_text(n.output) + "\n", true);
  return true;
}

}  // namespace

int subset(std::string gen_file, std::string out_gen, std::string inclusion_file,
           std::string sample_id_file, std::string sample_excl_file, std::string sample_file,
           std::string out_sample, std::string exclusion_file, int start, int end,
           bool range_given, bool inclusion_given, bool sample_subset, bool exclusion_given,
           bool missing_given, double missing_threshold, double threshold) {
  run_log log;
  if (!log.open_append()) return 1;
  const subset_files files{gen_file,       out_gen,          inclusion_file, exclusion_file,
                           sample_id_file, sample_excl_file, sample_file,    out_sample};
  if (!check_files(log, files, sample_subset)) return 1;
  log.both("Output files: " + out_gen + " " + out_sample + "\n", true);

  subset_pass s;
  s.gz = is_gzip_name(gen_file);
  if (!count_input_samples(log, gen_file, s)) return 1;
  log.both("Number of input samples: " + int_text(s.input_samples) + "\n", true);
  s.output_samples = s.input_samples;
  if (sample_subset && !copy_samples(log, files, s)) return 1;
  log.both("Number of output samples: " + int_text(s.output_samples) + "\n", true);

  snp_filter f{range_given, inclusion_given, exclusion_given, missing_given, start, end,
               missing_threshold, threshold, {}, {}};
  if (!read_snp_lists(log, files, f)) return 1;
  if (!copy_gen(log, out_gen, f, sample_subset, s)) return 1;
  log.close();
  return 0;
}
