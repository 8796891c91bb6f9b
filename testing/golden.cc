#include "testing/golden.h"

#include <map>
#include <mutex>

#include "testing/temp_dir.h"

const std::string& goldenText(const std::string& name) {
  static std::mutex mutex;
  static std::map<std::string, std::string> texts;
  const std::lock_guard<std::mutex> lock(mutex);
  auto it = texts.find(name);
  if (it == texts.end()) {
    std::string text = readFile(std::string(CONVERT_GOLDEN_DIR) + "/" + name);
    if (text == "<missing>") text = "<missing golden " + name + ">";
    it = texts.emplace(name, std::move(text)).first;
  }
  return it->second;
}

std::string fillIn(
    std::string text,
    const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& [placeholder, value] : values) {
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size())) {
      text.replace(at, placeholder.size(), value);
    }
  }
  return text;
}
