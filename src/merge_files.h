// -M: the readers of its inputs and the opens that every stage of the merge
// shares.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "streams.h"

// One reader per input; null for a file that was not given.
using readers = std::vector<std::unique_ptr<line_reader>>;

// Opens an input, by its content (GEN files) or by its name (SAMPLE files).
// An empty name is a file that was not given: in is left null.
inline bool open_input(run_log& log, std::unique_ptr<line_reader>& in, const std::string& name,
                       bool by_content) {
  in = std::make_unique<line_reader>();
  if (by_content ? in->open_by_content(name) : in->open(name, is_gzip_name(name))) return true;
  if (name.empty()) {
    in.reset();
    return true;
  }
  log.both(in->error(), true);
  return false;
}

inline bool open_output(run_log& log, text_writer& out, const std::string& name) {
  if (out.open(name, is_gzip_name(name))) return true;
  log.both(out.error(), true);
  return false;
}
