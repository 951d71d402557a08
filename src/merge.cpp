// -M: joins several GEN/SAMPLE pairs into one pair.
//
// Samples are matched by ID_1 + "_" + ID_2 and SAMPLE columns by name; SNPs
// are matched by position alone. A scan pass records, per position, where each
// GEN file's line starts, so the merge pass can seek straight to it and hold
// only one position's probabilities at a time.
#include "merge.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gen_line.h"
#include "streams.h"
#include "text.h"

namespace {

// ---- samples ----

struct sample_columns {
  std::vector<std::string> names;  // output columns, "ID_1" "ID_2" "missing" first
  std::vector<std::string> types;
};

struct merged_samples {
  sample_columns columns;
  std::map<std::string, size_t> index;       // sample key -> merged sample index
  std::vector<std::string> keys;             // in order of first appearance
  std::vector<std::vector<std::string>> cells;
  // Per pair: the merged sample index of each data row of its SAMPLE file.
  std::vector<std::vector<size_t>> row_sample;
};

// Opens a SAMPLE file; an empty name is a file that was not given and reads
// as empty.
bool open_sample(run_log& log, line_reader& in, const std::string& name, bool& empty) {
  empty = false;
  if (in.open(name, is_gzip_name(name))) return true;
  if (name.empty()) {
    empty = true;
    return true;
  }
  log.both(in.error(), true);
  return false;
}

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

bool organise_samples(run_log& log, const std::vector<std::string>& files, size_t k,
                      merged_samples& ms) {
  // Header lines of every pair first: the columns must be known before any row.
  // Each file stays open from its header lines to its rows; none is given.
  std::vector<std::string> name_lines(k), type_lines(k);
  std::vector<std::unique_ptr<line_reader>> readers(k);
  for (size_t f = 0; f < k; ++f) {
    readers[f] = std::make_unique<line_reader>();
    bool empty;
    if (!open_sample(log, *readers[f], files[f + k], empty)) return false;
    if (empty) {
      readers[f].reset();
      continue;
    }
    if (!header_line(log, *readers[f], name_lines[f]) ||
        !header_line(log, *readers[f], type_lines[f]))
      return false;
  }

  // Union of the columns: a name typed "P" is a phenotype, any other type a
  // covariate; a name may be both when files disagree.
  std::vector<std::string> cov_names, cov_types, pheno_names;
  std::map<std::string, size_t, std::less<>> cov_at, pheno_at;
  std::vector<std::string_view> names, types;
  for (size_t f = 0; f < k; ++f) {
    split_fields(name_lines[f], names);
    split_fields(type_lines[f], types);
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
  sample_columns& cols = ms.columns;
  cols.names = {"ID_1", "ID_2", "missing"};
  cols.types = {"0", "0", "0"};
  cols.names.insert(cols.names.end(), cov_names.begin(), cov_names.end());
  cols.types.insert(cols.types.end(), cov_types.begin(), cov_types.end());
  cols.names.insert(cols.names.end(), pheno_names.begin(), pheno_names.end());
  cols.types.insert(cols.types.end(), pheno_names.size(), "P");
  const size_t width = cols.names.size();

  // Per pair, data column 3 + i goes to the output column of the i-th name;
  // a name in both lists takes its phenotype column.
  std::vector<std::vector<size_t>> column_map(k);
  for (size_t f = 0; f < k; ++f) {
    split_fields(name_lines[f], names);
    for (size_t i = 3; i < names.size(); ++i) {
      auto p = pheno_at.find(names[i]);
      column_map[f].push_back(p != pheno_at.end() ? 3 + nc + p->second
                                                  : 3 + cov_at.find(names[i])->second);
    }
  }

  ms.row_sample.assign(k, {});
  std::vector<std::string_view> words;
  std::string key, msg;
  for (size_t f = 0; f < k; ++f) {
    const std::string& name = files[f + k];
    std::vector<size_t>& rows = ms.row_sample[f];
    if (readers[f]) {
      line_reader& in = *readers[f];
      std::string_view line;
      while (!in.failed() && in.next(line)) {
        // a row without its two ids and missing value ends the file
        if (split_fields(line, words) < 3) break;
        key.assign(words[0].data(), words[0].size());
        key += '_';
        key.append(words[1].data(), words[1].size());
        auto it = ms.index.find(key);
        if (it == ms.index.end()) {
          it = ms.index.emplace(key, ms.keys.size()).first;
          ms.keys.push_back(key);
          ms.cells.emplace_back(width, "-9");
          std::vector<std::string>& row = ms.cells.back();
          row[0].assign(words[0]);
          row[1].assign(words[1]);
          row[2].assign(words[2]);
        }
        std::vector<std::string>& row = ms.cells[it->second];
        // words beyond the file's column names have no column: ignored
        size_t data_columns = std::min(words.size() - 3, column_map[f].size());
        for (size_t i = 0; i < data_columns; ++i) {
          std::string& cell = row[column_map[f][i]];
          std::string_view word = words[3 + i];
          if (cell == "-9") {
            cell.assign(word);
          } else if (cell != word) {
            msg = "Mismatch overlap in samples:  " + cell + " ";
            msg.append(word.data(), word.size());
            msg += '\n';
            log.both(msg, true);
            cell = "-10";
          }
        }
        rows.push_back(it->second);
      }
      if (in.failed()) {
        log.both(in.error(), true);
        return false;
      }
      readers[f].reset();
    }
    log.both("Number of samples in " + name + ": " + int_text(static_cast<long long>(rows.size())) +
                 "\n",
             true);
  }
  log.both("Number of merged samples: " + int_text(static_cast<long long>(ms.keys.size())) + "\n",
           true);
  return true;
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
  bool left_out = false;  // alleles that match in no orientation
  std::vector<file_line> lines;  // ascending file
};

using position_table = std::map<int32_t, position_entry>;

std::string_view complement(std::string_view a) {
  if (a == "A") return "T";
  if (a == "C") return "G";
  if (a == "G") return "C";
  if (a == "T") return "A";
  return {};  // never equals an allele word
}

// Opens a GEN file by content; an empty name is a file that was not given.
bool open_gen(run_log& log, line_reader& in, const std::string& name, bool& empty) {
  empty = false;
  if (in.open_by_content(name)) return true;
  if (name.empty()) {
    empty = true;
    return true;
  }
  log.both(in.error(), true);
  return false;
}

void record_line(position_table& table, size_t f, uint64_t offset, std::string_view snp,
                 std::string_view rs, int32_t position, std::string_view a1, std::string_view a2,
                 run_log& log, long long& mismatched_alleles) {
  auto it = table.lower_bound(position);
  if (it == table.end() || it->first != position) {
    it = table.emplace_hint(it, position, position_entry());
    it->second.desc = descriptor{std::string(snp), std::string(rs), position, std::string(a1),
                                 std::string(a2)};
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

// Each GEN file is opened here and stays open for the merge pass; a null
// reader is a file that was not given.
bool scan_positions(run_log& log, const std::vector<std::string>& files, size_t k,
                    position_table& table, std::vector<std::unique_ptr<line_reader>>& gens) {
  log.both("Create ordered list of positions...\n");
  long long mismatched_alleles = 0;
  for (size_t f = 0; f < k; ++f) {
    const std::string& name = files[f];
    log.out(name + "\n", true);
    gens[f] = std::make_unique<line_reader>();
    line_reader& in = *gens[f];
    bool empty;
    if (!open_gen(log, in, name, empty)) return false;
    long long count = 0;
    std::string_view line;
    while (!empty) {
      uint64_t offset = in.tell();
      if (!in.next(line)) break;
      if (is_blank(line)) continue;
      gen_head g;
      if (const char* bad = read_gen_head(line, g)) {
        log.both(in.bad_line(bad), true);
        return false;
      }
      record_line(table, f, offset, g.snp_id, g.rs_id, g.position, g.allele_a, g.allele_b, log,
                  mismatched_alleles);
      ++count;
    }
    if (!empty && in.failed()) {
      log.both(in.error(), true);
      return false;
    }
    if (empty) gens[f].reset();
    log.both("Number of SNPs in " + name + ": " + int_text(count) + "\n", true);
  }
  log.both("Number of SNPs with mismatched alleles: " + int_text(mismatched_alleles) + "\n", true);
  return true;
}

// ---- merge pass ----

// Probability texts repeat a lot: short ones are kept with their values.
class probability_values {
 public:
  bool parse(std::string_view f, double& v) {
    if (f.size() > 7) return parse_double(f, v);
    // the bytes and the length: no two texts share a key
    uint64_t key = static_cast<uint64_t>(f.size()) << 56;
    for (size_t i = 0; i < f.size(); ++i)
      key |= static_cast<uint64_t>(static_cast<unsigned char>(f[i])) << (8 * i);
    slot& s = slots_[(key * 0x9E3779B97F4A7C15ull) >> (64 - kBits)];
    if (s.key == key) {
      v = s.value;
      return true;
    }
    if (!parse_double(f, v)) return false;
    s.key = key;
    s.value = v;
    return true;
  }

 private:
  static constexpr int kBits = 12;
  struct slot {
    uint64_t key = 0;
    double value = 0;
  };
  std::vector<slot> slots_ = std::vector<slot>(size_t(1) << kBits);
};

// Formats doubles as the default stream format does. Probabilities repeat a
// lot, so recent texts are kept by bit pattern.
class double_texts {
 public:
  // The longest text is 13 characters ("-1.23457e-308"); p needs 16 free.
  char* put(char* p, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    slot& s = slots_[(bits * 0x9E3779B97F4A7C15ull) >> (64 - kBits)];
    if (!s.used || s.bits != bits) {
      auto r = std::to_chars(s.text, s.text + sizeof s.text, v, std::chars_format::general, 6);
      s.used = true;
      s.bits = bits;
      s.size = static_cast<unsigned char>(r.ptr - s.text);
    }
    std::memcpy(p, s.text, sizeof s.text);
    return p + s.size;
  }

 private:
  static constexpr int kBits = 12;
  struct slot {
    uint64_t bits = 0;
    char text[16];
    unsigned char size = 0;
    bool used = false;
  };
  std::vector<slot> slots_ = std::vector<slot>(size_t(1) << kBits);
};

inline bool is_conflict(const double* q) { return q[0] == -9.0 && q[1] == -9.0 && q[2] == -9.0; }

// Hard-calls the stored triple at index when it and the new triple a, b, c
// agree on a genotype with at least the threshold; AA first, then AB, BB.
void set_probs_to_1(std::vector<double>& probs, size_t index, double a, double b, double c,
                    double threshold) {
  double* q = probs.data() + index;
  if (a >= threshold && q[0] >= threshold) {
    q[0] = 1, q[1] = 0, q[2] = 0;
  } else if (b >= threshold && q[1] >= threshold) {
    q[0] = 0, q[1] = 1, q[2] = 0;
  } else if (c >= threshold && q[2] >= threshold) {
    q[0] = 0, q[1] = 0, q[2] = 1;
  }
}

struct merge_counts {
  long long conflicts = 0;
  long long written = 0;
  std::vector<long long> missing;  // per merged sample
};

// A triple that disagrees with what the slot holds: reported, counted, and
// the slot marked as a conflict. Standard output names the triple's column
// too; the log does not.
[[gnu::noinline]] void conflict(run_log& log, const std::string& key, const descriptor& d,
                                size_t f, size_t s, const double* p, double* q,
                                merge_counts& counts) {
  std::string msg = "Mismatched overlap locus. rs_id: " + d.rs_id + " pos: " +
                    int_text(d.position) + " subject: " + key +
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

// Reconciles triple p (already in the merged orientation) with the slot of
// merged sample m; the first rule that matches decides.
inline void reconcile(const double* p, size_t m, double threshold, std::vector<double>& probs,
                      run_log& log, const std::string& key, const descriptor& d, size_t f,
                      size_t s, merge_counts& counts) {
  double* q = probs.data() + 3 * m;
  if (p[0] == 0 && p[1] == 0 && p[2] == 0) return;  // the file has no data for this sample
  if (p[0] == q[0] && p[1] == q[1] && p[2] == q[2]) return;
  if ((p[0] >= threshold && q[0] >= threshold) || (p[1] >= threshold && q[1] >= threshold) ||
      (p[2] >= threshold && q[2] >= threshold)) {
    set_probs_to_1(probs, 3 * m, p[0], p[1], p[2], threshold);
    return;
  }
  if (q[0] == 0 && q[1] == 0 && q[2] == 0) {
    q[0] = p[0], q[1] = p[1], q[2] = p[2];
    return;
  }
  conflict(log, key, d, f, s, p, q, counts);
}

}  // namespace

int merge(std::vector<std::string>& files, std::string out_gen, std::string out_sample,
          double threshold) {
  const size_t k = files.size() / 2;
  run_log log;
  if (!log.open_append()) return 1;
  // Nothing is created before every input is known to open.
  if (!check_inputs(log, files)) return 1;
  if (!check_outputs(log, {out_gen, out_sample}, files)) return 1;

  log.both("Organise Samples...\n");
  merged_samples ms;
  if (!organise_samples(log, files, k, ms)) return 1;
  const size_t n_samples = ms.keys.size();

  position_table table;
  std::vector<std::unique_ptr<line_reader>> gens(k);
  if (!scan_positions(log, files, k, table, gens)) return 1;

  log.both("Open all GEN files for reading...\n");
  for (const auto& in : gens) {
    if (in && !in->rewind()) {
      log.both(in->error(), true);
      return 1;
    }
  }

  log.both("Merge...\n");
  text_writer out;
  if (!out.open(out_gen, is_gzip_name(out_gen))) {
    log.both(out.error(), true);
    return 1;
  }
  merge_counts counts;
  counts.missing.assign(n_samples, 0);
  std::vector<double> probs(3 * n_samples);
  std::string_view line, field;
  std::string& buf = out.buffer();
  double_texts texts;
  probability_values values;
  // room for a line's triples: a blank and 16 bytes per value
  std::vector<char> triples(n_samples * 3 * 17 + 1);
  for (const auto& [position, e] : table) {
    if (e.left_out) continue;
    std::fill(probs.begin(), probs.end(), 0.0);
    for (const file_line& fl : e.lines) {
      if (!gens[fl.file]) continue;
      line_reader& in = *gens[fl.file];
      if (!in.seek(fl.offset) || !in.next(line)) {
        log.both(in.failed() ? in.error() : "Can't read " + files[fl.file] + "\n", true);
        out.close();
        return 1;
      }
      field_cursor c(line);
      bool fields = true;
      for (int i = 0; i < 5 && fields; ++i) fields = c.next(field);
      if (!fields) continue;
      // triples beyond the SAMPLE file's rows have no sample: not read
      const std::vector<size_t>& rows = ms.row_sample[fl.file];
      double p[3];
      const char* at = c.rest.data();
      const char* const end = at + c.rest.size();
      for (size_t s = 0; s < rows.size(); ++s) {
        int got = 0;
        while (got < 3) {
          // "0" and "0.953" shapes are read in place; others through the cache.
          while (at < end && is_space(*at)) ++at;
          uint64_t m;
          unsigned decimals;
          if (const char* q = scan_common_field(at, end, m, decimals)) {
            p[got++] = short_decimal_value(m, decimals, false);
            at = q;
            continue;
          }
          c.rest = std::string_view(at, static_cast<size_t>(end - at));
          if (!c.next(field) || !values.parse(field, p[got])) break;
          at = field.data() + field.size();
          ++got;
        }
        if (got < 3) break;  // an incomplete triple or a word that is no number
        if (fl.reverse) std::swap(p[0], p[2]);
        reconcile(p, rows[s], threshold, probs, log, ms.keys[rows[s]], e.desc, fl.file, s,
                  counts);
      }
    }

    const descriptor& d = e.desc;
    buf += d.snp_id;
    buf += ' ';
    buf += d.rs_id;
    buf += ' ';
    append_int(buf, position);
    buf += ' ';
    buf += d.allele1;
    buf += ' ';
    buf += d.allele2;
    char* p = triples.data();
    for (size_t m = 0; m < n_samples; ++m) {
      const double* q = probs.data() + 3 * m;
      if (q[0] <= 0 && q[1] <= 0 && q[2] <= 0) ++counts.missing[m];
      if (is_conflict(q)) {
        std::memcpy(p, " 0 0 0", 6);
        p += 6;
        continue;
      }
      for (int i = 0; i < 3; ++i) {
        *p++ = ' ';
        p = texts.put(p, q[i]);
      }
    }
    *p++ = '\n';
    buf.append(triples.data(), static_cast<size_t>(p - triples.data()));
    out.maybe_flush();
    if (counts.written % 1000 == 0) log.out(int_text(counts.written) + "\r", true);
    ++counts.written;
  }
  if (!close_output(log, out)) return 1;
  log.both("Number of mismatched overlapping loci: " + int_text(counts.conflicts) + "\n", true);
  log.both("Number of merged SNPs: " + int_text(counts.written) + "\n", true);
  gens.clear();

  // The merged SAMPLE file comes last: its missing column counts the merge's
  // missing genotypes, not the values the inputs held.
  text_writer sample_out;
  if (!sample_out.open(out_sample, is_gzip_name(out_sample))) {
    log.both(sample_out.error(), true);
    return 1;
  }
  const sample_columns& cols = ms.columns;
  for (const std::vector<std::string>* header : {&cols.names, &cols.types}) {
    for (size_t i = 0; i < header->size(); ++i) {
      if (i) sample_out.put(' ');
      sample_out.write((*header)[i]);
    }
    sample_out.put('\n');
  }
  std::string row;
  for (size_t m = 0; m < n_samples; ++m) {
    const std::vector<std::string>& cells = ms.cells[m];
    row = cells[0];
    for (size_t i = 1; i < cells.size(); ++i) {
      row += ' ';
      if (i == 2)
        append_int(row, counts.missing[m]);
      else
        row += cells[i] == "-10" ? std::string_view("-9") : std::string_view(cells[i]);
    }
    row += '\n';
    sample_out.write(row);
  }
  if (!close_output(log, sample_out)) return 1;
  log.close();
  return 0;
}
