// -U: prints a SAMPLE file, each line followed by an empty line.
#include "update.h"

#include "run_log.h"

int update_pheno_cov(std::string sample_file, std::string, std::string, bool, bool) {
  run_log out;  // standard output only: this mode has no log
  // No file named reads as an empty one.
  if (sample_file.empty()) {
    out.out("\n", true);
    return 0;
  }
  line_reader in;
  if (!open_input_by_content(out, in, sample_file)) return 1;
  // Each line is printed with its newline and one more. The end is seen only
  // by a read that finds nothing, so a file ending in a newline gives one
  // more empty line, as an empty file gives a single one.
  std::string_view line;
  for (;;) {
    bool got = in.next(line);
    if (in.failed()) break;
    if (!got) {
      out.out("\n", true);
      break;
    }
    // The text stops at a zero byte, as a C string would; a line cut there
    // loses its own newline.
    size_t zero = line.find('\0');
    if (zero != std::string_view::npos) {
      out.out(line.substr(0, zero));
      out.out("\n", true);
    } else {
      out.out(line);
      out.out(in.had_newline() ? "\n\n" : "\n", true);
    }
    if (!in.had_newline()) break;
  }
  if (in.failed()) {
    out.out(in.error(), true);
    return 1;
  }
  return 0;
}
