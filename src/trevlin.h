// The front end's pure pieces: the parse and help.
#pragma once

#include <string>

#include "options.h"

enum class parse_status { ok, unknown_word, missing_value, invalid_value };

// Parses words 1.. of argv into v, left to right, up to the first fault. On
// failure, bad_word is the offending word; for invalid_value, a number
// option and its value ("--start 33,000,000").
parse_status parse_options(int argc, char** argv, option_values& v, std::string& bad_word);

// Prints the help for one topic ("all", "subset", ...); other words print nothing.
void usage(std::string topic);
