#include "import/target_log_rules.h"

#include <cstring>
#include <string>

#include "base/numbers.h"
#include "import/installation_paths.h"
#include "import/target_trade.h"

namespace {

using Kind = UndoRecord::Kind;

enum class FileKind { none, appended, counter, created };

bool startsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// What the conversion does to the file `name` of a target.
FileKind kindOf(std::string_view name) {
  // The names are those of installation_paths with an empty target.
  for (const std::string& appended : appendedFilePaths(""))
    if (name == appended) return FileKind::appended;
  if (name == counterPath("")) return FileKind::counter;
  const std::string tradeFolder = tradeFolderPath("") + "/";
  if (startsWith(name, tradeFolder)) {
    const std::string_view idText = name.substr(tradeFolder.size());
    int32_t id = 0;
    if (readInt32Strict(idText, &id) && toDecimalText(id) == idText)
      return FileKind::created;
    return FileKind::none;
  }
  const std::string historyFolder = historyFolderPath("") + "/";
  constexpr std::string_view kHistoryEnd = ".his";
  if (startsWith(name, historyFolder) && name.size() >= kHistoryEnd.size() &&
      name.substr(name.size() - kHistoryEnd.size()) == kHistoryEnd) {
    const std::string_view key =
        name.substr(historyFolder.size(),
                    name.size() - historyFolder.size() - kHistoryEnd.size());
    if (isHistoryFileKey(key) && fitsTextField(kKeyField, key))
      return FileKind::created;
  }
  return FileKind::none;
}

}  // namespace

bool isOwnUndoRecord(const UndoRecord& record) {
  switch (kindOf(record.name)) {
    case FileKind::appended:
      return (record.kind == Kind::cutBack || record.kind == Kind::remove) &&
             !record.followLinks && !record.restoresMode;
    case FileKind::counter:
      return record.kind == Kind::putBack && !record.restoresMode;
    case FileKind::created:
      return (record.kind == Kind::putBack || record.kind == Kind::remove) &&
             !record.followLinks;
    case FileKind::none:
      return false;
  }
  return false;
}
