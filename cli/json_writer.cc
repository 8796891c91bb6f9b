#include "cli/json_writer.h"

#include <cstdio>

namespace {

// The length of the valid UTF-8 sequence at the start of `text`, or 0.
std::size_t utf8Length(std::string_view text) {
  const auto byte = [&](std::size_t i) {
    return static_cast<unsigned char>(text[i]);
  };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  uint32_t lowest = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
    lowest = 0x80;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    lowest = 0x800;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    lowest = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  uint32_t code = lead & (0x7f >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xc0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3f);
  }
  // No overlong form, no surrogate, nothing past U+10FFFF.
  if (code < lowest || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff)
    return 0;
  return length;
}

void writeEscape(std::ostream& out, unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "\\u%04x", value);
  out << text;
}

}  // namespace

void writeJsonString(std::ostream& out, std::string_view text) {
  out << '"';
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out << '\\' << static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      writeEscape(out, c);
    } else if (c >= 0x80) {
      const std::size_t length = utf8Length(text.substr(i));
      if (length == 0) {
        writeEscape(out, c);
      } else {
        out.write(text.data() + i, static_cast<std::streamsize>(length));
        i += length;
        continue;
      }
    } else {
      out << static_cast<char>(c);
    }
    ++i;
  }
  out << '"';
}

JsonObject::JsonObject(std::ostream& out) : out_(out) { out_ << '{'; }

JsonObject::~JsonObject() { out_ << '}'; }

std::ostream& JsonObject::member(std::string_view name) {
  if (!first_) out_ << ',';
  first_ = false;
  writeJsonString(out_, name);
  out_ << ':';
  return out_;
}

JsonObject& JsonObject::number(std::string_view name, int64_t value) {
  member(name) << value;
  return *this;
}

JsonObject& JsonObject::boolean(std::string_view name, bool value) {
  member(name) << (value ? "true" : "false");
  return *this;
}

JsonObject& JsonObject::text(std::string_view name, std::string_view value) {
  writeJsonString(member(name), value);
  return *this;
}

JsonObject& JsonObject::null(std::string_view name) {
  member(name) << "null";
  return *this;
}
