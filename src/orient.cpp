// -O: orients the alleles of a GEN file to a strand file.
//
// The strand file is read into a table first; the GEN file is then streamed
// once, each SNP on the minus strand complemented and, with --order, its
// alleles put in byte order with its triples reversed.
#include "orient.h"

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "file_names.h"
#include "gen_line.h"
#include "run_log.h"
#include "text.h"

namespace {

// The complement on the minus strand; an allele outside the four bases
// stays as read, so an odd allele never turns into an empty field.
std::string_view minus_strand(std::string_view allele) {
  std::string_view c = complement(allele);
  return c.empty() ? allele : c;
}

// Reads an int the way a stream does: leading white space, an optional sign,
// then digits up to the first character that cannot continue the number, so
// "100+" gives 100 and leaves "+" in rest. False when no digits follow or the
// value leaves the 32-bit range.
bool read_leading_int(std::string_view& rest, int32_t& value) {
  size_t i = 0, n = rest.size();
  while (i < n && is_space(rest[i])) ++i;
  bool negative = false;
  if (i < n && (rest[i] == '+' || rest[i] == '-')) negative = rest[i++] == '-';
  size_t digits = i;
  int64_t v = 0;
  bool too_big = false;
  for (; i < n && rest[i] >= '0' && rest[i] <= '9'; ++i) {
    if (!too_big) {
      v = v * 10 + (rest[i] - '0');
      if (v > int64_t(INT32_MAX) + 1) too_big = true;
    }
  }
  rest = rest.substr(i);
  if (i == digits || too_big) return false;
  if (negative) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return false;
  value = static_cast<int32_t>(v);
  return true;
}

using strand_table = std::vector<std::pair<int32_t, char>>;

// Sorts the entries read in file order by position, keeping for each
// position the orientation of its last line.
void settle(strand_table& table) {
  std::stable_sort(table.begin(), table.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
  size_t out = 0;
  for (size_t i = 0; i < table.size(); ++i) {
    if (out > 0 && table[out - 1].first == table[i].first)
      table[out - 1] = table[i];
    else
      table[out++] = table[i];
  }
  table.resize(out);
}

// The orientation of a position, 0 when the table has none.
char lookup(const strand_table& table, int32_t position) {
  auto it = std::lower_bound(table.begin(), table.end(), position,
                             [](const auto& e, int32_t p) { return e.first < p; });
  return it != table.end() && it->first == position ? it->second : 0;
}

// Appends the complete triples of rest, a single-blank layout whose blanks
// are at the offsets in blanks, each " a b c" as " c b a": the same bytes in
// all. blanks gains the offset where the last word ends.
[[gnu::always_inline]] inline void append_reversed_triples(std::string_view rest,
                                                           std::vector<uint32_t>& blanks,
                                                           size_t triples, std::string& out) {
  const char* const p = rest.data();
  blanks.push_back(static_cast<uint32_t>(rest.size()));  // where the last word ends
  const size_t at = out.size(), size = blanks[3 * triples];
  out.resize(at + size + 8);  // room for a whole 8-byte copy at the end
  char* o = &out[at];
  for (size_t t = 0; t < triples; ++t) {
    const uint32_t* b = &blanks[3 * t];
    for (int k = 2; k >= 0; --k) {
      const size_t len = b[k + 1] - b[k];  // the blank and the word after it
      // Most words are short: one fixed copy of eight bytes, where the
      // input has them, instead of a copy of any length.
      if (len <= 8 && b[k] + 8 <= rest.size())
        std::memcpy(o, p + b[k], 8);
      else
        std::memcpy(o, p + b[k], len);
      o += len;
    }
  }
  out.resize(at + size);
}

// Appends the two alleles, complemented on the minus strand and in byte order
// when asked, then the probability words of rest, three by three, each triple
// reversed when the alleles were swapped. The words are copied as they stand;
// an incomplete last triple is dropped.
void orient_snp(std::string_view rest, std::string_view allele_a, std::string_view allele_b,
                bool minus, bool order, std::string& out, std::vector<uint32_t>& blanks) {
  if (minus) {
    allele_a = minus_strand(allele_a);
    allele_b = minus_strand(allele_b);
  }
  // string_view compares as unsigned bytes, a shorter prefix first.
  bool swap = order && allele_b < allele_a;
  if (swap) std::swap(allele_a, allele_b);
  out.append(allele_a.data(), allele_a.size());
  out += ' ';
  out.append(allele_b.data(), allele_b.size());

  const char* p = rest.data();
  const char* const e = p + rest.size();
  if (single_blank_layout(rest, blanks)) {
    const size_t triples = blanks.size() / 3;
    if (!swap) {
      // Already " w w w ..."; an incomplete last triple is dropped.
      out.append(p, triples * 3 == blanks.size() ? rest.size() : blanks[3 * triples]);
      return;
    }
    append_reversed_triples(rest, blanks, triples, out);
    return;
  }
  const char* w[3];
  size_t len[3];
  for (;;) {
    for (int k = 0; k < 3; ++k) {
      while (p < e && is_space(*p)) ++p;
      if (p == e) return;
      w[k] = p;
      while (p < e && !is_space(*p)) ++p;
      len[k] = static_cast<size_t>(p - w[k]);
    }
    if (swap) {
      std::swap(w[0], w[2]);
      std::swap(len[0], len[2]);
    }
    for (int k = 0; k < 3; ++k) {
      out += ' ';
      out.append(w[k], len[k]);
    }
  }
}

// The strand pass: every line's position and orientation, in file order;
// lines with another orientation are reported and add nothing.
bool read_strand_file(run_log& log, const std::string& name, strand_table& table) {
  line_reader in;
  if (!open_input(log, in, name, is_gzip_name(name))) return false;
  std::string msg;
  std::string_view line;
  while (in.next(line)) {
    int32_t position = 0;
    std::string_view orientation;
    std::string_view rest = line;
    if (read_leading_int(rest, position)) {
      field_cursor c(rest);
      c.next(orientation);
    } else {
      position = 0;  // a line without a position never borrows another line's
    }
    if (orientation == "+" || orientation == "-") {
      table.emplace_back(position, orientation[0]);
    } else {
      msg.assign("Unknown orientation: ");
      msg.append(orientation.data(), orientation.size());
      msg += ' ';
      append_int(msg, position);
      msg += '\n';
      log.both(msg, true);
    }
  }
  if (in.failed()) {
    log.both(in.error(), true);
    return false;
  }
  settle(table);
  return true;
}

struct orient_counts {
  int64_t input = 0;   // GEN lines read
  int64_t output = 0;  // GEN lines written
};

// One GEN line: its message when the table has no orientation for it, its
// output line unless it is left out, and every thousandth a progress line.
void orient_line(run_log& log, const gen_head& g, char strand, bool excl, bool order,
                 text_writer& out, orient_counts& counts, std::string& msg,
                 std::vector<uint32_t>& blanks) {
  if (!strand) {
    msg.assign("No orientation for SNP: ");
    append_int(msg, g.position);
    msg += ' ';
    msg.append(g.snp_id.data(), g.snp_id.size());
    msg += ' ';
    msg.append(g.rs_id.data(), g.rs_id.size());
    msg += '\n';
    log.log_then_out(msg);
  }
  if (strand || !excl) {
    std::string& buf = out.buffer();
    buf.append(g.snp_id.data(), g.snp_id.size());
    buf += ' ';
    buf.append(g.rs_id.data(), g.rs_id.size());
    buf += ' ';
    append_int(buf, g.position);
    buf += ' ';
    orient_snp(g.rest, g.allele_a, g.allele_b, strand == '-', order, buf, blanks);
    buf += '\n';
    out.maybe_flush();
    ++counts.output;
  }
  if (counts.input % 1000 == 0) {
    msg.clear();
    append_int(msg, counts.input);
    msg += '\n';
    log.out(msg, true);
  }
  ++counts.input;
}

// The GEN pass. The GEN input is opened first: an output it cannot fill is
// never created or emptied. Its open failures go to the log first.
bool orient_gen_file(run_log& log, const std::string& gen_file, const std::string& out_gen,
                     const strand_table& table, bool excl, bool order, orient_counts& counts) {
  line_reader in;
  if (!in.open(gen_file, is_gzip_name(gen_file))) {
    log.log_then_out(in.error());
    return false;
  }
  text_writer out;
  if (!out.open(out_gen, is_gzip_name(out_gen))) {
    log.log_then_out(out.error());
    return false;
  }
  std::string msg;
  std::vector<uint32_t> blanks;  // of the line at hand, reused
  std::string_view line;
  while (in.next(line)) {
    if (is_blank(line)) continue;
    gen_head g;
    if (const char* bad = read_gen_head(line, g)) {
      log.both(in.bad_line(bad), true);
      return false;
    }
    orient_line(log, g, lookup(table, g.position), excl, order, out, counts, msg, blanks);
  }
  if (in.failed()) {
    log.both(in.error(), true);
    return false;
  }
  return close_output(log, out);
}

}  // namespace

std::string orient_output(const std::string& gen_file, const std::string& out_gen) {
  // A compressed GEN input gets a compressed output, and the name says so.
  return !is_gzip_name(out_gen) && is_gzip_name(gen_file) ? out_gen + ".gz" : out_gen;
}

int orient_to_strand(std::string gen_file, std::string strand_file, std::string out_gen,
                     bool excl, bool order) {
  out_gen = orient_output(gen_file, out_gen);

  run_log log;
  if (!log.open_append()) return 1;
  // The output is truncated before the GEN input is read: never let it be one.
  if (!check_outputs(log, {out_gen}, orient_inputs(gen_file, strand_file))) return 1;

  log.both("Processing strand file...\n");
  strand_table table;
  if (!read_strand_file(log, strand_file, table)) return 1;

  log.both("Processing GEN file...\n");
  orient_counts counts;
  if (!orient_gen_file(log, gen_file, out_gen, table, excl, order, counts)) return 1;

  std::string msg = "Input SNPs: ";
  append_int(msg, counts.input);
  msg += " Output SNPs: ";
  append_int(msg, counts.output);
  msg += '\n';
  log.out(msg, true);
  log.close();
  return 0;
}
