#include "import/target_trade.h"

#include <cstring>

#include "base/coding.h"

void initTargetTrade(TargetTrade* record) {
  std::memset(record->bytes, 0, kTargetTradeSize);
  writeInt32(record, kIdField, -1);
  writeInt32(record, kPresetOneField, 1);
  for (std::size_t i = 0; i < 3; ++i)
    writeInt32(record, kPresetMinusField, -1, i);
  writeInt32(record, kNumber20Field, -1);
  writeInt32(record, kNumber12Field, 1);
}

int32_t readInt32(const TargetTrade& record, Field field, std::size_t index) {
  return decodeInt32(record.bytes + field.offset + 4 * index);
}

void writeInt32(TargetTrade* record, Field field, int32_t value,
                std::size_t index) {
  encodeInt32(record->bytes + field.offset + 4 * index, value);
}

std::string_view readText(const TargetTrade& record, Field field) {
  const char* start =
      reinterpret_cast<const char*>(record.bytes + field.offset);
  const void* zero = std::memchr(start, 0, field.width);
  const std::size_t length =
      zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - start)
           : field.width;
  return std::string_view(start, length);
}

void writeText(TargetTrade* record, Field field, std::string_view text) {
  std::size_t length = text.find('\0');
  if (length == std::string_view::npos) length = text.size();
  if (length > field.width - 1)
    length = field.width - 1;  // keep room for the terminator
  unsigned char* start = record->bytes + field.offset;
  std::memset(start, 0, field.width);
  if (length > 0) std::memcpy(start, text.data(), length);
}

bool fitsTextField(Field field, std::string_view text) {
  return text.size() < field.width && text.find('\0') == std::string_view::npos;
}
