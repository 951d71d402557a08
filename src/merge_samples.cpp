// -M: the merged sample table. The header lines of every SAMPLE file come
// first, for the union of their columns; then the rows, each sample keyed by
// ID_1 + "_" + ID_2, its cells compared with what earlier files gave.
#include "merge_samples.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "merge_files.h"
#include "number_format.h"
#include "text.h"

namespace {

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
bool read_sample_headers(run_log& log, const std::vector<std::string>& sample_files,
                         sample_inputs& si) {
  const size_t k = sample_files.size();
  si.in.resize(k);
  si.name_lines.resize(k);
  si.type_lines.resize(k);
  for (size_t f = 0; f < k; ++f) {
    if (!open_reader(log, si.in[f], sample_files[f], false)) return false;
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
bool read_sample_rows(run_log& log, const std::vector<std::string>& sample_files,
                      sample_inputs& si, merged_samples& ms) {
  const size_t k = sample_files.size();
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
    log.both("Number of samples in " + sample_files[f] + ": " +
                 int_text(static_cast<long long>(rows.size())) + "\n",
             true);
  }
  log.both("Number of merged samples: " + int_text(static_cast<long long>(ms.keys.size())) + "\n",
           true);
  return true;
}

}  // namespace

bool organise_samples(run_log& log, const std::vector<std::string>& sample_files,
                      merged_samples& ms) {
  sample_inputs si;
  if (!read_sample_headers(log, sample_files, si)) return false;
  union_columns(si, ms.columns);
  return read_sample_rows(log, sample_files, si, ms);
}

// A mismatched cell ("-10") is written as missing.
bool write_merged_samples(run_log& log, const std::string& out_sample, const merged_samples& ms,
                          const std::vector<long long>& missing) {
  text_writer out;
  if (!open_output(log, out, out_sample, is_gzip_name(out_sample))) return false;
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

