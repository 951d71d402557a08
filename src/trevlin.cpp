// Front end: the option table and parse, the run sequence and log, the mode
// checks, default output names, help texts and dispatch.
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

#include "gen_to_ped.h"
#include "merge.h"
#include "orient.h"
#include "ped_to_gen.h"
#include "streams.h"
#include "subset.h"
#include "update.h"

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
    {"-S", kind::flag, nullptr, nullptr, nullptr, &V::mode_S, 0},
    {"-P", kind::flag, nullptr, nullptr, nullptr, &V::mode_P, 0},
    {"-G", kind::flag, nullptr, nullptr, nullptr, &V::mode_G, 0},
    {"-M", kind::flag, nullptr, nullptr, nullptr, &V::mode_M, 0},
    {"-O", kind::flag, nullptr, nullptr, nullptr, &V::mode_O, 0},
    {"-U", kind::flag, nullptr, nullptr, nullptr, &V::mode_U, 0},
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

// ---- output names ----

std::string default_output_name(const std::string& input, const std::string& suffix) {
  size_t gz = input.find(".gz");
  if (gz == std::string::npos) return input + suffix;
  return input.substr(0, gz) + suffix + input.substr(gz);
}

std::string force_gz(const std::string& name) {
  return is_gzip_name(name) ? name : name + ".gz";
}

namespace {

// The file name of f without its directory and its last extension (the one
// before ".gz" when f contains ".gz").
std::string merge_stem(const std::string& f) {
  size_t gz = f.find(".gz");
  size_t dot;
  if (gz != std::string::npos)
    dot = gz == 0 ? std::string::npos : f.rfind('.', gz - 1);
  else
    dot = f.rfind('.');
  size_t slash = f.rfind('/');
  size_t from = slash == std::string::npos ? 0 : slash + 1;
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = f.size();
  return f.substr(from, dot - from);
}

std::string directory_of(const std::string& f) {
  size_t slash = f.rfind('/');
  return slash == std::string::npos ? std::string() : f.substr(0, slash + 1);
}

std::string merged_name(int n, std::vector<std::string>& files, int first_stem,
                        const char* extension) {
  std::string result;
  bool compressed = false;
  for (int i = 0; i < n; ++i) {
    if (is_gzip_name(files[i])) compressed = true;
    result += i == 0 ? directory_of(files[0]) : std::string("_");
    result += merge_stem(files[first_stem + i]);
  }
  result += extension;
  if (compressed) result += ".gz";
  return result;
}

}  // namespace

std::string default_gen_output_file(int n, std::vector<std::string>& files) {
  return merged_name(n, files, 0, ".gen");
}

std::string default_gen_output_sample_file(int n, std::vector<std::string>& files) {
  return merged_name(n, files, n, ".sample");
}

// ---- help ----

namespace {

void section(std::initializer_list<const char*> lines) {
  for (const char* l : lines) std::cout << '\t' << l;
  std::cout << std::endl;
}

void usage_title() {
  std::cout << "Trevlin v" TREVLIN_VERSION " - Data Transformation\n";
  std::cout << "Written by the Trevlin developers.\n";
  std::cout << "\nOptions:\n";
}

void subset_usage() {
  section({"-S Subset\n\n",
           "[--g,--genotype] FILE\t\tGEN format genotype file\n",
           "--og,--out_genotype FILE\tOutput file, GEN subset genotype file\n",
           "--sample_id FILE\t\tDefine a subset of samples by sample_id or subject_id\n",
           "--sample_excl FILE\t\tDefine a subset of samples to exclude by sample_id or subject_id\n",
           "--s,--sample FILE\t\tGEN sample file which accompanies the genotype file\n",
           "--os,--out_sample FILE\t\tOutput file, sample file to accompany genotype file\n",
           "--start INTEGER\t\t\tDefine a subset of SNPs in the range start <= position <= end\n",
           "--end INTEGER\t\t\tDefine a subset of SNPs in the range start <= position <= end\n",
           "--inclusion FILE\t\tDefine a subset of SNPs to include by rs_id or snp_id\n",
           "--exclusion FILE\t\tDefine a subset of SNPs to exclude by rs_id or snp_id\n",
           "--missing DOUBLE\t\tDefine a missingness threshold over which to exclude SNPs\n",
           "--threshold DOUBLE\t\tDefine a threshold for calling genotypes for calculating missing data.\n"});
}

void ped_to_gen_usage() {
  section({"-P Convert PED to GEN\n\n",
           "[--ped] FILE\t\t\tPED genotype file\n",
           "[--map] FILE\t\t\tMAP SNP file which accompanies PED file\n",
           "--og,--out_genotype FILE\tGEN genotype file\n",
           "--os,--out_sample FILE\t\tGEN sample file which accompanies the genotype file\n",
           "--discrete_phenotype FLAG\tIf set, output each value of the phenotype in separate data files.\n",
           "--family FLAG\t\t\tIf set, use the family_id from the PED file as ID_1 in the SAMPLE file\n",
           "--calvora1 FLAG\t\t\tIf set, use the CALVORA1 sample file format\n"});
}

void gen_to_ped_usage() {
  section({"-G Convert GEN to PED\n\n",
           "[--g,--genotype] FILE\t\tGEN genotype file\n",
           "[--s,--sample] FILE\t\tGEN sample file which accompanies the genotype file\n",
           "--ped FILE\t\t\tPED genotype file\n",
           "--map FILE\t\t\tMAP snp file which accompanies PED file\n",
           "--phenotype STRING\t\tName of phenotype column in the sample file\n",
           "--sex STRING\t\t\tName of sex column in the sample file\n",
           "--threshold DOUBLE\t\tThreshold for calling genotypes from GEN probability\n",
           "--alleles FLAG\t\t\tIf set, add two columns to MAP file with allele types\n"});
}

void merge_usage() {
  section({"-M Merge\n\n",
           "[--g,--genotype] FILE\t\tList of GEN files to merge\n",
           "[--s,--sample] FILE\t\tList of corresponding SAMPLE files to merge\n",
           "--og,--out_genotype FILE\tGEN genotype file\n",
           "--os,--out_sample FILE\t\tGEN sample file which accompanies the genotype file\n",
           "--threshold DOUBLE\t\tThreshold for merging genotypes from GEN probability\n"});
}

void orient_usage() {
  section({"-O Orient to Strand file\n\n",
           "[--g,--genotype] FILE\t\tGEN genotype file\n",
           "[--strand] FILE\t\t\tList of SNP positions and orientations (+,-)\n",
           "--og,--out_genotype FILE\tGEN genotype file\n",
           "--excl FLAG\t\t\tIf set, then SNPs with no entry in the strand file will be excluded from the output.\n",
           "--order FLAG\t\t\tIf set, then alleles/probabilities will be output in alphabetical order A,C,G,T\n"});
}

void update_usage() {
  section({"-U Update GEN and SAMPLE files\n\n",
           "--g,--genotype FILE\t\tGEN genotype file\n",
           "--s,--sample FILE\t\tList of corresponding SAMPLE files to merge\n",
           "--add_pheno_cov FILE\t\tList of phenotypes to add to sample file\n",
           "--remove_pheno_cov FILE\t\tList of phenotypes to remove from sample file\n"});
}

void log_usage() {
  std::cout << '\t' << "--log FILE\t\t\tName of log file. Use with -S,-G,-P,-M\n";
  std::cout << std::endl;
}

void usage_doc() { std::cout << "See README.md for the full documentation.\n\n"; }

}  // namespace

void usage(std::string topic) {
  struct topic_entry {
    const char* word;
    void (*section)();
  };
  static const topic_entry kTopics[] = {
      {"subset", subset_usage}, {"ped_to_gen", ped_to_gen_usage},
      {"gen_to_ped", gen_to_ped_usage}, {"merge", merge_usage},
      {"orient", orient_usage}, {"update", update_usage},
  };
  if (topic == "all") {
    usage_title();
    subset_usage();
    ped_to_gen_usage();
    gen_to_ped_usage();
    merge_usage();
    orient_usage();
  } else {
    const topic_entry* found = nullptr;
    for (const topic_entry& t : kTopics)
      if (topic == t.word) found = &t;
    if (!found) return;
    usage_title();
    found->section();
  }
  log_usage();
  usage_doc();
  std::cout << std::flush;
}

// ---- run sequence ----

namespace {

// The files each selected mode reads; a --log naming one of them is refused.
std::vector<std::string> named_inputs(const option_values& v) {
  std::vector<std::string> in;
  if (v.mode_S) {
    in = {v.gen_file, v.inclusion_file, v.exclusion_file, v.sample_id_file, v.sample_excl_file};
    if (v.sample_subset) in.push_back(v.sample_file);
  }
  if (v.mode_P) in.insert(in.end(), {v.ped_file, v.map_file});
  if (v.mode_G) in.insert(in.end(), {v.gen_file, v.sample_file});
  if (v.mode_M) in.insert(in.end(), v.files.begin(), v.files.end());
  if (v.mode_O) in.insert(in.end(), {v.gen_file, v.strand_file});
  if (v.mode_U) in.push_back(v.sample_file);
  return in;
}

// Runs the checks of the selected mode and fills its default output names.
// False when a check failed (its message is written).
bool check_mode(option_values& v, run_log& log) {
  if (v.mode_S) {
    if (v.gen_file.empty()) {
      usage("subset");
      return false;
    }
    if (!v.range_given && !v.inclusion_given && !v.sample_subset && !v.exclusion_given &&
        !v.missing_given) {
      log.both("No subset defined.\n");
      return false;
    }
    if (v.sample_subset) {
      if ((v.sample_id_file.empty() && v.sample_excl_file.empty()) || v.sample_file.empty()) {
        log.both("Sample subsets require:\n\tsample_id_file or sample_excl_file\n\tgen_sample_file\n");
        return false;
      }
      if (v.out_sample.empty()) v.out_sample = default_output_name(v.sample_file, ".subset");
    }
    if (v.out_gen.empty()) v.out_gen = default_output_name(v.gen_file, ".subset");
    if (is_gzip_name(v.gen_file)) {
      v.out_gen = force_gz(v.out_gen);
      if (v.sample_subset) v.out_sample = force_gz(v.out_sample);
    }
    if (v.missing_given && v.threshold == -1.0) {
      log.out("Subset. For missingness SNP exclusions must define calling threshold (--threshold).\n");
      return false;
    }
  } else if (v.mode_P) {
    if (v.ped_file.empty() || v.map_file.empty()) {
      usage("ped_to_gen");
      return false;
    }
    if (v.out_gen.empty()) v.out_gen = default_output_name(v.ped_file, ".gen");
    if (v.out_sample.empty()) v.out_sample = default_output_name(v.ped_file, ".sample");
    if (is_gzip_name(v.ped_file)) {
      v.out_gen = force_gz(v.out_gen);
      v.out_sample = force_gz(v.out_sample);
    }
  } else if (v.mode_G) {
    if (v.gen_file.empty() || v.sample_file.empty()) {
      usage("gen_to_ped");
      return false;
    }
    if (v.ped_file.empty()) v.ped_file = default_output_name(v.gen_file, ".ped");
    if (v.map_file.empty()) v.map_file = default_output_name(v.gen_file, ".map");
    if (is_gzip_name(v.gen_file)) {
      v.ped_file = force_gz(v.ped_file);
      v.map_file = force_gz(v.map_file);
    }
    if (v.threshold < 0.0) v.threshold = 0.9;
  } else if (v.mode_M) {
    if (v.gen_list.empty()) {
      log.both("No GEN files defined.\n");
      return false;
    }
    if (v.sample_list.empty()) {
      log.both("No SAMPLE files defined.\n");
      return false;
    }
    if (v.gen_list.size() != v.sample_list.size()) {
      log.both("Different number of GEN and SAMPLE files defined.\n");
      return false;
    }
    int n = static_cast<int>(v.gen_list.size());
    if (v.out_gen.empty()) v.out_gen = default_gen_output_file(n, v.files);
    if (v.out_sample.empty()) v.out_sample = default_gen_output_sample_file(n, v.files);
    if (v.threshold < 0.0) v.threshold = 2.0;
  } else if (v.mode_O) {
    if (v.gen_file.empty() || v.strand_file.empty()) {
      usage("orient");
      return false;
    }
    if (v.out_gen.empty()) v.out_gen = default_output_name(v.gen_file, ".orient");
  }
  return true;
}

int dispatch(option_values& v) {
  if (v.mode_S)
    return subset(v.gen_file, v.out_gen, v.inclusion_file, v.sample_id_file, v.sample_excl_file,
                  v.sample_file, v.out_sample, v.exclusion_file, v.start, v.end, v.range_given,
                  v.inclusion_given, v.sample_subset, v.exclusion_given, v.missing_given,
                  v.missing_threshold, v.threshold);
  if (v.mode_P)
    return ped_to_gen(v.ped_file, v.map_file, v.out_gen, v.out_sample, v.discrete_phenotype,
                      v.family, v.calvora1);
  if (v.mode_G)
    return gen_to_ped(v.gen_file, v.sample_file, v.ped_file, v.map_file, v.phenotype_column,
                      v.sex_column, v.threshold, v.alleles);
  if (v.mode_M) return merge(v.files, v.out_gen, v.out_sample, v.threshold);
  if (v.mode_O) return orient_to_strand(v.gen_file, v.strand_file, v.out_gen, v.excl, v.order);
  return update_pheno_cov(v.sample_file, v.add_pheno_cov_file, v.remove_pheno_cov_file, true,
                          true);
}

[[maybe_unused]] int run(int argc, char** argv) {
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
  for (const std::string& in : named_inputs(v)) {
    if (!in.empty() && same_file(log_file, in)) {
      std::cout << "Log file is also an input: " << log_file << std::endl;
      return 1;
    }
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

  int modes = v.mode_S + v.mode_P + v.mode_G + v.mode_M + v.mode_O + v.mode_U;
  if (modes == 0) {
    log.both("No Subset (-S) or Update (-U) or Convert (-P,-G) or Merge (-M) or Orient (-O) flag defined\n");
    return 1;
  }
  if (modes > 1) {
    log.both("Can only do one of -S,-U,-P,-G,-M,-O in a single run.\n");
    return 1;
  }
  if (!check_mode(v, log)) return 1;
  log.close();
  return dispatch(v);
}

}  // namespace

#ifndef TREVLIN_NO_MAIN
namespace {

bool stdout_ready = false;  // std::cout is set up; before, it must be bypassed

[[noreturn]] void not_enough_memory_by_hand() {
  static const char kMessage[] = "Not enough memory\n";
  if (write(1, kMessage, sizeof kMessage - 1) < 0) {
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
    status = run(argc, argv);
  } catch (const std::bad_alloc&) {
    status = out_of_memory();
  } catch (const std::length_error&) {
    status = out_of_memory();
  }
  return finish_run(status);
}
#endif
