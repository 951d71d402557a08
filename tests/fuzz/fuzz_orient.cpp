// -O on a GEN file and a strand file taken from one input. Byte 0 picks the
// options.
#include "fuzz_common.h"
#include "orient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::scratch& d = fuzz::dir();
  d.clear();
  const uint8_t f = data[0];
  const bool gen_gz = f & 1, strand_gz = f & 2, excl = f & 4, order = f & 8;
  auto parts = fuzz::split_parts(
      std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), 2);
  const std::string gen = gen_gz ? "in.gen.gz" : "in.gen";
  const std::string strand = strand_gz ? "strand.gz" : "strand";
  d.write(gen, gen_gz ? gzip_bytes(parts[0]) : std::string(parts[0]));
  d.write(strand, strand_gz ? gzip_bytes(parts[1]) : std::string(parts[1]));

  fuzz::captured_stdout cap;
  int status = orient_to_strand(d.file(gen), d.file(strand), d.file("out.gen"), excl, order);
  std::string out = cap.finish();
  fuzz::check_status(status, out);
  if (status == 0) {
    long long snps = fuzz::printed_count(out, " Output SNPs: ");
    std::string written = d.text(gen_gz ? "out.gen.gz" : "out.gen");
    if (snps < 0 || fuzz::count_lines(written) != static_cast<size_t>(snps))
      fuzz::fail("GEN output lines differ from the printed count");
  }
  return 0;
}
