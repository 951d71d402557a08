// Front end: the option table and parse, the run sequence and log, help, and
// the dispatch to the selected row of the mode table.
#include "trevlin.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

#include "file_names.h"
#include "modes.h"
#include "run_log.h"

// ---- option table ----

namespace {

enum class kind { flag, text, integer, real };

// What a word does: a switch sets one flag; a value option stores its value
// (and may set a "given" flag). lists_after_M marks --g/--s, which turn into
// list collectors once -M has been seen.
struct option_entry {
  const char* word;
  kind k;
  std::string option_values::*text;
  int option_values::*integer;
  double option_values::*real;
  bool option_values::*flag;
  int list;  // 0 none, 1 GEN list, 2 SAMPLE list (after -M)
};

// The mode flags are words of the mode table (modes.h); no word is in both.
using V = option_values;
const option_entry kOptions[] = {
    {"--genotype", kind::text, &V::gen_file, nullptr, nullptr, nullptr, 1},
    {"--g", kind::text, &V::gen_file, nullptr, nullptr, nullptr, 1},
    {"--sample", kind::text, &V::sample_file, nullptr, nullptr, nullptr, 2},
    {"--s", kind::text, &V::sample_file, nullptr, nullptr, nullptr, 2},
    {"--out_genotype", kind::text, &V::out_gen, nullptr, nullptr, nullptr, 0},
    {"--og", kind::text, &V::out_gen, nullptr, nullptr, nullptr, 0},
    {"--out_sample", kind::text, &V::out_sample, nullptr, nullptr, nullptr, 0},
    {"--os", kind::text, &V::out_sample, nullptr, nullptr, nullptr, 0},
    {"--sample_id", kind::text, &V::sample_id_file, nullptr, nullptr, &V::sample_subset, 0},
    {"--sample_excl", kind::text, &V::sample_excl_file, nullptr, nullptr, &V::sample_subset, 0},
    {"--start", kind::integer, nullptr, &V::start, nullptr, &V::range_given, 0},
    {"--end", kind::integer, nullptr, &V::end, nullptr, &V::range_given, 0},
    {"--inclusion", kind::text, &V::inclusion_file, nullptr, nullptr, &V::inclusion_given, 0},
    {"--exclusion", kind::text, &V::exclusion_file, nullptr, nullptr, &V::exclusion_given, 0},
    {"--ped", kind::text, &V::ped_file, nullptr, nullptr, nullptr, 0},
    {"--map", kind::text, &V::map_file, nullptr, nullptr, nullptr, 0},
    {"--phenotype", kind::text, &V::phenotype_column, nullptr, nullptr, nullptr, 0},
    {"--sex", kind::text, &V::sex_column, nullptr, nullptr, nullptr, 0},
    {"--threshold", kind::real, nullptr, nullptr, &V::threshold, nullptr, 0},
    {"--discrete_phenotype", kind::flag, nullptr, nullptr, nullptr, &V::discrete_phenotype, 0},
    {"--strand", kind::text, &V::strand_file, nullptr, nullptr, nullptr, 0},
    {"--excl", kind::flag, nullptr, nullptr, nullptr, &V::excl, 0},
    {"--order", kind::flag, nullptr, nullptr, nullptr, &V::order, 0},
    {"--missing", kind::real, nullptr, nullptr, &V::missing_threshold, &V::missing_given, 0},
    {"--alleles", kind::flag, nullptr, nullptr, nullptr, &V::alleles, 0},
    {"--family", kind::flag, nullptr, nullptr, nullptr, &V::family, 0},
    {"--add_pheno_cov", kind::text, &V::add_pheno_cov_file, nullptr, nullptr, nullptr, 0},
    {"--remove_pheno_cov", kind::text, &V::remove_pheno_cov_file, nullptr, nullptr, nullptr, 0},
    {"--calvora1", kind::flag, nullptr, nullptr, nullptr, &V::calvora1, 0},
    {"--log", kind::text, &V::log_name, nullptr, nullptr, nullptr, 0},
};

const option_entry* find_option(const std::string& word) {
  for (const option_entry& e : kOptions)
    if (word == e.word) return &e;
  return nullptr;
}

// A number option's value must be a number as a whole: a typo such as a
// decimal comma ("0,9", "33,000,000") would otherwise read as a prefix or 0
// and change the run without a word. strtol and strtod keep their own
// reading of what they take in full: leading white space, signs, and for a
// real exponents, hexadecimal, inf and nan.
bool whole_int(const char* text, int& out) {
  if (!*text) return false;
  char* end;
  errno = 0;
  const long x = std::strtol(text, &end, 10);
  if (*end || errno == ERANGE || x < INT32_MIN || x > INT32_MAX) return false;
  out = static_cast<int>(x);
  return true;
}

bool whole_double(const char* text, double& out) {
  if (!*text) return false;
  char* end;
  const double x = std::strtod(text, &end);
  if (*end) return false;
  out = x;
  return true;
}

}  // namespace

parse_status parse_options(int argc, char** argv, option_values& v, std::string& bad_word) {
  int i = 1;
  while (i < argc) {
    std::string word = argv[i];
    const option_entry* e = find_option(word);
    if (!e) {
      if (const mode_row* m = find_mode(word)) {
        v.*(m->selected) = true;
        ++i;
        continue;
      }
      bad_word = word;
      return parse_status::unknown_word;
    }
    if (e->k == kind::flag) {
      v.*(e->flag) = true;
      ++i;
      continue;
    }
    if (e->list != 0 && v.mode_M) {
      // A list runs up to the next word that begins with '-'.
      std::vector<std::string>& list = e->list == 1 ? v.gen_list : v.sample_list;
      int j = i + 1;
      for (; j < argc && argv[j][0] != '-'; ++j) list.push_back(argv[j]);
      i = j;
      continue;
    }
    if (i + 1 >= argc) {
      bad_word = word;
      return parse_status::missing_value;
    }
    const char* value = argv[i + 1];
    bool valid = true;
    switch (e->k) {
      case kind::text: v.*(e->text) = value; break;
      case kind::integer: valid = whole_int(value, v.*(e->integer)); break;
      case kind::real: valid = whole_double(value, v.*(e->real)); break;
      case kind::flag: break;
    }
    if (!valid) {
      bad_word = word + " " + value;
      return parse_status::invalid_value;
    }
    if (e->flag) v.*(e->flag) = true;
    i += 2;
  }
  // GEN names first, then SAMPLE names, each in command-line order.
  v.files = v.gen_list;
  v.files.insert(v.files.end(), v.sample_list.begin(), v.sample_list.end());
  return parse_status::ok;
}

// ---- help ----

namespace {

void usage_title() {
  std::cout << "Trevlin v" TREVLIN_VERSION " - Data Transformation\n";
  std::cout << "Written by the Trevlin developers.\n";
  std::cout << "\nOptions:\n";
}

void log_usage() {
  std::cout << '\t' << "--log FILE\t\t\tName of log file. Use with -S,-G,-P,-M\n";
  std::cout << std::endl;
}

void usage_doc() { std::cout << "See README.md for the full documentation.\n\n"; }

}  // namespace

void usage(std::string topic) {
  if (topic == "all") {
    usage_title();
    for (const mode_row& m : mode_table)
      if (m.in_full_help) m.help();
  } else {
    const mode_row* found = nullptr;
    for (const mode_row& m : mode_table)
      if (topic == m.topic) found = &m;
    if (!found) return;
    usage_title();
    found->help();
  }
  log_usage();
  usage_doc();
  std::cout << std::flush;
}

// ---- run sequence ----

namespace {

// The rows of the modes that the command line gives, in table order.
std::vector<const mode_row*> given_modes(const option_values& v) {
  std::vector<const mode_row*> given;
  for (const mode_row& m : mode_table)
    if (v.*(m.selected)) given.push_back(&m);
  return given;
}

// Whether --log names a file that one of the given modes reads. Every given
// mode counts: this runs before the log exists to report a second mode in.
bool log_is_an_input(const option_values& v, const std::vector<const mode_row*>& given) {
  for (const mode_row* m : given)
    for (const std::string& in : m->inputs(v))
      if (!in.empty() && same_file(log_file, in)) return true;
  return false;
}

[[maybe_unused]] int run_command_line(int argc, char** argv) {
  if (argc < 2) {
    usage("all");
    return 1;
  }
  option_values v;
  std::string bad;
  switch (parse_options(argc, argv, v, bad)) {
    case parse_status::ok: break;
    case parse_status::unknown_word:
      std::cout << "Unknown parameter: " << bad << std::endl;
      return 1;
    case parse_status::missing_value:
      std::cout << "Missing value for parameter: " << bad << std::endl;
      return 1;
    case parse_status::invalid_value:
      std::cout << "Invalid value for parameter: " << bad << std::endl;
      return 1;
  }
  log_file = v.log_name;
  const std::vector<const mode_row*> modes = given_modes(v);
  if (log_is_an_input(v, modes)) {
    std::cout << "Log file is also an input: " << log_file << std::endl;
    return 1;
  }
  run_log log;
  if (!log.open_truncate()) {
    std::cout << "Can't open log file: " << log_file << std::endl;
    return 1;
  }
  std::string echo = argv[0];
  for (int i = 1; i < argc; ++i) {
    echo += ' ';
    echo += argv[i];
  }
  echo += '\n';
  log.both(echo, true);

  if (modes.empty()) {
    log.both("No Subset (-S) or Update (-U) or Convert (-P,-G) or Merge (-M) or Orient (-O) flag defined\n");
    return 1;
  }
  if (modes.size() > 1) {
    log.both("Can only do one of -S,-U,-P,-G,-M,-O in a single run.\n");
    return 1;
  }
  const mode_row& mode = *modes[0];
  switch (mode.check(v, log)) {
    case check_status::ready: break;
    case check_status::failed: return 1;
    case check_status::help:
      usage(mode.topic);
      return 1;
  }
  log.close();
  return mode.call(v);
}

}  // namespace

#ifndef TREVLIN_NO_MAIN
namespace {

bool stdout_ready = false;  // std::cout is set up; before, it must be bypassed

[[noreturn]] void not_enough_memory_by_hand() {
  if (write(1, kNotEnoughMemory.data(), kNotEnoughMemory.size()) < 0) {
  }
  _exit(1);
}

// Memory so short that not even the exception for it could be made ends the
// run here, as a failed allocation does anywhere else. Any other fault keeps
// the abort.
[[noreturn]] void on_terminate() {
  bool memory = true;
  if (std::exception_ptr e = std::current_exception()) {
    try {
      std::rethrow_exception(e);
    } catch (const std::bad_alloc&) {
    } catch (...) {
      memory = false;
    }
  }
  if (!memory) std::abort();
  if (!stdout_ready) not_enough_memory_by_hand();
  _exit(finish_run(out_of_memory()));
}

}  // namespace

int main(int argc, char** argv) {
  std::set_terminate(on_terminate);
  // A closed standard descriptor would be taken by the next file opened (the
  // log included), and messages meant for the terminal would land in it.
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
  // A reader that goes away must not kill the run before its files are done:
  // the failed write is reported at the end instead.
  signal(SIGPIPE, SIG_IGN);
  // A file-size limit makes the write fail and the run say so, instead of a kill
  // that leaves a file cut mid-line without a word.
  signal(SIGXFSZ, SIG_IGN);
  try {
    std::ios::sync_with_stdio(false);
  } catch (const std::bad_alloc&) {
    // Standard output may be left half set up: nothing may be flushed through it.
    not_enough_memory_by_hand();
  }
  stdout_ready = true;
  int status;
  try {
    status = run_command_line(argc, argv);
  } catch (const std::bad_alloc&) {
    status = out_of_memory();
  } catch (const std::length_error&) {
    status = out_of_memory();
  }
  return finish_run(status);
}
#endif
