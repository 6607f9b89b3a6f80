#include "text_codec.h"

namespace jet {
namespace {

inline void put_utf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes UTF-16 code units given one at a time, pairing surrogates.
class Utf16Sink {
 public:
  explicit Utf16Sink(std::string& out) : out_(out) {}
  ~Utf16Sink() { flush(); }
  void unit(uint32_t u) {
    if (u < 0x80 && pending_ == 0) {
      out_.push_back(static_cast<char>(u));
      return;
    }
    if (pending_ != 0) {
      if (u >= 0xDC00 && u <= 0xDFFF) {
        put_utf8(0x10000 + ((pending_ - 0xD800) << 10) + (u - 0xDC00), out_);
        pending_ = 0;
        return;
      }
      flush();
    }
    if (u >= 0xD800 && u <= 0xDBFF) {
      pending_ = u;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      put_utf8(0xFFFD, out_);
    } else {
      put_utf8(u, out_);
    }
  }
  void flush() {
    if (pending_ != 0) put_utf8(0xFFFD, out_);
    pending_ = 0;
  }

 private:
  std::string& out_;
  uint32_t pending_ = 0;
};

}  // namespace

std::string utf16le_to_utf8(const uint8_t* data, std::size_t bytes) {
  std::string out;
  out.reserve(bytes / 2);
  Utf16Sink sink(out);
  for (std::size_t i = 0; i + 1 < bytes; i += 2) sink.unit(data[i] | (data[i + 1] << 8));
  sink.flush();
  return out;
}

void append_jet_text(const uint8_t* data, std::size_t bytes, std::string& out) {
  Utf16Sink sink(out);
  if (bytes >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
    bool compressed = true;
    std::size_t i = 2;
    while (i < bytes) {
      if (data[i] == 0x00) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        sink.unit(data[i]);
        ++i;
      } else {
        if (i + 1 >= bytes) break;
        sink.unit(data[i] | (data[i + 1] << 8));
        i += 2;
      }
    }
  } else {
    for (std::size_t i = 0; i + 1 < bytes; i += 2) sink.unit(data[i] | (data[i + 1] << 8));
  }
  sink.flush();
}

void append_utf8_as_utf16le(std::string_view text, std::string& out) {
  auto put = [&out](uint32_t u) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  };
  std::size_t i = 0;
  while (i < text.size()) {
    uint8_t c = static_cast<uint8_t>(text[i]);
    uint32_t cp;
    int extra;
    if (c < 0x80) { cp = c; extra = 0; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
    else { put(0xFFFD); ++i; continue; }
    if (extra > 0 && i + extra >= text.size()) {
      put(0xFFFD);
      break;
    }
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      uint8_t cc = static_cast<uint8_t>(text[i + k]);
      if ((cc & 0xC0) != 0x80) { ok = false; break; }
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (!ok) { put(0xFFFD); ++i; continue; }
    i += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
}

std::u32string utf8_to_utf32(std::string_view s) {
  std::u32string out;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    int n;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      n = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      n = 3;
    } else {
      cp = c & 0x07;
      n = 4;
    }
    for (int k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    out.push_back(cp);
    i += n;
  }
  return out;
}

std::string utf32_to_utf8(std::u32string_view s) {
  std::string out;
  for (char32_t c : s) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

}  // namespace jet
