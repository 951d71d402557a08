// What names say: gzip by name, and whether two names are one file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e.h"
#include "file_names.h"

namespace {

TEST(FileNames, GzipNameIsASubstringTest) {
  for (const char* yes : {"in.gen.gz", "data.gz.txt", "a.gzip", ".gz"}) EXPECT_TRUE(is_gzip_name(yes)) << yes;
  for (const char* no : {"in.gen", "DATA.GZ", "a.g z", ""}) EXPECT_FALSE(is_gzip_name(no)) << no;
}

// Whether a and b are one file as the file system sees it: a file made
// through a when there is none yet, then both looked up.
bool one_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  const bool made = stat(a.c_str(), &sa) != 0;
  if (made) {
    int fd = open(a.c_str(), O_WRONLY | O_CREAT, 0600);
    EXPECT_GE(fd, 0) << a;
    close(fd);
    EXPECT_EQ(stat(a.c_str(), &sa), 0) << a;
  }
  const bool same = stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (made) {
    char* real = realpath(a.c_str(), nullptr);
    EXPECT_EQ(real ? unlink(real) : -1, 0) << a;
    free(real);
  }
  return same;
}

// same_file against the file system, over the names of files, existing or
// not, reached through linked directories, ".." after a link, hard links,
// links to files and links to files not yet there; before and after the file
// is made.
TEST(FileNames, SameFileIsTheFileSystemsAnswer) {
  temp_dir d;
  const std::string t = d.path();
  ASSERT_EQ(system(("cd '" + t + "' && mkdir -p d/s && ln -s d ln && ln -s d/s ls && touch d/f && " +
                    "ln d/f d/h && ln -s f d/lf && ln -s s/n d/dl && ln -s ../m d/s/up && " +
                    "ln -s ln/dl chain && ln -s '" + t + "/d/s/k' abs").c_str()),
            0);
  struct place {
    std::vector<std::string> spellings, leaves;
  };
  const std::vector<place> places = {
      {{"/d", "/./d", "/ln", "/d/s/..", "/ls/..", "/ln/s/..", "/d/"}, {"f", "h", "lf", "dl", "n", "m", "x"}},
      {{"/d/s", "/ln/s", "/ls", "/ls/../s", "/d/./s"}, {"n", "m", "k", "up", "y"}},
      {{"", "/d/..", "/ls/../.."}, {"chain", "abs", "z"}}};
  std::vector<std::string> names;
  for (const place& p : places)
    for (const std::string& dir : p.spellings)
      for (const std::string& leaf : p.leaves) names.push_back(t + dir + "/" + leaf);
  for (const std::string& a : names)
    for (const std::string& b : names) {
      const bool said = same_file(a, b);
      ASSERT_EQ(said, one_file(a, b)) << a << " " << b;
      if (a != b) {
        ASSERT_EQ(said, same_file(b, a)) << a << " " << b;
      }
    }
}

}  // namespace
