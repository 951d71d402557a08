// -P: convert PED/MAP to GEN/SAMPLE.
#pragma once
#include <string>

// Writes the SAMPLE file then the GEN file, or one pair per phenotype value.
// Returns 0, or 1 on a failure it reports.
int ped_to_gen(std::string ped_file, std::string map_file, std::string out_gen,
               std::string out_sample, bool discrete_phenotype, bool family, bool calvora1);
