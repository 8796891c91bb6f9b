#include "import/installation_paths.h"

std::string sourceIndexPath(const std::string& source) {
  return source + "d/t/index";
}

std::string targetIndexPath(const std::string& target) {
  return target + "d/t/index";
}

std::string counterPath(const std::string& target) { return target + "d/t/i"; }

std::string toplistPath(const std::string& target) {
  return target + "d/tl.a1";
}

std::string capsPath(const std::string& target) { return target + "d/caps"; }

std::string summaryPath(const std::string& target) {
  return target + "d/t/sum";
}

std::string statsFilePath(const std::string& target,
                          const std::string& idText) {
  return target + "d/t/" + idText;
}

std::string historyFilePath(const std::string& target, const std::string& key) {
  return target + "d/h/" + key + ".his";
}

std::string historyFolderPath(const std::string& target) {
  return target + "d/h";
}

bool isHistoryFileKey(std::string_view key) {
  return key.find('/') == std::string_view::npos;
}

std::vector<std::string> appendedFilePaths(const std::string& target) {
  return {targetIndexPath(target), toplistPath(target), capsPath(target),
          summaryPath(target)};
}

std::string dataFolderPath(const std::string& target) { return target + "d"; }

std::string tradeFolderPath(const std::string& target) {
  return target + "d/t";
}

std::string journalPath(const std::string& target) {
  return target + "d/t/convert.journal";
}

std::string lockPath(const std::string& target) {
  return target + "d/t/convert.lock";
}
