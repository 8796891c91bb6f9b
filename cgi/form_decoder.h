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

// decodeFormText for a text whole.
std::string decodeFormText(std::string_view raw);

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
  const std::vector<std::string>& values() const { return values_; }
  std::vector<std::string> takeValues() { return std::move(values_); }

 private:
  enum class State { name, value, done };
  void endValue();

  State state_ = State::name;
  bool nameIsEmpty_ = true;
  std::string value_;
  FormTextDecoder valueDecoder_;
  std::vector<std::string> values_;
};

// The values of a whole body, as FormDecoder collects them.
std::vector<std::string> decodeFormValues(std::string_view body);

#endif  // CONVERT_CGI_FORM_DECODER_H_
