// Decodes arbitrary request bodies, and reads them with an arbitrary
// CONTENT_LENGTH.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cgi/form_decoder.h"
#include "cgi/request_driver.h"
#include "testing/cgi_runner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);

  // Each value is decoded from its own stretch of the body, and decoding never
  // lengthens text.
  FormDecoder whole;
  whole.feed(body);
  whole.finish();
  const std::vector<std::string> values = valueTexts(whole.values());
  std::size_t total = 0;
  for (const std::string& value : values) total += value.size();
  if (total > size || values.size() > FormDecoder::kKeptValues) std::abort();
  // A body that arrives in two pieces, cut anywhere, decodes alike.
  FormDecoder pieces;
  const std::size_t cut = size == 0 ? 0 : data[0] % (size + 1);
  pieces.feed(std::string_view(body).substr(0, cut));
  pieces.feed(std::string_view(body).substr(cut));
  pieces.finish();
  if (valueTexts(pieces.values()) != values) std::abort();
  std::string decoded;
  FormTextDecoder text;
  text.feed(body, &decoded);
  text.finish(&decoded);
  if (decoded.size() > size) std::abort();
  if (body.find_first_of("%+") == std::string::npos && decoded != body)
    std::abort();

  // The first bytes, up to a line feed, as CONTENT_LENGTH: the body holds at
  // most what the input offers, whatever the claim.
  const std::size_t end = body.find('\n');
  const std::string length = body.substr(0, end == std::string::npos ? 0 : end);
  std::istringstream input(body);
  total = 0;
  for (const FormValue& value : readFormValues(input, length))
    total += value.size();
  if (total > size) std::abort();
  return 0;
}
