#include "e2e.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <zlib.h>

temp_dir::temp_dir() {
  const char* base = getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/trevlin_e2e_XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) abort();
  path_ = buf.data();
}

temp_dir::~temp_dir() {
  std::string cmd = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
  if (system(cmd.c_str()) != 0) {
  }
}

void temp_dir::write(const std::string& name, const std::string& bytes) const {
  std::ofstream f(file(name), std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void temp_dir::write_gz(const std::string& name, const std::string& text) const {
  write(name, gzip_bytes(text));
}

void temp_dir::write_inputs(const std::map<std::string, std::string>& files) const {
  for (const auto& f : files) {
    if (f.first.find(".gz") != std::string::npos)
      write_gz(f.first, f.second);
    else
      write(f.first, f.second);
  }
}

std::string temp_dir::read(const std::string& name) const {
  std::ifstream f(file(name), std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool temp_dir::exists(const std::string& name) const {
  struct stat st;
  return stat(file(name).c_str(), &st) == 0;
}

run_result run_trevlin(const std::string& dir, const std::vector<std::string>& args,
                       int timeout_s) {
  run_options opt;
  opt.timeout_s = timeout_s;
  return run_trevlin(dir, args, opt);
}

run_result run_trevlin(const std::string& dir, const std::vector<std::string>& args,
                       const run_options& opt) {
  using to = run_options::stdout_to;
  run_result r;
  // Built before the fork: the child only sets up descriptors and limits.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("trevlin"));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (char** e = environ; *e; ++e) envp.push_back(*e);
  for (const std::string& e : opt.env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  int out_pipe[2], err_pipe[2], gone[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0 || pipe(gone) != 0) return r;
  close(gone[0]);  // its reader is gone before the child can write: no process holds it
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(err_pipe[0]);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    close(devnull);
    if (opt.out == to::dev_full) dup2(open("/dev/full", O_WRONLY), 1);
    if (opt.out == to::gone_reader) dup2(gone[1], 1);
    if (opt.out == to::closed) close(1);
    close(gone[1]);
    signal(SIGPIPE, SIG_DFL);  // as a shell starts it
    if (opt.address_space) {
      struct rlimit cap = {opt.address_space, opt.address_space};
      setrlimit(RLIMIT_AS, &cap);
    }
    if (opt.file_size) {
      struct rlimit cap = {opt.file_size, opt.file_size};
      setrlimit(RLIMIT_FSIZE, &cap);
    }
    alarm(static_cast<unsigned>(opt.timeout_s));
    execve(TREVLIN_BIN, argv.data(), envp.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  close(gone[1]);
  struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  int open_fds = 2;
  char buf[65536];
  while (open_fds > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

std::string echo_line(const std::vector<std::string>& args) {
  std::string s = "trevlin";
  for (const std::string& a : args) s += " " + a;
  return s + "\n";
}

void run_case(const e2e_case& c) {
  SCOPED_TRACE(c.name);
  temp_dir dir;
  dir.write_inputs(c.files);
  run_result r = run_trevlin(dir.path(), c.args);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, "");
  if (c.check_log) {
    EXPECT_EQ(dir.read("trevlin.log"), c.log);
  }
  for (const auto& o : c.outputs) {
    SCOPED_TRACE("output " + o.first);
    EXPECT_TRUE(dir.exists(o.first));
    std::string bytes = dir.read(o.first);
    if (is_gzip_data(bytes)) {
      bool ok = false;
      std::string text = gunzip_bytes(bytes, &ok);
      EXPECT_TRUE(ok);
      EXPECT_EQ(text, o.second);
    } else {
      EXPECT_EQ(bytes, o.second);
    }
  }
  for (const auto& g : c.gzipped) {
    EXPECT_EQ(is_gzip_data(dir.read(g.first)), g.second) << g.first;
  }
  for (const auto& a : c.absent) EXPECT_FALSE(dir.exists(a)) << a;
}
