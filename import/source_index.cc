#include "import/source_index.h"

#include <cstring>

#include "base/file_io.h"
#include "base/numbers.h"
#include "import/installation_paths.h"

namespace {

constexpr unsigned kPiecesPerTrade = 31;

// The text member that a position fills, or null when it fills none.
std::string* textMember(SourceTrade* trade, unsigned position) {
  switch (position) {
    case 2:
      return &trade->key;
    case 3:
      return &trade->field3;
    case 4:
      return &trade->field4;
    case 5:
      return &trade->field5;
    case 6:
      return &trade->field6;
    case 7:
      return &trade->field7;
    case 8:
      return &trade->field8;
    case 16:
      return &trade->field16;
    case 17:
      return &trade->field17;
    case 18:
      return &trade->field18;
    case 19:
      return &trade->field19;
    case 20:
      return &trade->field20;
    case 21:
      return &trade->field21;
    default:
      return nullptr;
  }
}

int32_t* numberMember(SourceTrade* trade, unsigned position) {
  switch (position) {
    case 10:
      return &trade->field10;
    case 11:
      return &trade->field11;
    case 12:
      return &trade->field12;
    case 13:
      return &trade->field13;
    case 14:
      return &trade->field14;
    case 15:
      return &trade->field15;
    default:
      return nullptr;
  }
}

void storePiece(SourceTrade* trade, unsigned position, std::string_view piece) {
  if (std::string* text = textMember(trade, position)) {
    text->assign(piece);
  } else if (int32_t* number = numberMember(trade, position)) {
    *number = readNumber(piece);
  }
}

}  // namespace

bool SourceTradeReader::next(SourceTrade* trade) {
  bool started = false;
  while (start_ < contents_.size()) {
    if (position_ == 1 && started) return true;  // that piece opens the next
    const void* bar =
        std::memchr(contents_.data() + start_, '|', contents_.size() - start_);
    const std::size_t end =
        bar ? static_cast<std::size_t>(static_cast<const char*>(bar) -
                                       contents_.data())
            : contents_.size();
    const std::string_view piece = contents_.substr(start_, end - start_);
    if (position_ == 1) {
      *trade = SourceTrade();
      trade->field1.assign(piece);
      started = true;
    } else if (started) {
      // Positions 2 to 30 always follow the position 1 that opened a trade.
      storePiece(trade, position_, piece);
    }
    position_ = (position_ + 1) % kPiecesPerTrade;
    start_ = end + 1;
  }
  return started;
}

std::vector<SourceTrade> parseSourceIndex(std::string_view contents) {
  std::vector<SourceTrade> trades;
  SourceTradeReader reader(contents);
  SourceTrade trade;
  while (reader.next(&trade)) trades.push_back(trade);
  return trades;
}

FileError readSourceIndex(const Folders& folders, const std::string& sourcePath,
                          std::string* contents) {
  return readWholeFile(folders, sourceIndexPath(sourcePath), contents);
}
