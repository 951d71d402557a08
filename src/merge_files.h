// -M: the readers of its inputs and the opens that every stage of the merge
// shares.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "file_names.h"
#include "run_log.h"

// One reader per input; null for a file that was not given.
using readers = std::vector<std::unique_ptr<line_reader>>;

// Opens an input, by its content (GEN files) or by its name (SAMPLE files).
// An empty name is a file that was not given: in is left null.
inline bool open_reader(run_log& log, std::unique_ptr<line_reader>& in, const std::string& name,
                        bool by_content) {
  if (name.empty()) {
    in.reset();
    return true;
  }
  in = std::make_unique<line_reader>();
  return by_content ? open_input_by_content(log, *in, name)
                    : open_input(log, *in, name, is_gzip_name(name));
}
