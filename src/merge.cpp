// -M: joins several GEN/SAMPLE pairs into one pair.
//
// Samples are matched by ID_1 + "_" + ID_2 and SAMPLE columns by name; SNPs
// are matched by position alone. A scan pass records, per position, where each
// GEN file's line starts, so the merge pass can seek straight to it and hold
// only one position's probabilities at a time. The merged SAMPLE file comes
// last, since its missing column counts the merge's missing genotypes.
#include "merge.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gen_line.h"
#include "number_format.h"
#include "streams.h"
#include "text.h"

namespace {

// One reader per input; null for a file that was not given.
using readers = std::vector<std::unique_ptr<line_reader>>;

// Opens an input, by its content (GEN files) or by its name (SAMPLE files).
// An empty name is a file that was not given: in is left null.
bool open_input(run_log& log, std::unique_ptr<line_reader>& in, const std::string& name,
                bool by_content) {
  in = std::make_unique<line_reader>();
  if (by_content ? in->open_by_content(name) : in->open(name, is_gzip_name(name))) return true;
  if (name.empty()) {
    in.reset();
    return true;
  }
  log.both(in->error(), true);
  return false;
}

bool open_output(run_log& log, text_writer& out, const std::string& name) {
  if (out.open(name, is_gzip_name(name))) return true;
  log.both(out.error(), true);
  return false;
}

// ---- samples ----

struct sample_columns {
  std::vector<std::string> names;  // output columns, "ID_1" "ID_2" "missing" first
  std::vector<std::string> types;
};

struct merged_samples {
  sample_columns columns;
  std::map<std::string, size_t> index;  // sample key -> merged sample index
  std::vector<std::string> keys;        // in order of first appearance
  std::vector<std::vector<std::string>> cells;
  // Per pair: the merged sample index of each data row of its SAMPLE file.
  std::vector<std::vector<size_t>> row_sample;
};

// What the sample stages share, per pair.
struct sample_inputs {
  readers in;  // open from the header lines to the rows
  std::vector<std::string> name_lines, type_lines;  // empty for a file not given
  std::vector<std::vector<size_t>> column_map;      // data column 3 + i -> output column
};

// Reads the next line into text; a missing line reads as empty.
bool header_line(run_log& log, line_reader& in, std::string& text) {
  std::string_view line;
  if (in.next(line)) {
    text.assign(line.data(), line.size());
    return true;
  }
  text.clear();
  if (!in.failed()) return true;
  log.both(in.error(), true);
  return false;
}

// The header lines of every pair come first: the columns must be known
// before any row.
bool read_sample_headers(run_log& log, const std::vector<std::string>& files, size_t k,
                         sample_inputs& si) {
  si.in.resize(k);
  si.name_lines.resize(k);
  si.type_lines.resize(k);
  for (size_t f = 0; f < k; ++f) {
    if (!open_input(log, si.in[f], files[f + k], false)) return false;
    if (!si.in[f]) continue;
    if (!header_line(log, *si.in[f], si.name_lines[f]) ||
        !header_line(log, *si.in[f], si.type_lines[f]))
      return false;
  }
  return true;
}

// Union of the columns: a name typed "P" is a phenotype, any other type a
// covariate; a name may be both when files disagree, and then takes its
// phenotype column.
void union_columns(sample_inputs& si, sample_columns& cols) {
  const size_t k = si.name_lines.size();
  std::vector<std::string> cov_names, cov_types, pheno_names;
  std::map<std::string, size_t, std::less<>> cov_at, pheno_at;
  std::vector<std::string_view> names, types;
  for (size_t f = 0; f < k; ++f) {
    split_fields(si.name_lines[f], names);
    split_fields(si.type_lines[f], types);
    std::string_view type;  // a short type line repeats its last type
    for (size_t i = 3; i < names.size(); ++i) {
      if (i < types.size()) type = types[i];
      if (type == "P") {
        if (pheno_at.find(names[i]) == pheno_at.end()) {
          pheno_at.emplace(std::string(names[i]), pheno_names.size());
          pheno_names.emplace_back(names[i]);
        }
      } else if (cov_at.find(names[i]) == cov_at.end()) {
        cov_at.emplace(std::string(names[i]), cov_names.size());
        cov_names.emplace_back(names[i]);
        // every column needs a type word, or the type line loses a column
        cov_types.emplace_back(type.empty() ? std::string_view("D") : type);
      }
    }
  }
  const size_t nc = cov_names.size();
  cols.names = {"ID_1", "ID_2", "missing"};
  cols.types = {"0", "0", "0"};
  cols.names.insert(cols.names.end(), cov_names.begin(), cov_names.end());
  cols.types.insert(cols.types.end(), cov_types.begin(), cov_types.end());
  cols.names.insert(cols.names.end(), pheno_names.begin(), pheno_names.end());
  cols.types.insert(cols.types.end(), pheno_names.size(), "P");

  si.column_map.assign(k, {});
  for (size_t f = 0; f < k; ++f) {
    split_fields(si.name_lines[f], names);
    for (size_t i = 3; i < names.size(); ++i) {
      auto p = pheno_at.find(names[i]);
      si.column_map[f].push_back(p != pheno_at.end() ? 3 + nc + p->second
                                                     : 3 + cov_at.find(names[i])->second);
    }
  }
}

// Adds a row's words (at least three) to the merged samples; returns its
// merged sample index. key is scratch space.
size_t add_sample_row(run_log& log, const std::vector<std::string_view>& words,
                      const std::vector<size_t>& column_map, merged_samples& ms, std::string& key) {
  key.assign(words[0].data(), words[0].size());
  key += '_';
  key.append(words[1].data(), words[1].size());
  auto it = ms.index.find(key);
  if (it == ms.index.end()) {
    it = ms.index.emplace(key, ms.keys.size()).first;
    ms.keys.push_back(key);
    ms.cells.emplace_back(ms.columns.names.size(), "-9");
    std::vector<std::string>& row = ms.cells.back();
    row[0].assign(words[0]);
    row[1].assign(words[1]);
    row[2].assign(words[2]);
  }
  std::vector<std::string>& row = ms.cells[it->second];
  // words beyond the file's column names have no column: ignored
  size_t data_columns = std::min(words.size() - 3, column_map.size());
  for (size_t i = 0; i < data_columns; ++i) {
    std::string& cell = row[column_map[i]];
    std::string_view word = words[3 + i];
    if (cell == "-9") {
      cell.assign(word);
    } else if (cell != word) {
      std::string msg = "Mismatch overlap in samples:  " + cell + " ";
      msg.append(word.data(), word.size());
      msg += '\n';
      log.both(msg, true);
      cell = "-10";
    }
  }
  return it->second;
}

// The data rows of every pair, each file closed once read.
bool read_sample_rows(run_log& log, const std::vector<std::string>& files, size_t k,
                      sample_inputs& si, merged_samples& ms) {
  ms.row_sample.assign(k, {});
  std::vector<std::string_view> words;
  std::string key;
  for (size_t f = 0; f < k; ++f) {
    std::vector<size_t>& rows = ms.row_sample[f];
    if (si.in[f]) {
      line_reader& in = *si.in[f];
      std::string_view line;
      while (!in.failed() && in.next(line)) {
        // a row without its two ids and missing value ends the file
        if (split_fields(line, words) < 3) break;
        rows.push_back(add_sample_row(log, words, si.column_map[f], ms, key));
      }
      // damage after that row still fails the file
      if (!in.read_to_end()) {
        log.both(in.error(), true);
        return false;
      }
      si.in[f].reset();
    }
    log.both("Number of samples in " + files[f + k] + ": " +
                 int_text(static_cast<long long>(rows.size())) + "\n",
             true);
  }
  log.both("Number of merged samples: " + int_text(static_cast<long long>(ms.keys.size())) + "\n",
           true);
  return true;
}

bool organise_samples(run_log& log, const std::vector<std::string>& files, size_t k,
                      merged_samples& ms) {
  sample_inputs si;
  if (!read_sample_headers(log, files, k, si)) return false;
  union_columns(si, ms.columns);
  return read_sample_rows(log, files, k, si, ms);
}

// ---- positions ----

struct descriptor {
  std::string snp_id;
  std::string rs_id;
  int32_t position;
  std::string allele1;
  std::string allele2;
};

// One GEN file's line at a position.
struct file_line {
  size_t file;
  uint64_t offset;  // uncompressed offset of the line's first character
  bool reverse;     // its triples are read AA and BB swapped
};

struct position_entry {
  descriptor desc;
  bool left_out = false;         // alleles that match in no orientation
  std::vector<file_line> lines;  // ascending file
};

using position_table = std::map<int32_t, position_entry>;

void record_line(position_table& table, size_t f, uint64_t offset, const gen_head& g, run_log& log,
                 long long& mismatched_alleles) {
  const std::string_view snp = g.snp_id, rs = g.rs_id, a1 = g.allele_a, a2 = g.allele_b;
  const int32_t position = g.position;
  auto it = table.lower_bound(position);
  if (it == table.end() || it->first != position) {
    it = table.emplace_hint(it, position, position_entry());
    it->second.desc =
        descriptor{std::string(snp), std::string(rs), position, std::string(a1), std::string(a2)};
    it->second.lines.push_back(file_line{f, offset, false});
    return;
  }
  position_entry& e = it->second;
  descriptor& d = e.desc;
  if (snp != d.snp_id && snp != d.rs_id) {
    log.both("Mismatched overlap SNP snp_id: " + std::string(snp) + " " + d.snp_id + "\n", true);
    d.snp_id = "-9";
  }
  if (rs != d.rs_id && rs != d.snp_id) {
    log.both("Mismatched overlap SNP rs_id: " + std::string(rs) + " " + d.rs_id + "\n", true);
    d.rs_id = "-9";
  }
  bool reverse = false;
  if (a1 != d.allele1 || a2 != d.allele2) {
    ++mismatched_alleles;
    std::string msg = "Mismatched alleles: " + int_text(position) + " " + std::string(a1) + " " +
                      std::string(a2) + " " + d.allele1 + " " + d.allele2 + " ";
    if (d.allele1 == a2 && d.allele2 == a1) {
      reverse = true;
      msg += "reverse\n";
    } else if (complement(a1) == d.allele1 && complement(a2) == d.allele2) {
      msg += "complement\n";
    } else if (complement(a2) == d.allele1 && complement(a1) == d.allele2) {
      reverse = true;
      msg += "reverse_complement\n";
    } else {
      e.left_out = true;
      msg += "different alleles\n";
    }
    log.both(msg);
  }
  // A repeated position in one file keeps its last line, and that line's own
  // orientation: a flag left from an earlier line would swap a line that
  // needs no swap.
  if (!e.lines.empty() && e.lines.back().file == f)
    e.lines.back() = file_line{f, offset, reverse};
  else
    e.lines.push_back(file_line{f, offset, reverse});
}

// Each GEN file is opened here and stays open for the merge pass.
bool scan_positions(run_log& log, const std::vector<std::string>& files, size_t k,
                    position_table& table, readers& gens) {
  long long mismatched_alleles = 0;
  for (size_t f = 0; f < k; ++f) {
    const std::string& name = files[f];
    log.out(name + "\n", true);
    if (!open_input(log, gens[f], name, true)) return false;
    long long count = 0;
    if (gens[f]) {
      line_reader& in = *gens[f];
      std::string_view line;
      for (uint64_t offset = in.tell(); in.next(line); offset = in.tell()) {
        if (is_blank(line)) continue;
        gen_head g;
        if (const char* bad = read_gen_head(line, g)) {
          log.both(in.bad_line(bad), true);
          return false;
        }
        record_line(table, f, offset, g, log, mismatched_alleles);
        ++count;
      }
      if (in.failed()) {
        log.both(in.error(), true);
        return false;
      }
    }
    log.both("Number of SNPs in " + name + ": " + int_text(count) + "\n", true);
  }
  log.both("Number of SNPs with mismatched alleles: " + int_text(mismatched_alleles) + "\n", true);
  return true;
}

// The merge pass reads the GEN files again from their first lines.
bool rewind_gens(run_log& log, readers& gens) {
  for (const auto& in : gens) {
    if (in && !in->rewind()) {
      log.both(in->error(), true);
      return false;
    }
  }
  return true;
}

// ---- merge pass ----

struct merge_counts {
  long long conflicts = 0;
  long long written = 0;
  std::vector<long long> missing;  // per merged sample
};

// The input text of the one triple a merged sample took at the position at
// hand, kept while it is the text the output would write for its values.
// at points into the line buffer of the reader of the file it came from. It
// stays valid while its position is at hand: each file has one line per
// position (a repeated position keeps its last), so that reader is not read
// again before the next position, whose number lapses the text.
struct slot_text {
  const char* at;          // "a b c"
  unsigned char size;      // at most kTripleCopy
  uint64_t position = 0;   // number of the position it belongs to; 0: none
};

// A kept text goes to the output in one fixed copy of kTripleCopy bytes from
// its start: only a text that fits is kept, and the bytes after it can be
// read because the reader leaves kLineSlack bytes after every line.
constexpr size_t kTripleCopy = 32;
static_assert(kTripleCopy <= line_reader::kLineSlack,
              "a kept text is copied with bytes from after its line");

// What the merge pass shares from one position to the next.
struct merge_pass {
  merge_pass(const std::vector<std::string>& files, const merged_samples& ms, readers& gens,
             double threshold)
      : files(files),
        ms(ms),
        gens(gens),
        threshold(threshold),
        probs(3 * ms.keys.size()),
        texts_of(ms.keys.size()),
        triples(ms.keys.size() * 3 * (1 + double_texts::kPutRoom) + 1 + kTripleCopy) {
    counts.missing.assign(ms.keys.size(), 0);
  }

  const std::vector<std::string>& files;
  const merged_samples& ms;
  readers& gens;
  double threshold;
  std::vector<double> probs;  // AA AB BB per merged sample, at the position at hand
  std::vector<slot_text> texts_of;  // per merged sample
  uint64_t position_number = 0;     // of the position at hand, from 1
  merge_counts counts;
  double_texts texts;
  std::vector<char> triples;  // a blank and a put's room per value, the '\n', a copy's room
};

inline bool is_conflict(const double* q) { return q[0] == -9.0 && q[1] == -9.0 && q[2] == -9.0; }

// Hard-calls the stored triple q when it and the new triple p agree on a
// genotype with at least the threshold; AA first, then AB, BB.
void set_probs_to_1(double* q, const double* p, double threshold) {
  if (p[0] >= threshold && q[0] >= threshold) {
    q[0] = 1, q[1] = 0, q[2] = 0;
  } else if (p[1] >= threshold && q[1] >= threshold) {
    q[0] = 0, q[1] = 1, q[2] = 0;
  } else if (p[2] >= threshold && q[2] >= threshold) {
    q[0] = 0, q[1] = 0, q[2] = 1;
  }
}

// A triple that disagrees with what the slot holds: reported, counted, and
// the slot marked as a conflict. Standard output names the triple's column
// too; the log does not.
[[gnu::noinline]] void conflict(run_log& log, const std::string& key, const descriptor& d, size_t f,
                                size_t s, const double* p, double* q, merge_counts& counts) {
  std::string msg = "Mismatched overlap locus. rs_id: " + d.rs_id +
                    " pos: " + int_text(d.position) + " subject: " + key +
                    " file: " + int_text(static_cast<long long>(f));
  const size_t col_at = msg.size();
  for (const double* t : {p, static_cast<const double*>(q)}) {
    msg += " probs: ";
    append_double(msg, t[0]), msg += ' ', append_double(msg, t[1]), msg += ' ';
    append_double(msg, t[2]);
  }
  msg += '\n';
  std::string with_col = msg;
  with_col.insert(col_at, " col: " + int_text(static_cast<long long>(s)));
  log.out(with_col, true);
  log.log(msg, true);
  ++counts.conflicts;
  q[0] = q[1] = q[2] = -9.0;
}

// What reconcile did to a slot.
enum class slot_change { none, took, other };

// Reconciles triple p (already in the merged orientation), of row s of file
// f, with the slot of merged sample m; the first rule that matches decides.
inline slot_change reconcile(run_log& log, merge_pass& mp, const descriptor& d, size_t f, size_t s,
                             size_t m, const double* p) {
  double* q = mp.probs.data() + 3 * m;
  if (p[0] == 0 && p[1] == 0 && p[2] == 0) return slot_change::none;  // no data for this sample
  if (p[0] == q[0] && p[1] == q[1] && p[2] == q[2]) return slot_change::none;
  const double t = mp.threshold;
  if ((p[0] >= t && q[0] >= t) || (p[1] >= t && q[1] >= t) || (p[2] >= t && q[2] >= t)) {
    set_probs_to_1(q, p, t);
    return slot_change::other;
  }
  if (q[0] == 0 && q[1] == 0 && q[2] == 0) {
    q[0] = p[0], q[1] = p[1], q[2] = p[2];
    return slot_change::took;
  }
  conflict(log, mp.ms.keys[m], d, f, s, p, q, mp.counts);
  return slot_change::other;
}

// After a slot took a triple: keeps the triple's texts when the output can
// copy them as they stand, that is when each is its value's written form
// (written_form) and the three stand one blank apart, in this order, within
// kTripleCopy bytes. Drops them otherwise.
inline void keep_texts(slot_text& st, const std::string_view* text, bool written_form,
                       uint64_t position_number) {
  st.position = 0;
  if (!written_form) return;
  const char* a = text[0].data() + text[0].size();
  const char* b = text[1].data() + text[1].size();
  const char* end = text[2].data() + text[2].size();
  if (text[1].data() == a + 1 && *a == ' ' && text[2].data() == b + 1 && *b == ' ' &&
      end - text[0].data() <= static_cast<ptrdiff_t>(kTripleCopy)) {
    st.at = text[0].data();  // see slot_text for how long it lives
    st.size = static_cast<unsigned char>(end - text[0].data());
    st.position = position_number;
  }
}

// The first field of triple s of the probability fields rest that is not a
// number, counted over the whole line from 1; 0 when the triple is the
// incomplete last one, which is dropped. Looked for once the merge loop has
// left the line, so that the loop carries nothing for it.
[[gnu::cold, gnu::noinline]] size_t word_in_triple(std::string_view rest, size_t s) {
  field_cursor c(rest);
  std::string_view f[3];
  for (size_t i = 0; i < 3 * s; ++i) c.next(f[0]);
  if (!(c.next(f[0]) && c.next(f[1]) && c.next(f[2]))) return 0;
  double v;
  for (size_t i = 0; i < 3; ++i)
    if (!parse_double(f[i], v)) return 6 + 3 * s + i;
  return 0;
}

// "Bad line" for field K of the line at offset, which is not a number. The
// merge pass reaches its lines by offset without counting them: the file is
// read again up to the line, for its number.
[[gnu::cold, gnu::noinline]] std::string not_a_number(line_reader& in, uint64_t offset, size_t k) {
  std::string_view line;
  if (!in.rewind()) return in.error();
  while (in.tell() < offset && in.next(line)) {
  }
  if (in.tell() != offset || !in.next(line)) return in.failed() ? in.error() : in.file_changed();
  return in.bad_line("field " + int_text(static_cast<long long>(k)) + " is not a number");
}

// Reads every file's line at the position and reconciles its triples into
// mp.probs. Triples are read for the SAMPLE file's rows only, up to the end
// of the line; an incomplete last triple is dropped, and any other field
// that is not a number fails the run. Kept out of its caller, as write_position is: each
// loop then has the registers to itself.
[[gnu::noinline]] bool read_position(run_log& log, merge_pass& mp, const position_entry& e) {
  std::fill(mp.probs.begin(), mp.probs.end(), 0.0);
  ++mp.position_number;  // the texts kept for earlier positions lapse
  std::string_view line;
  for (const file_line& fl : e.lines) {
    if (!mp.gens[fl.file]) continue;
    line_reader& in = *mp.gens[fl.file];
    // The scan found a line of this position here; anything else means the
    // file was written to since.
    gen_head h;
    if (!in.seek(fl.offset) || !in.next(line) || read_gen_head(line, h) ||
        h.position != e.desc.position) {
      log.both(in.failed() ? in.error() : in.file_changed(), true);
      return false;
    }
    const std::vector<size_t>& rows = mp.ms.row_sample[fl.file];
    probability_reader r(h.rest);
    size_t s = 0;
    for (; s < rows.size(); ++s) {
      double p[3];
      std::string_view text[3];
      bool written_form = true;  // all three texts as the output writes them
      const char* at = r.position();
      unsigned digit[3];
      if (r.next_digit_triple(digit[0], digit[1], digit[2])) {
        for (int k = 0; k < 3; ++k) {
          p[k] = digit[k];
          text[k] = std::string_view(at + 2 * k, 1);
        }
      } else {
        int got = 0;
        for (probability v; got < 3 && r.next(v); ++got) {
          p[got] = v.value();
          text[got] = r.field();
          written_form &= is_written_form(v, text[got]);
        }
        if (got < 3) break;
      }
      if (fl.reverse) {
        std::swap(p[0], p[2]);
        std::swap(text[0], text[2]);
      }
      // The slot's texts follow its values: kept when it took the triple
      // whole, dropped at any other change.
      const slot_change c = reconcile(log, mp, e.desc, fl.file, s, rows[s], p);
      if (c == slot_change::took)
        keep_texts(mp.texts_of[rows[s]], text, written_form, mp.position_number);
      else if (c == slot_change::other)
        mp.texts_of[rows[s]].position = 0;
    }
    // The triples ended early: at the end of the line, or at a word.
    if (s < rows.size()) {
      if (const size_t k = word_in_triple(h.rest, s)) {
        log.both(not_a_number(in, fl.offset, k), true);
        return false;
      }
    }
  }
  return true;
}

// Appends the merged GEN line of a position to buf, and counts its missing
// genotypes.
[[gnu::noinline]] void write_position(merge_pass& mp, int32_t position, const descriptor& d,
                                      std::string& buf) {
  buf += d.snp_id;
  buf += ' ';
  buf += d.rs_id;
  buf += ' ';
  append_int(buf, position);
  buf += ' ';
  buf += d.allele1;
  buf += ' ';
  buf += d.allele2;
  char* p = mp.triples.data();
  const size_t n = mp.ms.keys.size();
  for (size_t m = 0; m < n; ++m) {
    const double* q = mp.probs.data() + 3 * m;
    if (q[0] <= 0 && q[1] <= 0 && q[2] <= 0) ++mp.counts.missing[m];
    if (is_conflict(q)) {
      std::memcpy(p, " 0 0 0", 6);
      p += 6;
      continue;
    }
    const slot_text& st = mp.texts_of[m];
    if (st.position == mp.position_number) {
      // One fixed copy (see kTripleCopy); triples has room after its end.
      *p++ = ' ';
      std::memcpy(p, st.at, kTripleCopy);
      p += st.size;
      continue;
    }
    for (int i = 0; i < 3; ++i) {
      *p++ = ' ';
      p = mp.texts.put(p, q[i]);
    }
  }
  *p++ = '\n';
  buf.append(mp.triples.data(), static_cast<size_t>(p - mp.triples.data()));
}

// Writes the merged GEN file, one line per position whose alleles match.
bool merge_positions(run_log& log, merge_pass& mp, const position_table& table, text_writer& out) {
  for (const auto& [position, e] : table) {
    if (e.left_out) continue;
    if (!read_position(log, mp, e)) {
      out.close();
      return false;
    }
    write_position(mp, position, e.desc, out.buffer());
    out.maybe_flush();
    if (mp.counts.written % 1000 == 0) log.out(int_text(mp.counts.written) + "\r", true);
    ++mp.counts.written;
  }
  for (const auto& in : mp.gens) {
    if (in && !in->unchanged()) {
      log.both(in->error(), true);
      out.close();
      return false;
    }
  }
  if (!close_output(log, out)) return false;
  log.both("Number of mismatched overlapping loci: " + int_text(mp.counts.conflicts) + "\n", true);
  log.both("Number of merged SNPs: " + int_text(mp.counts.written) + "\n", true);
  return true;
}

// ---- merged SAMPLE file ----

// Its missing column counts the merge's missing genotypes, not the values
// the inputs held; a mismatched cell ("-10") is written as missing.
bool write_merged_samples(run_log& log, const std::string& out_sample, const merged_samples& ms,
                          const std::vector<long long>& missing) {
  text_writer out;
  if (!open_output(log, out, out_sample)) return false;
  const sample_columns& cols = ms.columns;
  for (const std::vector<std::string>* header : {&cols.names, &cols.types}) {
    for (size_t i = 0; i < header->size(); ++i) {
      if (i) out.put(' ');
      out.write((*header)[i]);
    }
    out.put('\n');
  }
  std::string row;
  for (size_t m = 0; m < ms.cells.size(); ++m) {
    const std::vector<std::string>& cells = ms.cells[m];
    row = cells[0];
    for (size_t i = 1; i < cells.size(); ++i) {
      row += ' ';
      if (i == 2)
        append_int(row, missing[m]);
      else
        row += cells[i] == "-10" ? std::string_view("-9") : std::string_view(cells[i]);
    }
    row += '\n';
    out.write(row);
  }
  return close_output(log, out);
}

int merge_pairs(run_log& log, const std::vector<std::string>& files, const std::string& out_gen,
                const std::string& out_sample, double threshold) {
  const size_t k = files.size() / 2;
  // Nothing is created before every input is known to open.
  if (!check_inputs(log, files)) return 1;
  if (!check_outputs(log, merge_outputs(out_gen, out_sample), files)) return 1;

  log.both("Organise Samples...\n");
  merged_samples ms;
  if (!organise_samples(log, files, k, ms)) return 1;

  log.both("Create ordered list of positions...\n");
  position_table table;
  readers gens(k);
  if (!scan_positions(log, files, k, table, gens)) return 1;

  log.both("Open all GEN files for reading...\n");
  if (!rewind_gens(log, gens)) return 1;

  log.both("Merge...\n");
  text_writer out;
  if (!open_output(log, out, out_gen)) return 1;
  merge_pass mp(files, ms, gens, threshold);
  if (!merge_positions(log, mp, table, out)) return 1;
  gens.clear();

  return write_merged_samples(log, out_sample, ms, mp.counts.missing) ? 0 : 1;
}

}  // namespace

int merge(std::vector<std::string>& files, std::string out_gen, std::string out_sample,
          double threshold) {
  run_log log;
  if (!log.open_append()) return 1;
  int status = merge_pairs(log, files, out_gen, out_sample, threshold);
  log.close();
  return status;
}
