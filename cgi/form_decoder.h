// Decoding of the URL-encoded form body into name/value pairs.
#ifndef CONVERT_CGI_FORM_DECODER_H_
#define CONVERT_CGI_FORM_DECODER_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Decodes form text fed in pieces: "+" to a space and "%hl" to one byte; other
// bytes pass unchanged. A "%" with fewer than two bytes after it is kept as it
// stands, with those bytes.
class FormTextDecoder {
 public:
  // Appends the decoded text of `raw` to `text`.
  void feed(std::string_view raw, std::string* text);
  // The text has ended: appends a "%" still waiting for its two bytes.
  void finish(std::string* text);

 private:
  int escapeLength_ = -1;  // the bytes taken after a "%", -1 outside one
  char escape_[2] = {0, 0};
};

// A decoded value, held in pieces of at most kPieceSize bytes that are each
// allocated once: a value of hundreds of megabytes grows without ever being
// copied, where a string that doubles its buffer holds the old and the new
// one at once.
class FormValue {
 public:
  static constexpr std::size_t kPieceSize = std::size_t{1} << 20;

  void append(std::string_view bytes);
  std::size_t size() const { return size_; }
  // The value's bytes, in order; none for an empty value.
  const std::vector<std::string>& pieces() const { return pieces_; }
  // Whether the value holds a zero byte.
  bool holdsZeroByte() const;
  // The value in one string: a copy.
  std::string text() const;

 private:
  std::vector<std::string> pieces_;
  std::size_t size_ = 0;
};

// The decoder state of one request, fed the body in pieces as it arrives. It
// collects the values of the pairs before the first end mark (a pair with an
// empty name, or a remainder with no "="), in body order, and keeps no more
// than kKeptValues of them: a form is three values, and four are enough to
// tell a wrong count. Names are never kept, since only whether one is empty
// matters, so memory holds the kept values and nothing of the rest.
class FormDecoder {
 public:
  static constexpr std::size_t kKeptValues = 4;

  void feed(std::string_view piece);
  // The body has ended: a value still open ends here.
  void finish();
  const std::vector<FormValue>& values() const { return values_; }
  std::vector<FormValue> takeValues() { return std::move(values_); }

 private:
  enum class State { name, value, done };
  void endValue();

  State state_ = State::name;
  bool nameIsEmpty_ = true;
  FormValue value_;
  std::string decoded_;  // the decoded text of the piece in hand
  FormTextDecoder valueDecoder_;
  std::vector<FormValue> values_;
};

#endif  // CONVERT_CGI_FORM_DECODER_H_
