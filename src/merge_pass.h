// -M: the merge pass, which writes the merged GEN file from the position
// index, re-reading each GEN file's line at every position.
#pragma once

#include <string>
#include <vector>

#include "file_names.h"
#include "merge_files.h"
#include "merge_positions.h"
#include "merge_samples.h"
#include "run_log.h"

// Writes the merged GEN file to out, open, from gens, open and rewound: one
// line per position whose alleles match, threshold deciding when two triples
// that disagree are one call. Closes out. Fills missing with the positions
// at which each merged sample is missing.
bool merge_positions(run_log& log, const position_table& table, const merged_samples& ms,
                     readers& gens, double threshold, text_writer& out,
                     std::vector<long long>& missing);
