// -U on a SAMPLE file, plain or compressed (byte 0, bit 0). Every line comes
// out followed by an empty line.
#include "fuzz_common.h"
#include "update.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::scratch& d = fuzz::dir();
  d.clear();
  const bool gz = data[0] & 1;
  std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  d.write("in.sample", gz ? gzip_bytes(text) : std::string(text));

  fuzz::captured_stdout cap;
  int status = update_pheno_cov(d.file("in.sample"), "", "", true, true);
  std::string out = cap.finish();
  fuzz::check_status(status, out, true);
  // Plain text that starts with the gzip magic is damaged gzip data.
  if (status != 0 && (gz || !is_gzip_data(text))) fuzz::fail("a readable SAMPLE file failed");
  // Text without zero bytes comes back line by line, each with one more '\n'.
  if (text.find('\0') == std::string_view::npos && (!is_gzip_data(text) || gz)) {
    std::string expect;
    size_t at = 0;
    while (at < text.size()) {
      size_t nl = text.find('\n', at);
      if (nl == std::string_view::npos) {
        expect.append(text.substr(at));
        expect += '\n';
        break;
      }
      expect.append(text.substr(at, nl + 1 - at));
      expect += '\n';
      at = nl + 1;
      if (at == text.size()) expect += '\n';
    }
    if (text.empty()) expect = "\n";
    if (out != expect) fuzz::fail("-U output differs from its input");
  }
  return 0;
}
