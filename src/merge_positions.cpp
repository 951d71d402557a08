// -M: the position index and the reconciliation of alleles. A position seen
// again is compared with its descriptor: ids that disagree become "-9";
// alleles swapped, complemented or both mark that file's line to be read
// reversed or as it stands, and alleles that match in no orientation leave
// the position out.
#include "merge_positions.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "gen_line.h"
#include "number_format.h"
#include "text.h"

namespace {

// Records file f's line at offset: a new position takes the line's ids and
// alleles, a known one is compared with them.
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

}  // namespace

bool scan_positions(run_log& log, const std::vector<std::string>& gen_files,
                    position_table& table, readers& gens) {
  long long mismatched_alleles = 0;
  gens.resize(gen_files.size());
  for (size_t f = 0; f < gen_files.size(); ++f) {
    const std::string& name = gen_files[f];
    log.out(name + "\n", true);
    if (!open_reader(log, gens[f], name, true)) return false;
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

bool rewind_gens(run_log& log, readers& gens) {
  for (const auto& in : gens) {
    if (in && !in->rewind()) {
      log.both(in->error(), true);
      return false;
    }
  }
  return true;
}
