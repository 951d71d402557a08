// -G: convert GEN/SAMPLE to PED/MAP, calling genotypes with a threshold.
#pragma once
#include <string>

// Writes the MAP file then the PED file. Returns 0, or 1 on a failure it reports.
int gen_to_ped(std::string gen_file, std::string sample_file, std::string ped_file,
               std::string map_file, std::string phenotype_column, std::string sex_column,
               double threshold, bool alleles);
