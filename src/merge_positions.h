// -M: the position index. A scan of every GEN file records, per base-pair
// position, the first line's ids and alleles and where each file's line
// starts, so the merge pass can seek straight to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "file_names.h"
#include "merge_files.h"
#include "run_log.h"

// A position's ids and alleles, from the first line seen there; an id that a
// later line contradicts becomes "-9".
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

// Scans the GEN files, one per pair ("" for one not given), into table. Each
// is opened here, into gens (one slot per file), and stays open for the
// merge pass.
bool scan_positions(run_log& log, const std::vector<std::string>& gen_files,
                    position_table& table, readers& gens);

// The merge pass reads the GEN files again from their first lines.
bool rewind_gens(run_log& log, readers& gens);
