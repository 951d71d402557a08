// -S on a GEN file, a SAMPLE file and the four ID lists taken from one input.
// Byte 0 picks the options, bytes 1-4 the range and thresholds.
#include "fuzz_common.h"
#include "subset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  fuzz::scratch& d = fuzz::dir();
  d.clear();
  const uint8_t f = data[0];
  const bool gz = f & 1;
  bool range = f & 2, inclusion = f & 4, exclusion = f & 8, missing = f & 16;
  const bool by_id = f & 32, by_excl = f & 64;
  const int start = static_cast<int8_t>(data[1]) * 10, end = static_cast<int8_t>(data[2]) * 10;
  const double threshold = data[3] / 255.0, missing_threshold = data[4] / 255.0;
  auto parts = fuzz::split_parts(
      std::string_view(reinterpret_cast<const char*>(data) + 5, size - 5), 6);
  const char* names[6] = {"in.gen", "in.sample", "ids", "excl_ids", "incl", "excl"};
  std::string file[6];
  for (int i = 0; i < 6; ++i) {
    std::string name = std::string(names[i]) + (gz ? ".gz" : "");
    file[i] = d.file(name);
    d.write(name, gz ? gzip_bytes(parts[i]) : std::string(parts[i]));
  }
  const bool sample_subset = by_id || by_excl;
  if (!range && !inclusion && !exclusion && !missing && !sample_subset) range = true;
  const std::string out_gen = d.file(gz ? "out.gen.gz" : "out.gen");
  const std::string out_sample = d.file(gz ? "out.sample.gz" : "out.sample");

  fuzz::captured_stdout cap;
  int status = subset(file[0], out_gen, inclusion ? file[4] : "", by_id ? file[2] : "",
                      by_excl ? file[3] : "", file[1], out_sample, exclusion ? file[5] : "",
                      range ? start : -1, range ? end : -1, range, inclusion, sample_subset,
                      exclusion, missing, missing_threshold, threshold);
  std::string out = cap.finish();
  fuzz::check_status(status, out);
  if (status == 0) {
    // The count printed is the count written.
    long long snps = fuzz::printed_count(out, "Number of output SNPs: ");
    if (snps < 0 || static_cast<size_t>(snps) != fuzz::count_lines(d.text("out.gen" + std::string(gz ? ".gz" : ""))))
      fuzz::fail("output SNP count differs from the GEN output");
    if (sample_subset) {
      long long rows = fuzz::printed_count(out, "Number of output samples: ");
      if (static_cast<size_t>(rows) + 2 != fuzz::count_lines(d.text("out.sample" + std::string(gz ? ".gz" : ""))))
        fuzz::fail("output sample count differs from the SAMPLE output");
    }
  }
  return 0;
}
