// The reader and writer over plain and gzip files, and the readers of the
// fields and GEN lines they carry.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e.h"
#include "gen_line.h"
#include "line_reader.h"
#include "number_format.h"
#include "text.h"
#include "text_writer.h"

namespace {

// Read block sizes that put the buffer's edges at every kind of place,
// and the one the tool uses.
const size_t kBlockSizes[] = {1, 13, 403, 4096, line_reader::kReadBlock};

std::vector<std::string> read_lines(line_reader& r) {
  std::vector<std::string> lines;
  std::string_view l;
  while (r.next(l)) lines.emplace_back(l);
  return lines;
}

std::string write_with(const temp_dir& d, const std::string& name, bool gz,
                       const std::string& text) {
  text_writer w;
  EXPECT_TRUE(w.open(d.file(name), gz));
  w.write(text);
  EXPECT_TRUE(w.close()) << w.error();
  return d.read(name);
}

TEST(ReaderWriter, RoundTripPlainAndGzip) {
  temp_dir d;
  std::string text = "a b c\nsecond line\r\n\nlast without newline";
  EXPECT_EQ(write_with(d, "p.txt", false, text), text);
  std::string gz = write_with(d, "z.txt", true, text);
  ASSERT_TRUE(is_gzip_data(gz));
  EXPECT_EQ(gunzip_bytes(gz), text);
  // The gzip header carries no name and modification time 0.
  EXPECT_EQ(gz[3], 0);
  EXPECT_EQ(gz.substr(4, 4), std::string(4, '\0'));

  for (size_t block : kBlockSizes)
  for (auto [name, compressed] : {std::pair{"p.txt", false}, std::pair{"z.txt", true}}) {
    SCOPED_TRACE(block);
    write_with(d, name, compressed, text);  // the last round put another file there
    line_reader r(block);
    ASSERT_TRUE(r.open(d.file(name), compressed));
    std::vector<std::string> lines = read_lines(r);
    EXPECT_FALSE(r.failed());
    EXPECT_EQ(lines, (std::vector<std::string>{"a b c", "second line\r", "", "last without newline"}));
    EXPECT_FALSE(r.had_newline());
    EXPECT_EQ(r.line_number(), 4u);
    ASSERT_TRUE(r.rewind());
    EXPECT_EQ(read_lines(r), lines);
    EXPECT_FALSE(r.failed());
    // A file put in its place since is never read: the open file lost its
    // name, a change of its status.
    write_with(d, "new", compressed, "other text\n");
    ASSERT_EQ(rename(d.file("new").c_str(), d.file(name).c_str()), 0);
    EXPECT_FALSE(r.rewind());
    EXPECT_EQ(r.error(), "File changed while it was read: " + d.file(name) + "\n");
    EXPECT_TRUE(read_lines(r).empty());
  }
}

// A file written over in place, every line keeping its length: its size and
// times tell, before a later pass, at that pass's end, or when the caller
// asks (a last pass that stops early). Dated in the past first, so that the
// rewrite's times differ at any clock grain.
TEST(ReaderWriter, FileChangedBetweenOrDuringPasses) {
  temp_dir d;
  const struct timeval past[2] = {{946684800, 0}, {946684800, 0}};
  enum when { before_rewind, before_end, before_asked };
  for (bool compressed : {false, true}) {
    for (when w : {before_rewind, before_end, before_asked}) {
      SCOPED_TRACE(std::to_string(compressed) + " " + std::to_string(w));
      write_with(d, "f", compressed, "one\ntwo\n");
      ASSERT_EQ(utimes(d.file("f").c_str(), past), 0);
      line_reader r;
      ASSERT_TRUE(r.open(d.file("f"), compressed));
      read_lines(r);
      EXPECT_TRUE(r.unchanged());
      std::string_view line;
      if (w == before_rewind) write_with(d, "f", compressed, "ONE\nTWO\n");
      if (r.rewind() && r.next(line)) {
        EXPECT_NE(w, before_rewind);
        write_with(d, "f", compressed, "ONE\nTWO\n");
        if (w == before_end) {
          read_lines(r);
        } else {
          EXPECT_FALSE(r.unchanged());
        }
      }
      EXPECT_TRUE(r.failed());
      EXPECT_EQ(r.error(), "File changed while it was read: " + d.file("f") + "\n");
    }
  }
}

TEST(ReaderWriter, EmptyCompressedOutputIsAValidMember) {
  temp_dir d;
  std::string gz = write_with(d, "e.gz", true, "");
  EXPECT_TRUE(is_gzip_data(gz));
  EXPECT_EQ(system(("gzip -t " + d.file("e.gz")).c_str()), 0);
}

TEST(ReaderWriter, ReadsEveryGzipMember) {
  temp_dir d;
  d.write("two.gz", gzip_bytes("one\n") + gzip_bytes("two\n"));
  line_reader r;
  ASSERT_TRUE(r.open(d.file("two.gz"), true));
  EXPECT_EQ(read_lines(r), (std::vector<std::string>{"one", "two"}));
  EXPECT_FALSE(r.failed());
  line_reader z;
  ASSERT_TRUE(z.open_by_content(d.file("two.gz")));
  EXPECT_EQ(read_lines(z), (std::vector<std::string>{"one", "two"}));
}

TEST(ReaderWriter, DamagedGzipIsReported) {
  temp_dir d;
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + " some words\n";
  std::string gz = gzip_bytes(text);
  std::string crc = gz;
  crc[crc.size() - 6] ^= 1;
  std::string flip = gz;
  flip[gz.size() / 2] ^= 0x55;
  struct row {
    const char* name;
    std::string bytes;
  } rows[] = {{"cut.gz", gz.substr(0, gz.size() / 2)},
              {"crc.gz", crc},
              {"flip.gz", flip},
              {"plain.gz", "not gzip data\n"},
              {"header_only.gz", gz.substr(0, 10)}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    d.write(r.name, r.bytes);
    for (bool by_content : {false, true}) {
      line_reader in;
      ASSERT_TRUE(by_content ? in.open_by_content(d.file(r.name)) : in.open(d.file(r.name), true));
      std::vector<std::string> lines = read_lines(in);
      if (by_content && std::string(r.name) == "plain.gz") {
        // read by content, text that is not gzip data is plain text
        EXPECT_FALSE(in.failed());
        EXPECT_EQ(lines, std::vector<std::string>{"not gzip data"});
        continue;
      }
      EXPECT_TRUE(in.failed());
      EXPECT_EQ(in.error(), "Damaged gzip file: " + d.file(r.name) + "\n");
      EXPECT_LE(lines.size(), 20000u);
      // the text before the fault is still delivered, whole lines only
      if (std::string(r.name) == "cut.gz") {
        EXPECT_GT(lines.size(), 1000u);
        EXPECT_EQ(lines.back().rfind("line ", 0), 0u);
        EXPECT_EQ(lines.back().size() >= 16, true);
      }
    }
  }
}

TEST(ReaderWriter, ZeroByteGzipNamedFileReadsAsEmpty) {
  temp_dir d;
  d.write("old.gz", "");
  line_reader r;
  ASSERT_TRUE(r.open(d.file("old.gz"), true));
  std::string_view l;
  EXPECT_FALSE(r.next(l));
  EXPECT_FALSE(r.failed());
}

TEST(ReaderWriter, LinesOfAnyLength) {
  temp_dir d;
  std::string longline(3 * 1024 * 1024 + 17, 'x');
  std::string text = "short\n" + longline + "\nafter\n";
  write_with(d, "l.txt", false, text);
  write_with(d, "l.gz", true, text);
  for (size_t block : kBlockSizes)
  for (int mode = 0; mode < 3; ++mode) {
    SCOPED_TRACE(block);
    line_reader r(block);
    bool ok = mode == 0 ? r.open(d.file("l.txt"), false)
              : mode == 1 ? r.open(d.file("l.gz"), true)
                          : r.open_by_content(d.file("l.gz"));
    ASSERT_TRUE(ok);
    std::vector<std::string> lines = read_lines(r);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], longline);
    EXPECT_EQ(lines[2], "after");
  }
}

TEST(ReaderWriter, TellAndSeekByContent) {
  temp_dir d;
  std::string text;
  for (int i = 0; i < 50000; ++i) text += "row" + std::to_string(i) + "\n";
  write_with(d, "s.gz", true, text);
  write_with(d, "s.txt", false, text);
  for (size_t block : kBlockSizes)
  for (const char* name : {"s.gz", "s.txt"}) {
    SCOPED_TRACE(std::string(name) + " " + std::to_string(block));
    line_reader r(block);
    ASSERT_TRUE(r.open_by_content(d.file(name)));
    std::vector<uint64_t> offsets;
    std::string_view l;
    for (;;) {
      offsets.push_back(r.tell());
      if (!r.next(l)) break;
    }
    ASSERT_EQ(offsets.size(), 50001u);
    for (int i : {49999, 7, 0, 30000, 30001, 2}) {
      ASSERT_TRUE(r.seek(offsets[i]));
      ASSERT_TRUE(r.next(l));
      EXPECT_EQ(l, "row" + std::to_string(i));
    }
  }
}

TEST(ReaderWriter, OpenFailures) {
  temp_dir d;
  line_reader r;
  EXPECT_FALSE(r.open(d.file("missing"), false));
  EXPECT_EQ(r.error(), "Can't open " + d.file("missing") + "\n");
  EXPECT_FALSE(r.open(d.path(), false));  // a directory
  EXPECT_FALSE(r.open_by_content(d.file("missing.gz")));
  text_writer w;
  EXPECT_FALSE(w.open(d.file("no/such/dir/out"), false));
  EXPECT_EQ(w.error(), "Can't open " + d.file("no/such/dir/out") + "\n");
}

TEST(ReaderWriter, WriteFailuresAreReportedAtClose) {
  for (bool gz : {false, true}) {
    for (size_t n : {size_t(10), size_t(5) << 20}) {
      text_writer w;
      ASSERT_TRUE(w.open("/dev/full", gz));
      w.write(std::string(n, 'a'));
      EXPECT_FALSE(w.close()) << "gz " << gz << " n " << n;
      EXPECT_EQ(w.error(), "Can't write /dev/full\n");
    }
  }
}

TEST(Text, FieldsAndNumbers) {
  std::vector<std::string_view> f;
  EXPECT_EQ(split_fields(" a\tb  c\r", f), 3u);
  EXPECT_EQ(f[2], "c");
  EXPECT_EQ(split_fields(" \t\r", f), 0u);
  EXPECT_TRUE(is_blank(" \t\r\v\f"));
  int32_t i = 0;
  EXPECT_TRUE(parse_int32("+0100", i));
  EXPECT_EQ(i, 100);
  for (const char* bad : {"", "12a", "2147483648", "+-1", "1.0"}) EXPECT_FALSE(parse_int32(bad, i)) << bad;
  double x = 0;
  EXPECT_TRUE(parse_double("1e-05", x));
  EXPECT_EQ(x, 1e-05);
  for (const char* bad : {"0.5x", "nan", "inf", "-inf", "", "-", "+-1", "0x1p3"}) EXPECT_FALSE(parse_double(bad, x)) << bad;
  EXPECT_TRUE(parse_double(".5", x));
  EXPECT_TRUE(parse_double("1e-400", x));  // below the double range: 0
  EXPECT_EQ(x, 0.0);
  EXPECT_FALSE(parse_double("1e400", x));
  EXPECT_TRUE(parse_double("-0.25", x));
  std::string s;
  for (double v : {1.0, 1.0 / 3, 1e-05, 0.0, 123456789.0, -0.25}) {
    append_double(s, v);
    s += ' ';
  }
  EXPECT_EQ(s, "1 0.333333 1e-05 0 1.23457e+08 -0.25 ");
}

// One GEN line through the shared reader: its five leading fields, then the
// numbers a tolerant reader takes (up to the first word that is not one), and
// whether a strict reader of one sample takes the line, or its reason.
TEST(Text, GenLines) {
  struct row {
    std::string line;
    std::string fault;    // of the leading fields; "" when they read
    std::string numbers;  // what a tolerant reader takes, each value and a blank
    std::string strict;   // "" when a strict reader of one sample takes it
  };
  const std::vector<row> rows = {
      {"s r 100 A G 1 0 0", "", "1 0 0 ", ""},
      {"s\tr  +0100 A G\t0.953 0.047 0\r", "", "0.953 0.047 0 ", ""},
      {"s r -5 AT - 1e-04 0.5 -0", "", "0.0001 0.5 -0 ", ""},
      {"s r 100 A G 1 0", "", "1 0 ", "7 fields, expected 8"},
      {"s r 100 A G 1 0 0 0 1 0 0.5 7 1\t0 0 1", "", "1 0 0 0 1 0 0.5 7 1 0 0 1 ",
       "17 fields, expected 8"},
      {"s r 100 A G 1 0 0 1", "", "1 0 0 1 ", "9 fields, expected 8"},
      {"s r 100 A G 1 x 0", "", "1 ", "field 7 is not a number"},
      {"s r 100 A G 1 nan 0", "", "1 ", "field 7 is not a number"},
      {"s r 100 A G 1 0 0.5x", "", "1 0 ", "field 8 is not a number"},
      {"s r 100 A", "fewer than 5 fields", "", "fewer than 5 fields"},
      {"s r 100x A G 1 0 0", "position is not a 32-bit integer", "",
       "position is not a 32-bit integer"},
      {"s r 2147483648 A G 1 0 0", "position is not a 32-bit integer", "",
       "position is not a 32-bit integer"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.line);
    gen_head h;
    const char* fault = read_gen_head(r.line, h);
    EXPECT_EQ(fault ? fault : "", r.fault);
    if (!fault) {
      EXPECT_EQ(h.snp_id, "s");
      probability_reader numbers(h.rest);
      probability v;
      std::string taken;
      while (numbers.next(v)) {
        append_double(taken, v.value());
        taken += ' ';
      }
      EXPECT_EQ(taken, r.numbers);
      // The same numbers with whole one-digit triples taken at once.
      probability_reader triples(h.rest);
      unsigned d[3];
      taken.clear();
      for (;;) {
        if (triples.next_digit_triple(d[0], d[1], d[2])) {
          for (unsigned x : d) taken += std::to_string(x) + ' ';
        } else if (triples.next(v)) {
          append_double(taken, v.value());
          taken += ' ';
        } else {
          break;
        }
      }
      EXPECT_EQ(taken, r.numbers);
    }
    // A strict reader of one sample: the leading fields, three numbers, nothing else.
    probability_reader strict_reader(h.rest);
    probability v;
    bool strict = !fault;
    for (int k = 0; k < 3 && strict; ++k) strict = strict_reader.next(v);
    strict = strict && strict_reader.done();
    EXPECT_EQ(strict, r.strict.empty());
    if (!strict) {
      EXPECT_EQ(strict_line_fault(r.line, 1), r.strict);
    }
  }
}

}  // namespace
