// Decoding of the URL-encoded form body into name/value pairs.
#ifndef CONVERT_CGI_FORM_DECODER_H_
#define CONVERT_CGI_FORM_DECODER_H_

#include <string>
#include <string_view>
#include <vector>

struct FormPair {
  std::string name;
  std::string value;
};

// The decoder state of one request: the part of the body not yet decoded.
class FormDecoder {
 public:
  explicit FormDecoder(std::string body) : pending_(std::move(body)) {}

  // Returns the next pair and shortens the pending text. The end mark, a pair
  // with an empty name, comes back when the pending text is empty or holds no
  // "=". Never fails.
  FormPair nextPair();

 private:
  std::string pending_;
  std::size_t start_ = 0;  // the pending text is pending_ from here on
};

// Decodes "+" to a space and "%hl" to one byte; other bytes pass unchanged. A
// "%" with fewer than two bytes after it is kept as it stands, with those
// bytes.
std::string decodeFormText(std::string_view raw);

// Collects the values of the pairs before the first end mark, in body order.
std::vector<std::string> decodeFormValues(std::string body);

#endif  // CONVERT_CGI_FORM_DECODER_H_
