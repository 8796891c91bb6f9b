#include "testing/installation.h"

#include "import/installation_paths.h"
#include "import/target_trade.h"

SourceFields sampleTrade(const std::string& number, const std::string& key) {
  SourceFields trade;
  for (int i = 1; i <= 30; ++i) trade[i] = "v" + std::to_string(i);
  trade[1] = number;
  trade[2] = key;
  for (int i = 10; i <= 15; ++i) trade[i] = std::to_string(i * 3);
  trade[16] = "16";
  trade[20] = "";
  return trade;
}

std::string sourceLine(const SourceFields& trade) {
  std::string line = "|";
  for (const std::string& field : trade.fields) line += field + "|";
  return line + "\n";
}

std::string targetRecordBytes(int32_t id, const std::string& key) {
  TargetTrade record;
  initTargetTrade(&record);
  writeInt32(&record, kIdField, id);
  writeText(&record, kKeyField, key);
  return std::string(reinterpret_cast<const char*>(record.bytes),
                     kTargetTradeSize);
}

InstallationFile statsFile(const std::string& idText) {
  return [=](const std::string& t) { return statsFilePath(t, idText); };
}

InstallationFile historyFile(const std::string& key) {
  return [=](const std::string& t) { return historyFilePath(t, key); };
}

Installations::Installations() : Installations("tn3/", "kv2/") {}

Installations::Installations(const std::string& sourceName,
                             const std::string& targetName)
    : source(dir.path() + sourceName), target(dir.path() + targetName) {
  writeFile(sourceIndexPath(source), "");
  writeFile(targetIndexPath(target), "");
  writeFile(counterPath(target), "10");
  writeFile(toplistPath(target), "|a|b|c|d|e|f|\n");
  writeFile(capsPath(target), "");
  writeFile(summaryPath(target), "");
  makeDirectories(historyFolderPath(target));
}

void Installations::writeSourceIndex(
    const std::vector<SourceFields>& trades) const {
  std::string contents;
  for (const SourceFields& trade : trades) contents += sourceLine(trade);
  writeFile(sourceIndexPath(source), contents);
}

void Installations::writeTargetIndex(
    const std::vector<std::string>& records) const {
  std::string contents;
  for (const std::string& record : records) contents += record;
  writeFile(targetIndexPath(target), contents);
}

namespace {
std::string encodeFormValue(const std::string& value) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : value) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
        (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' ||
        byte == '.') {
      encoded.push_back(c);
    } else if (byte == ' ') {
      encoded.push_back('+');
    } else {
      encoded.push_back('%');
      encoded.push_back(kHex[byte >> 4]);
      encoded.push_back(kHex[byte & 15]);
    }
  }
  return encoded;
}
}  // namespace

std::string formBody(const std::string& source, const std::string& target,
                     const std::string& submit) {
  return "tolvane3=" + encodeFormValue(source) +
         "&kavrelv2=" + encodeFormValue(target) +
         "&submit=" + encodeFormValue(submit);
}

Folders foldersOf(const std::string& installation) {
  return foldersFor({dataFolderPath(installation),
                     tradeFolderPath(installation),
                     historyFolderPath(installation)});
}
