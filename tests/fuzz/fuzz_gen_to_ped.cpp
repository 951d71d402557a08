// -G on a GEN file and a SAMPLE file taken from one input. Byte 0 picks the
// options, byte 1 the calling threshold.
#include "fuzz_common.h"
#include "gen_to_ped.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  fuzz::scratch& d = fuzz::dir();
  d.clear();
  const uint8_t f = data[0];
  const bool gz = f & 1, alleles = f & 2;
  static const char* kPheno[] = {"-9", "pheno", "sex", "ID_1"};
  static const char* kSex[] = {"-9", "sex", "gender", "pheno"};
  const double threshold = data[1] / 200.0;
  auto parts = fuzz::split_parts(
      std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2), 2);
  const std::string sfx = gz ? ".gz" : "";
  d.write("in.gen" + sfx, gz ? gzip_bytes(parts[0]) : std::string(parts[0]));
  d.write("in.sample" + sfx, gz ? gzip_bytes(parts[1]) : std::string(parts[1]));

  fuzz::captured_stdout cap;
  int status = gen_to_ped(d.file("in.gen" + sfx), d.file("in.sample" + sfx),
                          d.file("out.ped" + sfx), d.file("out.map" + sfx), kPheno[(f >> 2) & 3],
                          kSex[(f >> 4) & 3], threshold, alleles);
  std::string out = cap.finish();
  fuzz::check_status(status, out);
  if (status == 0) {
    long long snps = fuzz::printed_count(out, "Number of SNPs: ");
    long long samples = fuzz::printed_count(out, "Number of samples: ");
    std::string map = d.text("out.map" + sfx), ped = d.text("out.ped" + sfx);
    if (snps < 0 || fuzz::count_lines(map) != static_cast<size_t>(snps))
      fuzz::fail("MAP lines differ from the SNP count");
    if (samples < 0 || fuzz::count_lines(ped) != static_cast<size_t>(samples))
      fuzz::fail("PED lines differ from the sample count");
    // Every PED line: six leading fields and one tab-separated pair per SNP.
    size_t tabs = 0;
    for (char c : ped) tabs += c == '\t';
    if (tabs != static_cast<size_t>(samples) * (5 + static_cast<size_t>(snps)))
      fuzz::fail("PED lines do not hold one pair per SNP");
  }
  return 0;
}
