// -P on a PED file and a MAP file taken from one input. Byte 0 picks the
// options.
#include "fuzz_common.h"
#include "ped_to_gen.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::scratch& d = fuzz::dir();
  d.clear();
  const uint8_t f = data[0];
  const bool gz = f & 1, discrete = f & 2, family = f & 4, calvora1 = f & 8;
  auto parts = fuzz::split_parts(
      std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), 2);
  const std::string sfx = gz ? ".gz" : "";
  d.write("in.ped" + sfx, gz ? gzip_bytes(parts[0]) : std::string(parts[0]));
  d.write("in.map" + sfx, gz ? gzip_bytes(parts[1]) : std::string(parts[1]));

  fuzz::captured_stdout cap;
  int status = ped_to_gen(d.file("in.ped" + sfx), d.file("in.map" + sfx), d.file("out.gen" + sfx),
                          d.file("out.sample" + sfx), discrete, family, calvora1);
  std::string out = cap.finish();
  fuzz::check_status(status, out);
  if (status == 0 && !discrete) {
    long long snps = fuzz::printed_count(out, "Number of SNPs: ");
    long long samples = fuzz::printed_count(out, "Number of samples: ");
    std::string gen = d.text("out.gen" + sfx), sample = d.text("out.sample" + sfx);
    if (snps < 0 || fuzz::count_lines(gen) != static_cast<size_t>(snps))
      fuzz::fail("GEN lines differ from the SNP count");
    if (samples < 0 || fuzz::count_lines(sample) != static_cast<size_t>(samples) + 2)
      fuzz::fail("SAMPLE rows differ from the sample count");
    // Each GEN line: five fields and a triple per sample, single blanks.
    size_t blanks = 0;
    for (char c : gen) blanks += c == ' ';
    if (blanks != static_cast<size_t>(snps) * (4 + 3 * static_cast<size_t>(samples)))
      fuzz::fail("GEN lines do not hold one triple per sample");
  }
  return 0;
}
