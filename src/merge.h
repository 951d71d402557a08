// -M: merge several GEN/SAMPLE pairs into one.
#pragma once
#include <string>
#include <vector>

// -M reads every name of files. The files it writes, in the order it checks them.
inline std::vector<std::string> merge_outputs(const std::string& out_gen,
                                              const std::string& out_sample) {
  return {out_gen, out_sample};
}

// files holds the GEN names, then the SAMPLE names, pair k at k and n+k.
// Returns 0, or 1 on a failure it reports.
int merge(std::vector<std::string>& files, std::string out_gen, std::string out_sample,
          double threshold);
