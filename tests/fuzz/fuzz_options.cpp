// The command-line parse and the default output names, on words separated by
// zero bytes.
#include <cstring>

#include "fuzz_common.h"
#include "modes.h"
#include "trevlin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> words = {"trevlin"};
  size_t at = 0;
  while (at <= text.size() && words.size() < 64) {
    size_t z = text.find('\0', at);
    if (z == std::string::npos) z = text.size();
    words.push_back(text.substr(at, z - at));
    at = z + 1;
  }
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  option_values v;
  std::string bad;
  parse_status st = parse_options(static_cast<int>(words.size()), argv.data(), v, bad);
  if (st != parse_status::ok) {
    if (bad.empty() && st == parse_status::unknown_word) {
      // An empty word matches no option and is reported as itself.
      bool has_empty = false;
      for (size_t i = 1; i < words.size(); ++i) has_empty |= words[i].empty();
      if (!has_empty) fuzz::fail("unknown word without the word");
    }
    return 0;
  }
  if (v.files.size() != v.gen_list.size() + v.sample_list.size())
    fuzz::fail("merge list is not GEN names then SAMPLE names");
  for (const std::string& name : {v.gen_file, v.sample_file, v.ped_file}) {
    std::string out = default_output_name(name, ".subset");
    if (out.size() != name.size() + 7) fuzz::fail("default name lost text");
    if (force_gz(out).find(".gz") == std::string::npos) fuzz::fail("force_gz without .gz");
  }
  if (v.mode_M && !v.gen_list.empty() && v.gen_list.size() == v.sample_list.size()) {
    int n = static_cast<int>(v.gen_list.size());
    default_gen_output_file(n, v.files);
    default_gen_output_sample_file(n, v.files);
  }
  return 0;
}
