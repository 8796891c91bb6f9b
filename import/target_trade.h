// The 996-byte binary record of one trade in the target trade index. The record
// is the file bytes themselves; only the accessors convert, with explicit
// little-endian integers.
#ifndef CONVERT_IMPORT_TARGET_TRADE_H_
#define CONVERT_IMPORT_TARGET_TRADE_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

struct Field {
  std::size_t offset;
  std::size_t width;
};

constexpr std::size_t kTargetTradeSize = 996;

constexpr Field kIdField{0, 4};
constexpr Field kKeyField{4, 100};
constexpr Field kText3Field{104, 100};
constexpr Field kText21Field{204, 15};
constexpr Field kText4Field{219, 50};
constexpr Field kText5Field{269, 20};
constexpr Field kText6Field{289, 15};
constexpr Field kNoteField{304, 516};
constexpr Field kPresetZeroField{820, 4};
constexpr Field kNumber16Field{824, 4};
constexpr Field kPresetOneField{828, 4};
constexpr Field kPresetMinusField{832, 12};  // 3 integers
constexpr Field kNumber20Field{844, 4};
constexpr Field kEmptyTextField{848, 32};
constexpr Field kNumber12Field{880, 4};
constexpr Field kPresetZerosField{884, 12};  // 3 integers
constexpr Field kNumber11Field{896, 4};
constexpr Field kSlots10Field{900, 96};  // 24 integers

constexpr bool follows(Field before, Field after) {
  return before.offset + before.width == after.offset;
}
static_assert(kIdField.offset == 0 && follows(kIdField, kKeyField) &&
                  follows(kKeyField, kText3Field) &&
                  follows(kText3Field, kText21Field) &&
                  follows(kText21Field, kText4Field) &&
                  follows(kText4Field, kText5Field) &&
                  follows(kText5Field, kText6Field) &&
                  follows(kText6Field, kNoteField) &&
                  follows(kNoteField, kPresetZeroField) &&
                  follows(kPresetZeroField, kNumber16Field) &&
                  follows(kNumber16Field, kPresetOneField) &&
                  follows(kPresetOneField, kPresetMinusField) &&
                  follows(kPresetMinusField, kNumber20Field) &&
                  follows(kNumber20Field, kEmptyTextField) &&
                  follows(kEmptyTextField, kNumber12Field) &&
                  follows(kNumber12Field, kPresetZerosField) &&
                  follows(kPresetZerosField, kNumber11Field) &&
                  follows(kNumber11Field, kSlots10Field) &&
                  kSlots10Field.offset + kSlots10Field.width ==
                      kTargetTradeSize,
              "the fields must cover the record without gaps");

struct TargetTrade {
  unsigned char bytes[kTargetTradeSize];
};
static_assert(sizeof(TargetTrade) == kTargetTradeSize,
              "records are read as whole blocks");

// Puts every field to its initial value; text fields are zero-filled.
void initTargetTrade(TargetTrade* record);

// The index-th integer of an integer field.
int32_t readInt32(const TargetTrade& record, Field field,
                  std::size_t index = 0);
void writeInt32(TargetTrade* record, Field field, int32_t value,
                std::size_t index = 0);

// The bytes of a text field up to its first zero byte, or the whole field if it
// has none.
std::string_view readText(const TargetTrade& record, Field field);

// Zero-fills the field and stores `text` up to its first zero byte, cut to
// width - 1 bytes.
void writeText(TargetTrade* record, Field field, std::string_view text);

// True when `text` fits a text field whole: shorter than the width and without
// zero bytes.
bool fitsTextField(Field field, std::string_view text);

#endif  // CONVERT_IMPORT_TARGET_TRADE_H_
