// The source installation's trade index: text, every value framed by "|", 30
// fields a trade.
#ifndef CONVERT_IMPORT_SOURCE_INDEX_H_
#define CONVERT_IMPORT_SOURCE_INDEX_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// One trade of the source index, named after the fields of the source line that
// fill them.
struct SourceTrade {
  std::string field1;
  std::string field2;  // the trade key
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

// Cuts `contents` into pieces at every "|" and counts them over the whole text,
// modulo 31: position 1 starts a trade, positions 1-8, 10-15 and 16-21 fill it,
// the rest are ignored. A piece ended by the end of the text counts; nothing
// follows a final "|".
std::vector<SourceTrade> parseSourceIndex(std::string_view contents);

// Reads sourcePath + "d/t/index" into `trades`. When the file cannot be opened,
// writes the error block (no return link) and returns false.
bool readSourceIndex(std::ostream& page, const std::string& sourcePath,
                     std::vector<SourceTrade>* trades);

#endif  // CONVERT_IMPORT_SOURCE_INDEX_H_
