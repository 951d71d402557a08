// The run's log.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "e2e.h"
#include "run_log.h"

namespace {

// The log's append open never waits: on a named pipe without a reader it
// goes on at once, and the run ends with status 1 for its log. In a child,
// as the log's state is the process's; an open that waits is ended by the
// alarm.
TEST(RunLog, LogOnAPipeWithoutReaderFailsAtOnce) {
  temp_dir d;
  ASSERT_EQ(mkfifo(d.file("lg").c_str(), 0600), 0);
  std::fflush(stdout);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    alarm(30);
    int fd = open(d.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || dup2(fd, 1) < 0) _exit(3);
    log_file = d.file("lg");
    run_log log;
    const bool opened = log.open_append();
    log.both("step\n", true);
    log.close();
    _exit(opened ? finish_run(0) : 2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "the open waited for a reader";
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(d.read("out"), "step\nCan't write " + d.file("lg") + "\n");
}

}  // namespace
