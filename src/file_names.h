// What the names of a run's files say: whether a file is gzip by its name,
// whether two names are one file, and the checks of a mode's inputs and
// outputs before it opens any.
#pragma once

#include <string>
#include <vector>

class run_log;

// True when the name contains ".gz" anywhere (a substring test, not a suffix test).
bool is_gzip_name(const std::string& name);

// True when the two names are one file: the same text; the same last name
// component in the same directory (after links), whether the file exists
// yet or not (out, ./out, sub/../out); or existing files with the same device
// and inode (hard links, links to a file). A character device after links
// (/dev/null) is never one file with another.
bool same_file(const std::string& a, const std::string& b);

// Checks that every non-empty name can be opened for reading (and is not a
// directory). Prints "Can't open NAME" to both for each one that cannot.
bool check_inputs(run_log& log, const std::vector<std::string>& names);

// Checks that no non-empty output names the same file (as same_file tells) as
// a non-empty input, another output or the log at log.path(), in one pass
// over the names however many there are. Prints "Output file is also an input: NAME",
// "Output file is named twice: NAME" or "Output file is also the log file:
// NAME" to both for the first clash.
bool check_outputs(run_log& log, const std::vector<std::string>& outputs,
                   const std::vector<std::string>& inputs);
