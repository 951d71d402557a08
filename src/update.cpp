#include "update.h"

#include <iostream>

#include "streams.h"

int update_pheno_cov(std::string sample_file, std::string, std::string, bool, bool) {
  // No file named reads as an empty one.
  if (sample_file.empty()) {
    std::cout << '\n' << std::flush;
    return 0;
  }
  line_reader in;
  if (!in.open_by_content(sample_file)) {
    std::cout << in.error() << std::flush;
    return 1;
  }
  // Each line is printed with its newline and one more. The end is seen only
  // by a read that finds nothing, so a file ending in a newline gives one
  // more empty line, as an empty file gives a single one.
  std::string_view line;
  for (;;) {
    bool got = in.next(line);
    if (in.failed()) break;
    if (!got) {
      std::cout << '\n' << std::flush;
      break;
    }
    // The text stops at a zero byte, as a C string would.
    size_t zero = line.find('\0');
    if (zero != std::string_view::npos) {
      std::cout.write(line.data(), zero);
      // a line cut at a zero byte loses its own newline
      std::cout << '\n' << std::flush;
    } else {
      std::cout.write(line.data(), line.size());
      if (in.had_newline()) std::cout << '\n';
      std::cout << '\n' << std::flush;
    }
    if (!in.had_newline()) break;
  }
  if (in.failed()) {
    std::cout << in.error() << std::flush;
    return 1;
  }
  return 0;
}
