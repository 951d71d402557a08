// gzip data for the tests: compressed inputs, and the text of compressed
// outputs. Shared by the end-to-end tests and the fuzz targets.
#pragma once

#include <string>
#include <string_view>

#include <zlib.h>

// One gzip member holding text, at the given zlib level.
inline std::string gzip_bytes(std::string_view text, int level = Z_DEFAULT_COMPRESSION) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// The text of gzip bytes, every member; *ok is false at damaged data.
inline std::string gunzip_bytes(std::string_view bytes, bool* ok = nullptr) {
  std::string out;
  bool good = true;
  if (bytes.empty()) {  // no member at all
    if (ok) *ok = true;
    return out;
  }
  z_stream z{};
  inflateInit2(&z, 15 + 16);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  char buf[65536];
  for (;;) {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    int r = inflate(&z, Z_NO_FLUSH);
    out.append(buf, sizeof buf - z.avail_out);
    if (r == Z_STREAM_END) {
      if (z.avail_in == 0) break;
      inflateReset(&z);
      continue;
    }
    if (r != Z_OK) {
      good = false;
      break;
    }
  }
  inflateEnd(&z);
  if (ok) *ok = good;
  return out;
}

inline bool is_gzip_data(std::string_view bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1f &&
         static_cast<unsigned char>(bytes[1]) == 0x8b;
}
