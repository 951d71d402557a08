// -P: convert PED/MAP to GEN/SAMPLE.
#pragma once
#include <string>
#include <vector>

// The files -P reads, and those it writes without phenotype groups (with
// them, out_gen and out_sample are the bases of each group's names), each in
// the order it checks them.
inline std::vector<std::string> ped_to_gen_inputs(const std::string& ped_file,
                                                  const std::string& map_file) {
  return {ped_file, map_file};
}
inline std::vector<std::string> ped_to_gen_outputs(const std::string& out_gen,
                                                   const std::string& out_sample) {
  return {out_sample, out_gen};
}

// Writes the SAMPLE file then the GEN file, or one pair per phenotype value.
// Returns 0, or 1 on a failure it reports.
int ped_to_gen(std::string ped_file, std::string map_file, std::string out_gen,
               std::string out_sample, bool discrete_phenotype, bool family, bool calvora1);
