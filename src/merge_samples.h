// -M: the merged sample table, built from every SAMPLE file before the GEN
// files are read, and the merged SAMPLE file written from it last.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "file_names.h"
#include "run_log.h"

struct sample_columns {
  std::vector<std::string> names;  // output columns, "ID_1" "ID_2" "missing" first
  std::vector<std::string> types;
};

// Samples are matched by ID_1 + "_" + ID_2, columns by name; both keep the
// order of first appearance.
struct merged_samples {
  sample_columns columns;
  std::map<std::string, size_t> index;  // sample key -> merged sample index
  std::vector<std::string> keys;        // in order of first appearance
  std::vector<std::vector<std::string>> cells;
  // Per pair: the merged sample index of each data row of its SAMPLE file.
  std::vector<std::vector<size_t>> row_sample;
};

// Reads the SAMPLE files, one per pair ("" for one not given), into ms.
bool organise_samples(run_log& log, const std::vector<std::string>& sample_files,
                      merged_samples& ms);

// Its missing column counts the merge's missing genotypes (missing, per
// merged sample), not the values the inputs held.
bool write_merged_samples(run_log& log, const std::string& out_sample, const merged_samples& ms,
                          const std::vector<long long>& missing);
