#include "import/trade_conversion.h"

#include "base/numbers.h"

std::string addedByNote(std::string_view remoteAddress,
                        const std::tm& localTime) {
  char date[13];
  // No locale is set, so the month abbreviations are the English ones.
  const std::size_t length =
      std::strftime(date, sizeof date, "%d %b, %Y", &localTime);
  std::string note = "added by ";
  note.append(remoteAddress);
  note.append(" on ");
  note.append(date, length);
  return note;
}

TargetTrade buildTargetTrade(const SourceTrade& trade, int32_t id,
                             std::string_view remoteAddress,
                             const std::tm& localTime) {
  TargetTrade record;
  initTargetTrade(&record);
  writeInt32(&record, kIdField, id);
  writeText(&record, kKeyField, trade.key);
  writeText(&record, kText3Field, trade.field3);
  writeText(&record, kText21Field, trade.field21);
  writeText(&record, kText4Field, trade.field4);
  writeText(&record, kText5Field, trade.field5);
  writeText(&record, kText6Field, trade.field6);
  writeText(&record, kNoteField, addedByNote(remoteAddress, localTime));
  writeInt32(&record, kNumber16Field, readNumber(trade.field16));
  writeInt32(&record, kPresetOneField, 1);
  for (std::size_t i = 0; i < 3; ++i) {
    writeInt32(&record, kPresetMinusField, trade.presetNumbers[4 + i], i);
  }
  writeInt32(&record, kNumber20Field,
             trade.field20.empty() ? -1 : readNumber(trade.field20));
  writeText(&record, kEmptyTextField, "");
  const bool isKnownNumber12 = trade.field12 >= 0 && trade.field12 <= 2;
  writeInt32(&record, kNumber12Field, isKnownNumber12 ? trade.field12 : 1);
  for (std::size_t i = 0; i < 3; ++i)
    writeInt32(&record, kPresetZerosField, 0, i);
  writeInt32(&record, kNumber11Field, trade.field11);
  for (std::size_t i = 0; i < 24; ++i)
    writeInt32(&record, kSlots10Field, trade.field10, i);
  return record;
}

TargetTrade convertTrade(const SourceTrade& trade, int32_t id,
                         std::string_view remoteAddress) {
  const std::time_t now = std::time(nullptr);
  std::tm localTime{};
  localtime_r(&now, &localTime);
  return buildTargetTrade(trade, id, remoteAddress, localTime);
}
