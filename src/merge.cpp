// -M: joins several GEN/SAMPLE pairs into one pair.
//
// Samples are matched by ID_1 + "_" + ID_2 and SAMPLE columns by name; SNPs
// are matched by position alone. A scan pass records, per position, where each
// GEN file's line starts, so the merge pass can seek straight to it and hold
// only one position's probabilities at a time. The merged SAMPLE file comes
// last, since its missing column counts the merge's missing genotypes.
//
// The stages live beside this file: the merged sample table in
// merge_samples, the position index in merge_positions, the merge pass in
// merge_pass.
#include "merge.h"

#include <cstddef>
#include <string>
#include <vector>

#include "file_names.h"
#include "merge_files.h"
#include "merge_pass.h"
#include "merge_positions.h"
#include "merge_samples.h"
#include "run_log.h"

namespace {

int merge_pairs(run_log& log, const std::vector<std::string>& files, const std::string& out_gen,
                const std::string& out_sample, double threshold) {
  // Nothing is created before every input is known to open.
  if (!check_inputs(log, files)) return 1;
  if (!check_outputs(log, merge_outputs(out_gen, out_sample), files)) return 1;
  // Pair f is GEN file f and SAMPLE file k + f.
  const size_t k = files.size() / 2;
  const std::vector<std::string> gen_files(files.begin(), files.begin() + k);
  const std::vector<std::string> sample_files(files.begin() + k, files.begin() + 2 * k);

  log.both("Organise Samples...\n");
  merged_samples ms;
  if (!organise_samples(log, sample_files, ms)) return 1;

  log.both("Create ordered list of positions...\n");
  position_table table;
  readers gens;
  if (!scan_positions(log, gen_files, table, gens)) return 1;

  log.both("Open all GEN files for reading...\n");
  if (!rewind_gens(log, gens)) return 1;

  log.both("Merge...\n");
  text_writer out;
  if (!open_output(log, out, out_gen, is_gzip_name(out_gen))) return 1;
  std::vector<long long> missing;
  if (!merge_positions(log, table, ms, gens, threshold, out, missing)) return 1;
  gens.clear();

  return write_merged_samples(log, out_sample, ms, missing) ? 0 : 1;
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
