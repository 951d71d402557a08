// The quick ways through the hot loops must give what the general ways give:
// number reading, the -G calling test and the -O copy of whole triples.
#include <gtest/gtest.h>

#include <cctype>
#include <charconv>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "e2e.h"
#include "gen_line.h"
#include "number_format.h"
#include "text.h"

namespace {

// The general reading every field used to take: from_chars on the whole
// field, no "nan"/"inf", '+' allowed but not "+-".
bool general_parse(std::string_view f, double& v) {
  if (!f.empty() && f[0] == '+') {
    f.remove_prefix(1);
    if (f.empty() || f[0] == '-') return false;
  }
  size_t lead = !f.empty() && f[0] == '-' ? 1 : 0;
  if (f.size() <= lead || !((f[lead] >= '0' && f[lead] <= '9') || f[lead] == '.')) return false;
  auto r = std::from_chars(f.data(), f.data() + f.size(), v);
  return r.ec == std::errc() && r.ptr == f.data() + f.size();
}

void expect_same_reading(const std::string& text) {
  double fast = -12345.0, general = -12345.0;
  bool a = parse_double(text, fast);
  bool b = general_parse(text, general);
  ASSERT_EQ(a, b) << "'" << text << "'";
  if (a) {
    // Bit for bit: the sign of a zero counts too.
    EXPECT_EQ(std::memcmp(&fast, &general, sizeof fast), 0) << "'" << text << "'";
  }
}

TEST(FastPaths, NumberReadingMatchesTheGeneralReading) {
  for (const char* t :
       {"0", "1", "-0", "+0", "0.5", ".5", "5.", "-.5", "+.5", ".", "-", "+", "+-1", "-+1", "",
        "00.50", "0.953", "0.047", "1.000", "0.1", "0.2", "0.3", "0.7", "0.9", "0.999999999999999",
        "0.9999999999999999", "0.99999999999999999", "123456789012345", "1234567890123456",
        "12345678901234567890", "999999999999999", "0.000000000000001", "0.0000000000000001",
        "1e-05", "1E5", "9e-1", "0x10", "nan", "inf", "1.2.3", "1..2", "--1", "1-", "0.5 ", " 0.5",
        "3.14159265358979", "0.953", "9.999", "0.9531", "0.953e1", "1.000e-3", "0.953.", "2.718281828459045", "4503599627370497", "9007199254740993"})
    expect_same_reading(t);

  // Every short decimal shape with a few digit patterns: digits before and
  // after the point, up to and past the 15 digits of the quick way.
  const std::string digits = "9876543210123456789";
  for (size_t whole = 0; whole <= 9; ++whole)
    for (size_t frac = 0; frac <= 10; ++frac)
      for (size_t shift = 0; shift < 5; ++shift)
        for (const char* sign : {"", "-", "+"}) {
          std::string t = sign + digits.substr(shift, whole);
          if (frac) t += "." + digits.substr(shift + 3, frac);
          expect_same_reading(t);
          expect_same_reading(t + "1");
          expect_same_reading("0" + t);
        }
  // Decimals of three places, the usual probabilities, all of them.
  for (int m = 0; m <= 1000; ++m) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d.%03d", m / 1000, m % 1000);
    expect_same_reading(buf);
  }
}

TEST(FastPaths, WhiteSpaceIsTheCLocalesForEveryByte) {
  for (int c = 0; c < 256; ++c) {
    char ch = static_cast<char>(c);
    bool expected = ch == ' ' || (ch >= '\t' && ch <= '\r');
    EXPECT_EQ(is_space(ch), expected) << c;
    EXPECT_EQ(is_space(ch), std::isspace(c) != 0) << c;
  }
}

TEST(FastPaths, ShortDecimalScanStopsAtTheNumberEnd) {
  struct row {
    const char* text;
    long stop;  // -1: no short decimal
    uint64_t m;
    unsigned decimals;
    bool negative;
  };
  for (const row& r : std::vector<row>{{"0.953 0", 5, 953, 3, false},
                                       {"-12.5\t", 5, 125, 1, true},
                                       {"+7x", 2, 7, 0, false},
                                       {"1e5", 1, 1, 0, false},
                                       {"0.953", 5, 953, 3, false},
                                       {"9.999\n", 5, 9999, 3, false},
                                       {"0.9531 ", 6, 9531, 4, false},
                                       {"0.953e1", 5, 953, 3, false},
                                       {"0.953.1", 5, 953, 3, false},
                                       {"-0.953", 6, 953, 3, true},
                                       {"0.95 3", 4, 95, 2, false},
                                       {"1234567890123456", -1, 0, 0, false},
                                       {"-", -1, 0, 0, false},
                                       {". 5", -1, 0, 0, false}}) {
    SCOPED_TRACE(r.text);
    const char* b = r.text;
    const char* e = b + std::strlen(b);
    uint64_t m = 0;
    unsigned decimals = 0;
    bool negative = false;
    const char* q = scan_short_decimal(b, e, m, decimals, negative);
    if (r.stop < 0) {
      EXPECT_EQ(q, nullptr);
      continue;
    }
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q - b, r.stop);
    EXPECT_EQ(m, r.m);
    EXPECT_EQ(decimals, r.decimals);
    EXPECT_EQ(negative, r.negative);
  }
}

// The branch-free readings of "0" and "0.953" shapes, and of one to six
// decimals, take a field only when the general scan reads it the same way
// and it ends at white space.
TEST(FastPaths, CommonFieldShapesReadAsTheGeneralScan) {
  std::vector<std::string> fields = {"0",    "1",     "7",     "0.953", "1.000", "9.999", "00",
                                     "0.95", "0.9531", "-0",   "+1",    ".953",  "0.95x", "x",
                                     "0,953", "10",    "0.",   "1e5",   "0.953e1", "0..12",
                                     "0.5", "0.98712", "0.987123", "0.9871234", "0.00001",
                                     "9.999999", "1.0000000", "0.0/", "0.0:", "0.9\xfa" "9", "0.12\xff"};
  for (const std::string& f : fields)
    for (int after = 0; after < 256; ++after)
      for (const char* tail : {"", "0 0 0 0 0 0", "      "}) {
        std::string text = f + static_cast<char>(after) + tail;
        SCOPED_TRACE("'" + text + "'");
        const char* b = text.data();
        const char* e = b + text.size();
        uint64_t m = 0, gm = 0;
        unsigned d = 0, gd = 0;
        bool negative = false;
        const char* q = scan_common_field(b, e, m, d);
        const char* g = scan_short_decimal(b, e, gm, gd, negative);
        const bool general_takes = g && g < e && is_space(*g) && !negative;
        if (e - b >= 6 && general_takes && (g - b == 1 || (g - b == 5 && gd == 3 && b[1] == '.'))) {
          ASSERT_NE(q, nullptr);
        }
        if (!q) {
          q = scan_point_decimals(b, e, m, d);
          if (e - b >= 10 && general_takes && b[1] == '.' && gd >= 1 && gd <= 6 && g - b == 2 + gd) {
            ASSERT_NE(q, nullptr);
          }
        }
        if (!q) continue;
        ASSERT_TRUE(general_takes);
        EXPECT_EQ(q, g);
        EXPECT_EQ(m, gm);
        EXPECT_EQ(d, gd);
        // The value taken from it is the one the whole-field reading gives.
        double v = -1;
        ASSERT_TRUE(parse_double(std::string_view(b, static_cast<size_t>(q - b)), v));
        EXPECT_EQ(short_decimal_value(m, d, false), v);
      }
}

// Number texts of every shape a GEN file may hold: signs, leading and
// trailing zeros, a leading point, exponents in both cases, 1 to 9
// significant digits, both sides of 1e-4 and 1e6, -0.
std::vector<std::string> number_texts() {
  std::vector<std::string> texts = {"+.5", "+.00001", "-.5", "00.5", "0.10", "1e-4", "9.99999e-05",
                                    "0.99999995", "1234567", "-0", "+0", "-0.0", "0", "1", "5.",
                                    ".5", "0.0001", "0.00009", "0.00010", "999999", "999999.5",
                                    "1e6", "1E-5", "0.953", "9.99999", "0.123456", "+.1", "+.12"};
  const std::vector<std::string> significant = {"1",       "5",        "12",        "953",
                                                "9871",    "99999",    "123456",    "1234567",
                                                "99999995", "100000001", "123456789"};
  for (const std::string& digits : significant)
    for (const char* sign : {"", "+", "-"})
      for (int point = -6; point <= 10; ++point) {
        // The point at offset point from the first digit: zeros before or after.
        std::string t;
        if (point <= 0)
          t = "0." + std::string(static_cast<size_t>(-point), '0') + digits;
        else if (static_cast<size_t>(point) >= digits.size())
          t = digits + std::string(static_cast<size_t>(point) - digits.size(), '0');
        else
          t = digits.substr(0, static_cast<size_t>(point)) + "." + digits.substr(static_cast<size_t>(point));
        for (const std::string& shape : {t, t + "0", "0" + t, t.rfind("0.", 0) == 0 ? t.substr(1) : t})
          for (const char* exponent : {"", "e-4", "E-5", "e+6", "e0"})
            texts.push_back(sign + shape + exponent);
      }
  // Every one-digit and every "D.ddd" text, the shapes of imputed data:
  // "0.500" and "2.000" too, which lose digits when written.
  for (int m = 0; m < 10000; ++m) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%d.%03d", m / 1000, m % 1000);
    texts.emplace_back(buf);
    if (m < 10) texts.push_back(std::to_string(m));
  }
  return texts;
}

// Each number text read as a GEN line's field is read, in a line with bytes after it.
template <typename Check>
void for_each_read_number(Check check) {
  for (const std::string& t : number_texts()) {
    SCOPED_TRACE("'" + t + "'");
    const std::string line = t + " 0 0 0 0 0";
    probability_reader r(line);
    probability v;
    ASSERT_TRUE(r.next(v));
    ASSERT_EQ(r.field(), t);
    check(t, v);
  }
}

TEST(FastPaths, TextsPassThroughOnlyAsTheirValuesWrittenForm) {
  double_texts cache;
  for_each_read_number([&](const std::string& t, const probability& v) {
    char general[kDefaultFormatMax];
    const std::string written(general, format_default(general, v.value()));
    if (is_written_form(v, t)) {
      EXPECT_EQ(t, written);
    }
    char cached[kDefaultFormatMax + double_texts::kPutRoom];
    EXPECT_EQ(std::string(cached, cache.put(cached, v.value())), written);
  });
  // The usual shapes do pass through, or -M loses its quick way.
  for (const std::string t : {"0", "1", "0.5", "0.953", "0.9871", "0.0001", "9.99999", "0.123456"}) {
    const std::string line = t + " 0 0 0 0 0";
    probability_reader r(line);
    probability v;
    ASSERT_TRUE(r.next(v));
    EXPECT_TRUE(is_written_form(v, t)) << t;
  }
}

TEST(FastPaths, SubsetDigitCopyMatchesTheFixedFormat) {
  for_each_read_number([&](const std::string&, const probability& v) {
    char general[kProbabilityMax], fast[kProbabilityMax], copied[kProbabilityMax];
    const std::string expected(general, format_probability_fixed(general, v.value()));
    EXPECT_EQ(std::string(fast, format_probability(fast, v.value())), expected);
    EXPECT_EQ(std::string(copied, format_read_probability(copied, v)), expected);
  });
}

// -O's blank scan, both ways, against what it stands for: a text is taken
// when it is " " + its words joined by single blanks, and the blanks are at
// the offsets of that text. Random single-blank lines over several blocks,
// each also with a blank put in, and with each white-space byte (and a word
// byte) put over the byte, at every offset.
TEST(FastPaths, BlankScanFindsTheSingleBlankLayout) {
  std::mt19937 rng(11);
  const std::string odd = std::string(" \t\n\v\f\r\x08\x0e\x89\xff\x29", 11);
  std::vector<uint32_t> wide, narrow, expected;
  std::vector<std::string_view> words;
  auto check = [&](const std::string& text) {
    std::string joined;
    expected.clear();
    split_fields(text, words);
    for (std::string_view w : words) {
      expected.push_back(static_cast<uint32_t>(joined.size()));
      joined += ' ';
      joined += w;
    }
    const bool taken = text == joined;
    ASSERT_EQ(single_blank_layout_by<true>(text, wide), taken) << "'" << text << "'";
    ASSERT_EQ(single_blank_layout_by<false>(text, narrow), taken) << "'" << text << "'";
    if (taken) {
      ASSERT_EQ(wide, expected) << "'" << text << "'";
      ASSERT_EQ(narrow, expected) << "'" << text << "'";
    }
  };
  for (int i = 0; i < 300; ++i) {
    std::string line;
    const int count = static_cast<int>(rng() % 24);
    for (int w = 0; w < count; ++w) line += ' ' + std::string(1 + rng() % 6, static_cast<char>('0' + rng() % 10));
    check(line);
    for (size_t at = 0; at <= line.size(); ++at) {
      check(line.substr(0, at) + ' ' + line.substr(at));
      if (at == line.size()) break;
      for (char c : odd) {
        std::string changed = line;
        changed[at] = c;
        check(changed);
      }
    }
  }
}

// The calls of a one-SNP GEN file, one "X Y" text per sample, at a threshold.
std::vector<std::string> calls(const std::vector<std::string>& triples, const std::string& threshold) {
  std::string gen = "1 rs1 100 A G";
  std::string sample = "ID_1 ID_2 missing\n0 0 0\n";
  for (size_t i = 0; i < triples.size(); ++i) {
    gen += " " + triples[i];
    sample += "s" + std::to_string(i) + " s" + std::to_string(i) + " 0\n";
  }
  temp_dir dir;
  dir.write("in.gen", gen + "\n");
  dir.write("in.sample", sample);
  run_result r = run_trevlin(dir.path(), {"-G", "--g", "in.gen", "--s", "in.sample", "--threshold",
                                          threshold});
  EXPECT_EQ(r.status, 0) << r.out;
  std::vector<std::string> out;
  std::string ped = dir.read("in.gen.ped");
  size_t at = 0;
  while (at < ped.size()) {
    size_t nl = ped.find('\n', at);
    std::string line = ped.substr(at, nl - at);
    out.push_back(line.substr(line.rfind('\t') + 1));
    at = nl + 1;
  }
  return out;
}

TEST(FastPaths, CallingAtTheThresholdItself) {
  struct row {
    std::string threshold;
    std::vector<std::string> triples;
    std::vector<std::string> expected;
  };
  std::vector<row> rows = {
      // Every way of writing 0.9 reaches 0.9; the values just under it do not.
      {"0.9",
       {"0.9 0 0", ".9 0 0", "+0.9 0 0", "0.90 0 0", "9e-1 0 0", "0.90000000000000001 0 0",
        "0.8999999999999999 0.05 0.05", "0.899 0.1 0.001", "0 0.9 0.1", "0 0 0.900000000000000"},
       {"A A", "A A", "A A", "A A", "A A", "A A", "N N", "N N", "A G", "G G"}},
      // 0.1 + 0.2 is a hair above 0.3: the text 0.3 is below it, the longer
      // texts of that same double reach it.
      {"0.30000000000000004",
       {"0.3 0.3 0.3", "0.30000000000000004 0 0", "0.300000000000001 0 0", "0 0.3 0"},
       {"N N", "A A", "A A", "N N"}},
      // A zero threshold takes -0 and 0 alike; negative values fall short.
      {"0", {"-0 0 0", "-0.5 0 0", "-1 -1 -0.000"}, {"A A", "A G", "G G"}},
      // Above every probability: nothing is called.
      {"1.5", {"1 0 0", "0 1 0", "1.5 0 0", "0 0 1.49999"}, {"N N", "N N", "A A", "N N"}},
      // Whole numbers and their long forms.
      {"1", {"1.000000 0 0", "0.999999999999999 1 0", "0 0 0001"}, {"A A", "A G", "G G"}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE("threshold " + r.threshold);
    EXPECT_EQ(calls(r.triples, r.threshold), r.expected);
  }
}

TEST(FastPaths, CallingStillRejectsWhatIsNotANumber) {
  for (const char* bad : {"0.5x", "1e", "nan", "+-1", "0..1", "."}) {
    SCOPED_TRACE(bad);
    temp_dir dir;
    dir.write("in.gen", std::string("1 rs1 100 A G 1 0 0 0 ") + bad + " 0\n");
    dir.write("in.sample", "ID_1 ID_2 missing\n0 0 0\na a 0\nb b 0\n");
    run_result r = run_trevlin(dir.path(), {"-G", "--g", "in.gen", "--s", "in.sample"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Bad line 1 in in.gen: field 10 is not a number\n"),
              std::string::npos)
        << r.out;
  }
}

TEST(FastPaths, OrientCopiesTriplesAsTheyStand) {
  struct row {
    std::string line, strand, expected;
  };
  // Positions 100 on the plus strand, 200 on the minus strand.
  std::vector<row> rows = {
      {"s r 100 A G 1 0 0 0.25 0.5 0.25", "+", "s r 100 A G 1 0 0 0.25 0.5 0.25"},
      {"s r 100 A G 1 0 0 0 1", "+", "s r 100 A G 1 0 0"},
      {"s r 100 A G 1  0 0\t0 1 0", "+", "s r 100 A G 1 0 0 0 1 0"},
      {"s r 100 A G 1 0 0 ", "+", "s r 100 A G 1 0 0"},
      {"s r 100 A G 1 0 0\r", "+", "s r 100 A G 1 0 0"},
      {"s r 100 A G", "+", "s r 100 A G"},
      {"s r 100 A G ", "+", "s r 100 A G"},
      {"s r 100 G A 0.1 0.2 0.7 1 0 0", "+", "s r 100 A G 0.7 0.2 0.1 0 0 1"},
      {"s r 100 G A 0.1 0.2 0.7 1 0", "+", "s r 100 A G 0.7 0.2 0.1"},
      {"s r 200 A G 0.1 0.2 0.7", "-", "s r 200 C T 0.7 0.2 0.1"},
      {"s r 200 C A 0.1 0.2 0.7", "-", "s r 200 G T 0.1 0.2 0.7"},
      // Past the first sixteen bytes: a doubled blank and a tab, then a long swap.
      {"s r 100 A G 1 0 0 0 1 0 0 0 1 0.5 0.25  0.25\t1 0 0", "+",
       "s r 100 A G 1 0 0 0 1 0 0 0 1 0.5 0.25 0.25 1 0 0"},
      {"s r 100 G A 1 0 0 0 1 0 0.003 0.0009 0.9961 0.5 0.25 0.25 7e-05 0 1 0", "+",
       "s r 100 A G 0 0 1 0 1 0 0.9961 0.0009 0.003 0.25 0.25 0.5 1 0 7e-05"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.line);
    temp_dir dir;
    dir.write("in.gen", r.line + "\n");
    dir.write("in.strand", "100 +\n200 -\n");
    run_result res = run_trevlin(dir.path(), {"-O", "--g", "in.gen", "--strand", "in.strand",
                                              "--order", "--og", "out.gen"});
    EXPECT_EQ(res.status, 0) << res.out;
    EXPECT_EQ(dir.read("out.gen"), r.expected + "\n");
  }
}

}  // namespace

namespace {

// A line whose written triples fill the formatting buffer many times over.
TEST(FastPaths, SubsetWritesLongLinesWhole) {
  std::string gen = "s1 rs1 100 A G", expected = "s1 rs1 100 A G ";
  for (int i = 0; i < 12000; ++i) {
    gen += i % 2 ? " 0.953 0.047 0.000" : " 1 0 0";
    expected += i % 2 ? "0.9530 0.0470 0 " : "1 0 0 ";
  }
  temp_dir dir;
  dir.write("in.gen", gen + "\n");
  run_result res = run_trevlin(dir.path(), {"-S", "--g", "in.gen", "--start", "0", "--og", "out.gen"});
  EXPECT_EQ(res.status, 0) << res.out;
  EXPECT_EQ(dir.read("out.gen"), expected + "\n");
}

}  // namespace
