#include "testing/expected_import.h"

#include <ctime>

#include "import/installation_paths.h"
#include "import/target_trade.h"
#include "testing/golden.h"

std::string addedByNoteToday(const std::string& address) {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char date[13];
  std::strftime(date, sizeof date, "%d %b, %Y", &utc);
  return "added by " + address + " on " + date;
}

std::string sampleTradeRecord(int32_t id, const std::string& key,
                              const std::string& note) {
  TargetTrade record;
  initTargetTrade(&record);
  writeInt32(&record, kIdField, id);
  writeText(&record, kKeyField, key);
  writeText(&record, kText3Field, "v3");
  writeText(&record, kText21Field, "v21");
  writeText(&record, kText4Field, "v4");
  writeText(&record, kText5Field, "v5");
  writeText(&record, kText6Field, "v6");
  writeText(&record, kNoteField, note);
  writeInt32(&record, kNumber16Field, 16);
  writeInt32(&record, kNumber12Field, 1);  // field12 is 36, outside 0 to 2
  writeInt32(&record, kNumber11Field, 33);
  for (std::size_t i = 0; i < 24; ++i)
    writeInt32(&record, kSlots10Field, 30, i);
  return std::string(reinterpret_cast<const char*>(record.bytes),
                     kTargetTradeSize);
}

std::string sampleToplistLine(const std::string& key) {
  return "|" + key + "|v17|v18|v19|||\n";
}

std::string sampleCapsLines(int32_t id) {
  const std::string idText = std::to_string(id);
  return "|" + idText + "|1|39|\n|" + idText + "|2|42|\n|" + idText +
         "|3|45|\n";
}

std::string sampleSummaryLine(int32_t id) {
  return fillIn(goldenText("summary_line.txt"), {{"@ID@", std::to_string(id)}});
}

namespace {
// Appends as the program does: the file is created when missing.
void appendTo(FileTree* tree, const std::string& path,
              const std::string& bytes) {
  TreeEntry& entry = (*tree)[path];
  if (entry.kind == 'f') entry.bytes += bytes;
}
}  // namespace

void applyImport(FileTree* tree, const std::string& target, int32_t id,
                 const std::string& key, ImportStep failedStep) {
  applyImportSteps(tree, target, id, key, ImportStep::counter, failedStep);
}

void applyImportSteps(FileTree* tree, const std::string& target, int32_t id,
                      const std::string& key, ImportStep firstStep,
                      ImportStep failedStep) {
  const auto before = [&](ImportStep step) {
    return step >= firstStep && step < failedStep;
  };
  if (before(ImportStep::counter))
    (*tree)[counterPath(target)].bytes = std::to_string(id);
  if (before(ImportStep::index)) {
    appendTo(tree, targetIndexPath(target),
             sampleTradeRecord(id, key, addedByNoteToday("192.0.2.7")));
  }
  if (before(ImportStep::toplist))
    appendTo(tree, toplistPath(target), sampleToplistLine(key));
  if (before(ImportStep::caps))
    appendTo(tree, capsPath(target), sampleCapsLines(id));
  const std::string stats = statsFilePath(target, std::to_string(id));
  if (before(ImportStep::stats)) {
    (*tree)[stats] = TreeEntry{'f', 0777, std::string(80640, '\0')};
  }
  if (before(ImportStep::summary))
    appendTo(tree, summaryPath(target), sampleSummaryLine(id));
  const auto history = tree->find(historyFolderPath(target));
  if (before(ImportStep::history) && key.find('/') == std::string::npos &&
      history != tree->end() && history->second.kind == 'd') {
    // A directory in the way stays one, but its mode is opened all the same.
    TreeEntry& entry = (*tree)[historyFilePath(target, key)];
    if (entry.kind == 'f') entry.bytes.clear();
    entry.mode = 0777;
  }
}
