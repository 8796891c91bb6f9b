#include "base/numbers.h"

#include <limits>

namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Skips white space and a sign; returns the index of the first byte after them.
std::size_t skipToDigits(std::string_view text, bool* negative) {
  std::size_t i = 0;
  while (i < text.size() && isSpace(text[i])) ++i;
  *negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    *negative = text[i] == '-';
    ++i;
  }
  return i;
}

}  // namespace

int64_t readNumber64(std::string_view text) {
  bool negative = false;
  std::size_t i = skipToDigits(text, &negative);
  // Accumulate the magnitude unsigned; it saturates well before it could wrap.
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  uint64_t magnitude = 0;
  for (; i < text.size() && isDigit(text[i]); ++i) {
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (magnitude > (limit - digit) / 10) {
      magnitude = limit;
    } else {
      magnitude = magnitude * 10 + digit;
    }
  }
  if (!negative) return static_cast<int64_t>(magnitude);
  if (magnitude == uint64_t{1} << 63)
    return std::numeric_limits<int64_t>::min();
  return -static_cast<int64_t>(magnitude);
}

int32_t readNumber(std::string_view text) {
  const uint32_t low =
      static_cast<uint32_t>(static_cast<uint64_t>(readNumber64(text)));
  if (low <= INT32_MAX) return static_cast<int32_t>(low);
  return -static_cast<int32_t>(~low) - 1;
}

bool readInt32Strict(std::string_view text, int32_t* value) {
  bool negative = false;
  std::size_t i = skipToDigits(text, &negative);
  if (i >= text.size() || !isDigit(text[i])) return false;
  const int64_t number = readNumber64(text);
  if (number < std::numeric_limits<int32_t>::min() ||
      number > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  *value = static_cast<int32_t>(number);
  return true;
}

std::string toDecimalText(int32_t value) {
  // Work on the magnitude as unsigned so that INT32_MIN needs no special case.
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value)
                                 : static_cast<uint32_t>(value);
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::string text;
  if (value < 0) text.push_back('-');
  while (n > 0) text.push_back(digits[--n]);
  return text;
}
