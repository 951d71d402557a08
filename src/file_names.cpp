// Names and file identity: keys under which two names are one file, looked
// up in one pass over all the names of a run.
#include "file_names.h"

#include <map>
#include <set>

#include <sys/stat.h>
#include <unistd.h>

#include "line_reader.h"
#include "run_log.h"

bool is_gzip_name(const std::string& name) { return name.find(".gz") != std::string::npos; }

namespace {

// Keys under which a name is one file with another: its text; its last name
// component in its directory (device and inode, after links), whether the
// file exists yet or not; and, when it exists, its own device and inode. A
// character device has none.
// Two names are one file when they share a key. Each directory text is
// looked up once, so checking many names costs one pass.
class file_keys {
 public:
  void of(const std::string& name, std::vector<std::string>& keys) {
    keys.clear();
    struct stat st;
    const bool exists = stat(name.c_str(), &st) == 0;
    // Nothing written to a character device (/dev/null) can be lost: no keys.
    if (exists && S_ISCHR(st.st_mode)) return;
    keys.push_back("t" + name);
    std::string target = name;
    if (exists) {
      keys.push_back("i" + id_text(st));
    } else {
      // A link to a file not yet there: writing through it creates its target.
      char buf[4096];
      for (int hops = 0; hops < 40 && lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
           ++hops) {
        ssize_t n = readlink(target.c_str(), buf, sizeof buf);
        if (n <= 0 || static_cast<size_t>(n) == sizeof buf) break;
        std::string to(buf, static_cast<size_t>(n));
        size_t slash = target.rfind('/');
        target = to[0] == '/' || slash == std::string::npos ? to : target.substr(0, slash + 1) + to;
      }
    }
    size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const std::string& dir_id = directory(dir);
    if (!dir_id.empty())
      keys.push_back("d" + dir_id + "/" + target.substr(slash == std::string::npos ? 0 : slash + 1));
  }

 private:
  static std::string id_text(const struct stat& st) {
    return std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(st.st_ino));
  }
  // "" when the directory cannot be looked up.
  const std::string& directory(const std::string& dir) {
    auto it = dirs_.find(dir);
    if (it != dirs_.end()) return it->second;
    struct stat st;
    return dirs_[dir] = stat(dir.c_str(), &st) == 0 ? id_text(st) : std::string();
  }
  std::map<std::string, std::string> dirs_;
};

bool shares_key(const std::vector<std::string>& keys, const std::set<std::string>& known) {
  for (const std::string& k : keys)
    if (known.count(k)) return true;
  return false;
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
  file_keys ids;
  std::vector<std::string> ka, kb;
  ids.of(a, ka);
  ids.of(b, kb);
  return shares_key(ka, std::set<std::string>(kb.begin(), kb.end()));
}

bool check_inputs(run_log& log, const std::vector<std::string>& names) {
  bool ok = true;
  for (const std::string& name : names) {
    if (name.empty()) continue;
    // A named pipe is checked by its type alone: opening it would wait for a writer.
    struct stat st;
    if (stat(name.c_str(), &st) == 0 && S_ISFIFO(st.st_mode) && access(name.c_str(), R_OK) == 0)
      continue;
    int fd = open_readable(name);
    if (fd < 0) {
      log.both("Can't open " + name + "\n");
      ok = false;
    } else {
      ::close(fd);
    }
  }
  return ok;
}

bool check_outputs(run_log& log, const std::vector<std::string>& outputs,
                   const std::vector<std::string>& inputs) {
  file_keys ids;
  std::vector<std::string> keys;
  std::set<std::string> input_keys, log_keys, seen;
  for (const std::string& in : inputs) {
    if (in.empty()) continue;
    ids.of(in, keys);
    input_keys.insert(keys.begin(), keys.end());
  }
  std::vector<std::vector<std::string>> output_keys(outputs.size());
  for (size_t i = 0; i < outputs.size(); ++i) {
    if (outputs[i].empty()) continue;
    ids.of(outputs[i], output_keys[i]);
    if (shares_key(output_keys[i], input_keys)) {
      log.both("Output file is also an input: " + outputs[i] + "\n");
      return false;
    }
  }
  if (!log.path().empty()) {
    ids.of(log.path(), keys);
    log_keys.insert(keys.begin(), keys.end());
  }
  // Two outputs on one file, or an output on the log, would overwrite each other.
  for (size_t i = 0; i < outputs.size(); ++i) {
    if (outputs[i].empty()) continue;
    if (shares_key(output_keys[i], seen)) {
      log.both("Output file is named twice: " + outputs[i] + "\n");
      return false;
    }
    if (shares_key(output_keys[i], log_keys)) {
      log.both("Output file is also the log file: " + outputs[i] + "\n");
      return false;
    }
    seen.insert(output_keys[i].begin(), output_keys[i].end());
  }
  return true;
}
