// The source installation's trade index: text, every value framed by "|", 30
// fields a trade.
#ifndef CONVERT_IMPORT_SOURCE_INDEX_H_
#define CONVERT_IMPORT_SOURCE_INDEX_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_io.h"

// One trade of the source index, named after the fields of the source line that
// fill them.
struct SourceTrade {
  std::string field1;
  std::string key;  // field 2
  std::string field3;
  std::string field17;
  std::string field4;
  std::string field5;
  std::string field6;
  std::string field7;
  int32_t field11 = 0;
  std::string field20;
  std::string field8;
  int32_t field13 = 0;
  int32_t field14 = 0;
  int32_t field15 = 0;
  int32_t field10 = 0;
  std::string field16;
  std::string spareText1;
  int32_t field12 = 0;
  std::string field18;
  std::string field19;
  std::string field21;
  std::string spareText2;
  std::string spareText3;
  int32_t presetNumbers[7] = {0, 0, 0, -1, -1, -1, -1};
  int32_t spareBlockA[15] = {};
  int32_t spareBlockB[15] = {};
  int64_t spareLong = 0;
};

// Takes the trades of a loaded source index one at a time. The text is cut
// into pieces at every "|" and the pieces are counted over the whole text,
// modulo 31: position 1 starts a trade, positions 1-8, 10-15 and 16-21 fill
// it, the rest are ignored. A piece ended by the end of the text counts;
// nothing follows a final "|". `contents` must outlive the reader.
class SourceTradeReader {
 public:
  explicit SourceTradeReader(std::string_view contents) : contents_(contents) {}
  // Puts the next trade, in file order, into `trade`. False when there is none.
  bool next(SourceTrade* trade);

 private:
  std::string_view contents_;
  std::size_t start_ = 0;  // where the next piece starts
  unsigned position_ = 0;  // the position of that piece
};

// Every trade of a loaded source index, in file order.
std::vector<SourceTrade> parseSourceIndex(std::string_view contents);

// Reads the source's trade index whole into `contents`; its trades are taken
// with SourceTradeReader. Fails when the file cannot be opened or read.
FileError readSourceIndex(const Folders& folders, const std::string& sourcePath,
                          std::string* contents);

#endif  // CONVERT_IMPORT_SOURCE_INDEX_H_
