// -M on two GEN/SAMPLE pairs taken from one input. Byte 0 picks which inputs
// are compressed, byte 1 the threshold.
#include "fuzz_common.h"
#include "merge.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  fuzz::scratch& d = fuzz::dir();
  d.clear();
  const uint8_t f = data[0];
  const double threshold = data[1] / 100.0;
  auto parts = fuzz::split_parts(
      std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2), 4);
  const char* names[4] = {"a.gen", "b.gen", "a.sample", "b.sample"};
  std::vector<std::string> files;
  for (int i = 0; i < 4; ++i) {
    bool gz = f & (1 << i);
    std::string name = std::string(names[i]) + (gz ? ".gz" : "");
    d.write(name, gz ? gzip_bytes(parts[i]) : std::string(parts[i]));
    files.push_back(d.file(name));
  }
  const bool out_gz = f & 16;
  const std::string out_gen = out_gz ? "out.gen.gz" : "out.gen";

  fuzz::captured_stdout cap;
  int status = merge(files, d.file(out_gen), d.file("out.sample"), threshold);
  std::string out = cap.finish();
  fuzz::check_status(status, out);
  if (status == 0) {
    // Every merged line holds five fields and one triple per merged sample.
    std::string sample = d.text("out.sample"), gen = d.text(out_gen);
    size_t rows = fuzz::count_lines(sample);
    if (rows < 2) fuzz::fail("merged SAMPLE file without its header lines");
    size_t fields = 0, lines = 0;
    bool in_field = false;
    for (char c : gen) {
      bool space = c == ' ' || c == '\n';
      if (!space && !in_field) ++fields;
      in_field = !space;
      if (c == '\n') {
        if (fields != 5 + 3 * (rows - 2)) fuzz::fail("merged GEN line with the wrong number of fields");
        fields = 0;
        ++lines;
      }
    }
  }
  return 0;
}
