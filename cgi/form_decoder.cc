#include "cgi/form_decoder.h"

#include <algorithm>

namespace {

// The digit value of an escape byte. For 0-9, A-F and a-f the usual hexadecimal
// value; any other byte gives what the same arithmetic yields, modulo 256.
unsigned digitValue(unsigned char x) {
  if (static_cast<signed char>(x) <= 0x40)
    return static_cast<unsigned char>(x - 0x30);
  return static_cast<unsigned char>((x & ~0x20u) - 0x37);
}

}  // namespace

void FormTextDecoder::feed(std::string_view raw, std::string* text) {
  std::size_t i = 0;
  while (i < raw.size()) {
    if (escapeLength_ >= 0) {
      // The two bytes after a "%" are taken whatever they are.
      escape_[escapeLength_++] = raw[i++];
      if (escapeLength_ == 2) {
        const unsigned high =
            digitValue(static_cast<unsigned char>(escape_[0]));
        const unsigned low = digitValue(static_cast<unsigned char>(escape_[1]));
        text->push_back(
            static_cast<char>(static_cast<unsigned char>(16 * high + low)));
        escapeLength_ = -1;
      }
      continue;
    }
    const std::size_t special = raw.find_first_of("+%", i);
    const std::size_t plainEnd =
        special == std::string_view::npos ? raw.size() : special;
    text->append(raw.substr(i, plainEnd - i));
    i = plainEnd;
    if (i == raw.size()) break;
    if (raw[i] == '+') {
      text->push_back(' ');
    } else {
      escapeLength_ = 0;
    }
    ++i;
  }
}

void FormTextDecoder::finish(std::string* text) {
  // Too near the end for an escape: keep the "%" and what follows it.
  if (escapeLength_ >= 0) {
    text->push_back('%');
    text->append(escape_, static_cast<std::size_t>(escapeLength_));
  }
  escapeLength_ = -1;
}

void FormValue::append(std::string_view bytes) {
  size_ += bytes.size();
  while (!bytes.empty()) {
    if (pieces_.empty() || pieces_.back().size() == kPieceSize) {
      pieces_.emplace_back();
      // A short value takes what it needs; a long one a whole piece at once.
      if (pieces_.size() > 1) pieces_.back().reserve(kPieceSize);
    }
    std::string& piece = pieces_.back();
    const std::size_t taken = std::min(kPieceSize - piece.size(), bytes.size());
    piece.append(bytes.substr(0, taken));
    bytes.remove_prefix(taken);
  }
}

bool FormValue::holdsZeroByte() const {
  return std::any_of(pieces_.begin(), pieces_.end(), [](const std::string& p) {
    return p.find('\0') != std::string::npos;
  });
}

std::string FormValue::text() const {
  std::string whole;
  whole.reserve(size_);
  for (const std::string& piece : pieces_) whole += piece;
  return whole;
}

void FormDecoder::feed(std::string_view piece) {
  std::size_t i = 0;
  while (i < piece.size() && state_ != State::done) {
    if (state_ == State::name) {
      // A name runs to the first "=", across any "&" before it.
      const std::size_t equals = piece.find('=', i);
      if (equals == std::string_view::npos) {
        if (i < piece.size()) nameIsEmpty_ = false;
        break;
      }
      if (equals > i) nameIsEmpty_ = false;
      i = equals + 1;
      if (nameIsEmpty_) {
        // The end mark: no pair after it is read.
        state_ = State::done;
        break;
      }
      state_ = State::value;
      continue;
    }
    // A value runs to the next "&"; an escape never reaches past it.
    const std::size_t ampersand = piece.find('&', i);
    const std::size_t end =
        ampersand == std::string_view::npos ? piece.size() : ampersand;
    decoded_.clear();
    valueDecoder_.feed(piece.substr(i, end - i), &decoded_);
    value_.append(decoded_);
    i = end;
    if (ampersand != std::string_view::npos) {
      ++i;
      endValue();
    }
  }
}

void FormDecoder::finish() {
  // A remainder without "=" is the end mark; an open value ends here.
  if (state_ == State::value) endValue();
  state_ = State::done;
}

void FormDecoder::endValue() {
  decoded_.clear();
  valueDecoder_.finish(&decoded_);
  value_.append(decoded_);
  values_.push_back(std::move(value_));
  value_ = FormValue();
  nameIsEmpty_ = true;
  state_ = values_.size() < kKeptValues ? State::name : State::done;
}
