// A small writer of one JSON object, for the figures of convert-trades.
#ifndef CONVERT_CLI_JSON_WRITER_H_
#define CONVERT_CLI_JSON_WRITER_H_

#include <cstdint>
#include <ostream>
#include <string_view>

// Writes `text` as a JSON string. Folder and key names are bytes, not always
// UTF-8: valid UTF-8 is written as it stands, and every byte that is not part
// of a valid UTF-8 sequence is written as the character of the same number
// (\u0080 to \u00ff, as Latin-1 reads it), so the output is always valid
// JSON and a name of plain ASCII or UTF-8 reads back unchanged.
void writeJsonString(std::ostream& out, std::string_view text);

// Writes the members of one object, with commas between them, and closes it.
class JsonObject {
 public:
  explicit JsonObject(std::ostream& out);
  ~JsonObject();
  JsonObject(const JsonObject&) = delete;
  JsonObject& operator=(const JsonObject&) = delete;

  JsonObject& number(std::string_view name, int64_t value);
  JsonObject& boolean(std::string_view name, bool value);
  JsonObject& text(std::string_view name, std::string_view value);
  JsonObject& null(std::string_view name);
  // Starts a member whose value the caller writes (an object or an array).
  std::ostream& member(std::string_view name);

 private:
  std::ostream& out_;
  bool first_ = true;
};

#endif  // CONVERT_CLI_JSON_WRITER_H_
