#include "cgi/form_decoder.h"

namespace {

// The digit value of an escape byte. For 0-9, A-F and a-f the usual hexadecimal
// value; any other byte gives what the same arithmetic yields, modulo 256.
unsigned digitValue(unsigned char x) {
  if (static_cast<signed char>(x) <= 0x40)
    return static_cast<unsigned char>(x - 0x30);
  return static_cast<unsigned char>((x & ~0x20u) - 0x37);
}

}  // namespace

FormPair FormDecoder::nextPair() {
  const std::string_view pending = std::string_view(pending_).substr(start_);
  const std::size_t equals = pending.find('=');
  if (equals == std::string_view::npos) return FormPair{};
  const std::string_view rawName = pending.substr(0, equals);
  const std::string_view rest = pending.substr(equals + 1);
  const std::size_t ampersand = rest.find('&');
  const std::string_view rawValue = rest.substr(0, ampersand);
  FormPair pair{decodeFormText(rawName), decodeFormText(rawValue)};
  start_ = ampersand == std::string_view::npos
               ? pending_.size()
               : start_ + equals + 1 + ampersand + 1;
  return pair;
}

std::string decodeFormText(std::string_view raw) {
  std::string text;
  text.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '+') {
      text.push_back(' ');
    } else if (c == '%') {
      if (i + 2 >= raw.size()) {
        // Too near the end for an escape: keep the "%" and what follows it
        // unchanged.
        text.append(raw.substr(i));
        break;
      }
      const unsigned high = digitValue(static_cast<unsigned char>(raw[i + 1]));
      const unsigned low = digitValue(static_cast<unsigned char>(raw[i + 2]));
      text.push_back(
          static_cast<char>(static_cast<unsigned char>(16 * high + low)));
      i += 2;
    } else {
      text.push_back(c);
    }
  }
  return text;
}

std::vector<std::string> decodeFormValues(std::string body) {
  FormDecoder decoder(std::move(body));
  std::vector<std::string> values;
  for (;;) {
    FormPair pair = decoder.nextPair();
    if (pair.name.empty()) break;
    values.push_back(std::move(pair.value));
  }
  return values;
}
