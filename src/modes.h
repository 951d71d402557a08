// The six modes, one row each: everything the front end knows of a mode.
#pragma once

#include <string>
#include <vector>

#include "options.h"

class run_log;

// What the checks of a mode leave: values ready for the call, a failure
// whose message is written, or a required name missing, for which the front
// end prints the mode's help topic.
enum class check_status { ready, failed, help };

struct mode_row {
  const char* flag;               // the word that selects the mode ("-S")
  bool option_values::*selected;  // set by that word
  const char* topic;              // its help topic ("subset")
  void (*help)();                 // prints its help section
  bool in_full_help;              // its section is part of the topic "all"
  // Checks the mode's values and fills its default output names.
  check_status (*check)(option_values& v, run_log& log);
  // The files the mode reads and writes, as its own function names them (the
  // outputs once the check has filled them); an empty name is not given.
  std::vector<std::string> (*inputs)(const option_values& v);
  std::vector<std::string> (*outputs)(const option_values& v);
  // Calls the mode's function with its plain values; its result is the exit status.
  int (*call)(option_values& v);
};

// In the order in which the checks and the dispatch try them. A plain array,
// set before the program starts without allocating: memory that runs out
// then could not be reported.
extern const mode_row mode_table[6];

// The row whose flag is this word, or nullptr.
const mode_row* find_mode(const std::string& word);

// The input name with suffix inserted before its first ".gz", else appended.
std::string default_output_name(const std::string& input, const std::string& suffix);
// Appends ".gz" unless the name already contains it.
std::string force_gz(const std::string& name);

// Merged output names from the first n GEN names (and, for the SAMPLE name,
// the n SAMPLE names after them).
std::string default_gen_output_file(int n, std::vector<std::string>& files);
std::string default_gen_output_sample_file(int n, std::vector<std::string>& files);
