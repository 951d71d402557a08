// -M: the merge pass. For each position in ascending order it reads every
// GEN file's line there, reconciles the triples that several files give one
// merged sample, and writes the merged line. Only one position's
// probabilities are held at a time.
#include "merge_pass.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "gen_line.h"
#include "number_format.h"
#include "text.h"

namespace {

struct merge_counts {
  long long conflicts = 0;
  long long written = 0;
  std::vector<long long> missing;  // per merged sample
};

// The input text of the one triple a merged sample took at the position at
// hand, kept while it is the text the output would write for its values.
// at points into the line buffer of the reader of the file it came from. It
// stays valid while its position is at hand: each file has one line per
// position (a repeated position keeps its last), so that reader is not read
// again before the next position, whose serial lapses the text.
struct slot_text {
  const char* at;        // "a b c"
  unsigned char size;    // at most kTripleCopy
  uint64_t serial = 0;   // serial of the position it belongs to; 0: none
};

// A kept text goes to the output in one fixed copy of kTripleCopy bytes from
// its start: only a text that fits is kept, and the bytes after it can be
// read because the reader leaves kLineSlack bytes after every line.
constexpr size_t kTripleCopy = 32;
static_assert(kTripleCopy <= line_reader::kLineSlack,
              "a kept text is copied with bytes from after its line");

// What the merge pass shares from one position to the next.
struct merge_pass {
  merge_pass(const merged_samples& samples, readers& gen_readers, double call_threshold)
      : ms(samples),
        gens(gen_readers),
        threshold(call_threshold),
        probs(3 * samples.keys.size()),
        texts_of(samples.keys.size()),
        triples(samples.keys.size() * 3 * (1 + double_texts::kPutRoom) + 1 + kTripleCopy) {
    counts.missing.assign(samples.keys.size(), 0);
  }

  const merged_samples& ms;
  readers& gens;
  double threshold;
  std::vector<double> probs;  // AA AB BB per merged sample, at the position at hand
  std::vector<slot_text> texts_of;  // per merged sample
  uint64_t serial = 0;              // of the position at hand, counted from 1
  merge_counts counts;
  double_texts texts;
  std::vector<char> triples;  // a blank and a put's room per value, the '\n', a copy's room
};

inline bool is_conflict(const double* q) { return q[0] == -9.0 && q[1] == -9.0 && q[2] == -9.0; }

// Hard-calls the stored triple q when it and the new triple p agree on a
// genotype with at least the threshold; AA first, then AB, BB.
void set_probs_to_1(double* q, const double* p, double threshold) {
  if (p[0] >= threshold && q[0] >= threshold) {
    q[0] = 1, q[1] = 0, q[2] = 0;
  } else if (p[1] >= threshold && q[1] >= threshold) {
    q[0] = 0, q[1] = 1, q[2] = 0;
  } else if (p[2] >= threshold && q[2] >= threshold) {
    q[0] = 0, q[1] = 0, q[2] = 1;
  }
}

// A triple that disagrees with what the slot holds: reported, counted, and
// the slot marked as a conflict. Standard output names the triple's column
// too; the log does not.
[[gnu::noinline]] void conflict(run_log& log, const std::string& key, const descriptor& d, size_t f,
                                size_t s, const double* p, double* q, merge_counts& counts) {
  std::string msg = "Mismatched overlap locus. rs_id: " + d.rs_id +
                    " pos: " + int_text(d.position) + " subject: " + key +
                    " file: " + int_text(static_cast<long long>(f));
  const size_t col_at = msg.size();
  for (const double* t : {p, static_cast<const double*>(q)}) {
    msg += " probs: ";
    append_double(msg, t[0]), msg += ' ', append_double(msg, t[1]), msg += ' ';
    append_double(msg, t[2]);
  }
  msg += '\n';
  std::string with_col = msg;
  with_col.insert(col_at, " col: " + int_text(static_cast<long long>(s)));
  log.out(with_col, true);
  log.log(msg, true);
  ++counts.conflicts;
  q[0] = q[1] = q[2] = -9.0;
}

// What reconcile did to a slot.
enum class slot_change { none, took, other };

// Reconciles triple p (already in the merged orientation), of row s of file
// f, with the slot of merged sample m; the first rule that matches decides.
inline slot_change reconcile(run_log& log, merge_pass& mp, const descriptor& d, size_t f, size_t s,
                             size_t m, const double* p) {
  double* q = mp.probs.data() + 3 * m;
  if (p[0] == 0 && p[1] == 0 && p[2] == 0) return slot_change::none;  // no data for this sample
  if (p[0] == q[0] && p[1] == q[1] && p[2] == q[2]) return slot_change::none;
  const double t = mp.threshold;
  if ((p[0] >= t && q[0] >= t) || (p[1] >= t && q[1] >= t) || (p[2] >= t && q[2] >= t)) {
    set_probs_to_1(q, p, t);
    return slot_change::other;
  }
  if (q[0] == 0 && q[1] == 0 && q[2] == 0) {
    q[0] = p[0], q[1] = p[1], q[2] = p[2];
    return slot_change::took;
  }
  conflict(log, mp.ms.keys[m], d, f, s, p, q, mp.counts);
  return slot_change::other;
}

// After a slot took a triple: keeps the triple's texts when the output can
// copy them as they stand, that is when each is its value's written form
// (written_form) and the three stand one blank apart, in this order, within
// kTripleCopy bytes. Drops them otherwise.
inline void keep_texts(slot_text& st, const std::string_view* text, bool written_form,
                       uint64_t serial) {
  st.serial = 0;
  if (!written_form) return;
  const char* a = text[0].data() + text[0].size();
  const char* b = text[1].data() + text[1].size();
  const char* end = text[2].data() + text[2].size();
  if (text[1].data() == a + 1 && *a == ' ' && text[2].data() == b + 1 && *b == ' ' &&
      end - text[0].data() <= static_cast<ptrdiff_t>(kTripleCopy)) {
    st.at = text[0].data();  // see slot_text for how long it lives
    st.size = static_cast<unsigned char>(end - text[0].data());
    st.serial = serial;
  }
}

// The first field of triple s of the probability fields rest that is not a
// number, counted over the whole line from 1; 0 when the triple is the
// incomplete last one, which is dropped. Looked for once the merge loop has
// left the line, so that the loop carries nothing for it.
[[gnu::cold, gnu::noinline]] size_t word_in_triple(std::string_view rest, size_t s) {
  field_cursor c(rest);
  std::string_view f[3];
  for (size_t i = 0; i < 3 * s; ++i) c.next(f[0]);
  if (!(c.next(f[0]) && c.next(f[1]) && c.next(f[2]))) return 0;
  double v;
  for (size_t i = 0; i < 3; ++i)
    if (!parse_double(f[i], v)) return 6 + 3 * s + i;
  return 0;
}

// "Bad line" for field K of the line at offset, which is not a number. The
// merge pass reaches its lines by offset without counting them: the file is
// read again up to the line, for its number.
[[gnu::cold, gnu::noinline]] std::string not_a_number(line_reader& in, uint64_t offset, size_t k) {
  std::string_view line;
  if (!in.rewind()) return in.error();
  while (in.tell() < offset && in.next(line)) {
  }
  if (in.tell() != offset || !in.next(line)) return in.failed() ? in.error() : in.file_changed();
  return in.bad_line("field " + int_text(static_cast<long long>(k)) + " is not a number");
}

// Reads the next triple of a line into p, and its texts into text;
// written_form tells whether all three texts are as the output writes them.
// Returns how many values it read: 3, or fewer at the end of the line or at a
// field that is not a number.
[[gnu::always_inline]] inline int read_triple(probability_reader& r, double* p,
                                              std::string_view* text, bool& written_form) {
  const char* at = r.position();
  unsigned digit[3];
  written_form = true;
  if (r.next_digit_triple(digit[0], digit[1], digit[2])) {
    for (int k = 0; k < 3; ++k) {
      p[k] = digit[k];
      text[k] = std::string_view(at + 2 * k, 1);
    }
    return 3;
  }
  int got = 0;
  for (probability v; got < 3 && r.next(v); ++got) {
    p[got] = v.value();
    text[got] = r.field();
    written_form &= is_written_form(v, text[got]);
  }
  return got;
}

// Reads every file's line at the position and reconciles its triples into
// mp.probs. Triples are read for the SAMPLE file's rows only, up to the end
// of the line; an incomplete last triple is dropped, and any other field
// that is not a number fails the run. Kept out of its caller, as
// write_position is: each loop then has the registers to itself.
[[gnu::noinline]] bool read_position(run_log& log, merge_pass& mp, const position_entry& e) {
  std::fill(mp.probs.begin(), mp.probs.end(), 0.0);
  ++mp.serial;  // the texts kept for earlier positions lapse
  std::string_view line;
  for (const file_line& fl : e.lines) {
    if (!mp.gens[fl.file]) continue;
    line_reader& in = *mp.gens[fl.file];
    // The scan found a line of this position here; anything else means the
    // file was written to since.
    gen_head h;
    if (!in.seek(fl.offset) || !in.next(line) || read_gen_head(line, h) ||
        h.position != e.desc.position) {
      log.both(in.failed() ? in.error() : in.file_changed(), true);
      return false;
    }
    const std::vector<size_t>& rows = mp.ms.row_sample[fl.file];
    probability_reader r(h.rest);
    size_t s = 0;
    for (; s < rows.size(); ++s) {
      double p[3];
      std::string_view text[3];
      bool written_form;
      const int got = read_triple(r, p, text, written_form);
      if (got < 3) break;
      if (fl.reverse) {
        std::swap(p[0], p[2]);
        std::swap(text[0], text[2]);
      }
      // The slot's texts follow its values: kept when it took the triple
      // whole, dropped at any other change.
      const slot_change c = reconcile(log, mp, e.desc, fl.file, s, rows[s], p);
      if (c == slot_change::took)
        keep_texts(mp.texts_of[rows[s]], text, written_form, mp.serial);
      else if (c == slot_change::other)
        mp.texts_of[rows[s]].serial = 0;
    }
    // The triples ended early: at the end of the line, or at a word.
    if (s < rows.size()) {
      if (const size_t k = word_in_triple(h.rest, s)) {
        log.both(not_a_number(in, fl.offset, k), true);
        return false;
      }
    }
  }
  return true;
}

// Appends the merged GEN line of a position to buf, and counts its missing
// genotypes.
[[gnu::noinline]] void write_position(merge_pass& mp, int32_t position, const descriptor& d,
                                      std::string& buf) {
  buf += d.snp_id;
  buf += ' ';
  buf += d.rs_id;
  buf += ' ';
  append_int(buf, position);
  buf += ' ';
  buf += d.allele1;
  buf += ' ';
  buf += d.allele2;
  char* p = mp.triples.data();
  const size_t n = mp.ms.keys.size();
  for (size_t m = 0; m < n; ++m) {
    const double* q = mp.probs.data() + 3 * m;
    if (q[0] <= 0 && q[1] <= 0 && q[2] <= 0) ++mp.counts.missing[m];
    if (is_conflict(q)) {
      std::memcpy(p, " 0 0 0", 6);
      p += 6;
      continue;
    }
    const slot_text& st = mp.texts_of[m];
    if (st.serial == mp.serial) {
      // One fixed copy (see kTripleCopy); triples has room after its end.
      *p++ = ' ';
      std::memcpy(p, st.at, kTripleCopy);
      p += st.size;
      continue;
    }
    for (int i = 0; i < 3; ++i) {
      *p++ = ' ';
      p = mp.texts.put(p, q[i]);
    }
  }
  *p++ = '\n';
  buf.append(mp.triples.data(), static_cast<size_t>(p - mp.triples.data()));
}

}  // namespace

bool merge_positions(run_log& log, const position_table& table, const merged_samples& ms,
                     readers& gens, double threshold, text_writer& out,
                     std::vector<long long>& missing) {
  merge_pass mp(ms, gens, threshold);
  for (const auto& [position, e] : table) {
    if (e.left_out) continue;
    if (!read_position(log, mp, e)) {
      out.close();
      return false;
    }
    write_position(mp, position, e.desc, out.buffer());
    out.maybe_flush();
    if (mp.counts.written % 1000 == 0) log.out(int_text(mp.counts.written) + "\r", true);
    ++mp.counts.written;
  }
  for (const auto& in : mp.gens) {
    if (in && !in->unchanged()) {
      log.both(in->error(), true);
      out.close();
      return false;
    }
  }
  if (!close_output(log, out)) return false;
  log.both("Number of mismatched overlapping loci: " + int_text(mp.counts.conflicts) + "\n", true);
  log.both("Number of merged SNPs: " + int_text(mp.counts.written) + "\n", true);
  missing = std::move(mp.counts.missing);
  return true;
}
