// The gzip input path: raw bytes under a ".gz" name, or compressed text that
// is cut, has a byte flipped, or is made of two members. Both readers (the
// stream chain and zlib's reader) must return a prefix of the text, and the
// whole text exactly when the data is intact; -S on the same file must fail
// exactly when the reader does. Byte 0: the kind, bytes 1-5: cut and flip.
#include "fuzz_common.h"
#include "subset.h"

namespace {

struct read_result {
  std::string text;
  bool failed = false;
};

read_result read_all(line_reader& in) {
  read_result r;
  std::string_view line;
  while (in.next(line)) {
    r.text.append(line);
    if (in.had_newline()) r.text += '\n';
  }
  r.failed = in.failed();
  return r;
}

// Intact data reads back whole. Cut data reads as a prefix of the text and
// then fails. A flipped byte may change text already delivered (a stored
// block has no check of its own), but the CRC must still make the read fail
// unless the text came out whole.
void check_read(const read_result& r, std::string_view text, bool intact, bool flipped,
                const char* who) {
  if (intact) {
    if (r.failed || r.text != text) fuzz::fail(who);
    return;
  }
  // A flip in the padding bits after the last block changes nothing.
  if (!r.failed && !(flipped && r.text == text)) fuzz::fail(who);
  if (!flipped && (r.text.size() > text.size() || text.compare(0, r.text.size(), r.text) != 0))
    fuzz::fail(who);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  fuzz::scratch& d = fuzz::dir();
  d.clear();
  const uint8_t kind = data[0] % 4;
  const size_t cut_at = data[1] | (data[2] << 8), flip_at = data[3] | (data[4] << 8);
  const uint8_t flip = data[5];
  std::string_view text(reinterpret_cast<const char*>(data) + 6, size - 6);

  std::string bytes;
  bool known = kind != 0;  // the text is known only when we compressed it
  bool intact = known, flipped = false;
  if (kind == 0) {
    bytes.assign(text);
  } else if (kind == 3) {
    size_t half = text.size() / 2;
    bytes = gzip_bytes(text.substr(0, half)) + gzip_bytes(text.substr(half));
  } else {
    bytes = gzip_bytes(text, kind == 1 ? Z_DEFAULT_COMPRESSION : Z_NO_COMPRESSION);
    // Header bytes 4-9 (time, flags, system) change nothing a reader checks.
    if (flip && flip_at % bytes.size() >= 10) {
      bytes[flip_at % bytes.size()] ^= static_cast<char>(flip);
      intact = false;
      flipped = true;
    }
    if (cut_at % (bytes.size() + 1) < bytes.size() && cut_at % (bytes.size() + 1) > 0) {
      bytes.resize(cut_at % (bytes.size() + 1));
      intact = false;
    }
  }
  d.write("in.gz", bytes);
  const std::string name = d.file("in.gz");

  line_reader chain;
  read_result a;
  if (chain.open(name, true)) {
    a = read_all(chain);
    if (known) check_read(a, text, intact, flipped, "stream chain read wrong text or missed damage");
    // A second pass gives the same text.
    if (chain.rewind()) {
      read_result again = read_all(chain);
      if (again.text != a.text || again.failed != a.failed) fuzz::fail("second pass differs");
    }
  }
  line_reader by_content;
  if (by_content.open_by_content(name)) {
    read_result b = read_all(by_content);
    // One byte cannot show the gzip magic: by content it is plain text.
    if (known && bytes.size() >= 2) check_read(b, text, intact, flipped, "zlib read wrong text or missed damage");
  }

  // -S over the same file: a reader failure is a run failure.
  fuzz::captured_stdout cap;
  int status = subset(name, d.file("out.gz"), "", "", "", "", "", "", -1, -1, true, false, false,
                      false, false, 1.0, -1.0);
  std::string out = cap.finish();
  fuzz::check_status(status, out);
  if (a.failed && status == 0) fuzz::fail("a damaged GEN file gave status 0");
  return 0;
}
