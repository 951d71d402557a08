// The mode table: one row per mode, with its checks and default output
// names, its help section, the files it reads and writes, and its call.
#include "modes.h"

#include <iostream>

#include "file_names.h"
#include "gen_to_ped.h"
#include "merge.h"
#include "orient.h"
#include "ped_to_gen.h"
#include "run_log.h"
#include "subset.h"
#include "update.h"

// ---- default output names ----

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

namespace {

// ---- help sections ----

void section(std::initializer_list<const char*> lines) {
  for (const char* l : lines) std::cout << '\t' << l;
  std::cout << std::endl;
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

// ---- checks ----

using V = option_values;

// A mode's checks run in the order written; the first that fails ends the run.
check_status check_subset(V& v, run_log& log) {
  if (v.gen_file.empty()) return check_status::help;
  if (!v.range_given && !v.inclusion_given && !v.sample_subset && !v.exclusion_given &&
      !v.missing_given) {
    log.both("No subset defined.\n");
    return check_status::failed;
  }
  if (v.sample_subset) {
    if ((v.sample_id_file.empty() && v.sample_excl_file.empty()) || v.sample_file.empty()) {
      log.both("Sample subsets require:\n\tsample_id_file or sample_excl_file\n\tgen_sample_file\n");
      return check_status::failed;
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
    return check_status::failed;
  }
  return check_status::ready;
}

// Two outputs named after the main input unless given, and compressed when
// it is, their names saying so.
void name_outputs(const std::string& input, std::string& a, const char* a_suffix, std::string& b,
                  const char* b_suffix) {
  if (a.empty()) a = default_output_name(input, a_suffix);
  if (b.empty()) b = default_output_name(input, b_suffix);
  if (is_gzip_name(input)) {
    a = force_gz(a);
    b = force_gz(b);
  }
}

check_status check_ped_to_gen(V& v, run_log&) {
  if (v.ped_file.empty() || v.map_file.empty()) return check_status::help;
  name_outputs(v.ped_file, v.out_gen, ".gen", v.out_sample, ".sample");
  return check_status::ready;
}

check_status check_gen_to_ped(V& v, run_log&) {
  if (v.gen_file.empty() || v.sample_file.empty()) return check_status::help;
  name_outputs(v.gen_file, v.ped_file, ".ped", v.map_file, ".map");
  if (v.threshold < 0.0) v.threshold = 0.9;
  return check_status::ready;
}

check_status check_merge(V& v, run_log& log) {
  if (v.gen_list.empty()) {
    log.both("No GEN files defined.\n");
    return check_status::failed;
  }
  if (v.sample_list.empty()) {
    log.both("No SAMPLE files defined.\n");
    return check_status::failed;
  }
  if (v.gen_list.size() != v.sample_list.size()) {
    log.both("Different number of GEN and SAMPLE files defined.\n");
    return check_status::failed;
  }
  int n = static_cast<int>(v.gen_list.size());
  if (v.out_gen.empty()) v.out_gen = default_gen_output_file(n, v.files);
  if (v.out_sample.empty()) v.out_sample = default_gen_output_sample_file(n, v.files);
  if (v.threshold < 0.0) v.threshold = 2.0;
  return check_status::ready;
}

check_status check_orient(V& v, run_log&) {
  if (v.gen_file.empty() || v.strand_file.empty()) return check_status::help;
  // The ".gz" that a compressed GEN input asks for is added by -O itself.
  if (v.out_gen.empty()) v.out_gen = default_output_name(v.gen_file, ".orient");
  return check_status::ready;
}

// -U takes whatever it is given.
check_status no_checks(V&, run_log&) { return check_status::ready; }

}  // namespace

// ---- the table ----

const mode_row mode_table[] = {
    {"-S", &V::mode_S, "subset", subset_usage, true, check_subset,
     [](const V& v) {
       return subset_inputs(v.gen_file, v.inclusion_file, v.sample_id_file, v.sample_excl_file,
                            v.exclusion_file, v.sample_file, v.sample_subset);
     },
     [](const V& v) { return subset_outputs(v.out_gen, v.out_sample, v.sample_subset); },
     [](V& v) {
       return subset(v.gen_file, v.out_gen, v.inclusion_file, v.sample_id_file,
                     v.sample_excl_file, v.sample_file, v.out_sample, v.exclusion_file, v.start,
                     v.end, v.range_given, v.inclusion_given, v.sample_subset, v.exclusion_given,
                     v.missing_given, v.missing_threshold, v.threshold);
     }},
    {"-P", &V::mode_P, "ped_to_gen", ped_to_gen_usage, true, check_ped_to_gen,
     [](const V& v) { return ped_to_gen_inputs(v.ped_file, v.map_file); },
     [](const V& v) { return ped_to_gen_outputs(v.out_gen, v.out_sample); },
     [](V& v) {
       return ped_to_gen(v.ped_file, v.map_file, v.out_gen, v.out_sample, v.discrete_phenotype,
                         v.family, v.calvora1);
     }},
    {"-G", &V::mode_G, "gen_to_ped", gen_to_ped_usage, true, check_gen_to_ped,
     [](const V& v) { return gen_to_ped_inputs(v.gen_file, v.sample_file); },
     [](const V& v) { return gen_to_ped_outputs(v.ped_file, v.map_file); },
     [](V& v) {
       return gen_to_ped(v.gen_file, v.sample_file, v.ped_file, v.map_file, v.phenotype_column,
                         v.sex_column, v.threshold, v.alleles);
     }},
    {"-M", &V::mode_M, "merge", merge_usage, true, check_merge,
     [](const V& v) { return v.files; },
     [](const V& v) { return merge_outputs(v.out_gen, v.out_sample); },
     [](V& v) { return merge(v.files, v.out_gen, v.out_sample, v.threshold); }},
    {"-O", &V::mode_O, "orient", orient_usage, true, check_orient,
     [](const V& v) { return orient_inputs(v.gen_file, v.strand_file); },
     [](const V& v) { return std::vector<std::string>{orient_output(v.gen_file, v.out_gen)}; },
     [](V& v) { return orient_to_strand(v.gen_file, v.strand_file, v.out_gen, v.excl, v.order); }},
    // The full help leaves -U out.
    {"-U", &V::mode_U, "update", update_usage, false, no_checks,
     [](const V& v) { return std::vector<std::string>{v.sample_file}; },
     [](const V&) { return std::vector<std::string>{}; },
     [](V& v) {
       return update_pheno_cov(v.sample_file, v.add_pheno_cov_file, v.remove_pheno_cov_file, true,
                               true);
     }},
};

const mode_row* find_mode(const std::string& word) {
  for (const mode_row& m : mode_table)
    if (word == m.flag) return &m;
  return nullptr;
}
