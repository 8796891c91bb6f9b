#include "journal/undo_log.h"

#include "base/coding.h"

namespace {

// "convert undo log", version 1.
constexpr std::string_view kMagic = "CVUNDO1\n";

// FNV-1a over `bytes`, continuing from `hash`: enough to tell a torn or stale
// record, which is all the log needs.
uint64_t hashBytes(uint64_t hash, std::string_view bytes) {
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

constexpr uint64_t kHashStart = 14695981039346656037ull;

// Reads the next 8 bytes as a little-endian number; false past the end.
bool takeUint64(std::string_view* in, uint64_t* value) {
  if (in->size() < 8) return false;
  *value = decodeFixed64(in->data());
  in->remove_prefix(8);
  return true;
}

bool takeBytes(std::string_view* in, uint64_t length, std::string* out) {
  if (in->size() < length) return false;
  out->assign(in->data(), static_cast<std::size_t>(length));
  in->remove_prefix(static_cast<std::size_t>(length));
  return true;
}

// kind, flags, mode, size, then the name and the bytes, each after its
// length, and the identity of the file when it is known (a log written before
// it was kept has none).
std::string encodeBody(const UndoRecord& record) {
  std::string body;
  body.push_back(static_cast<char>(record.kind));
  body.push_back(static_cast<char>((record.followLinks ? 1 : 0) |
                                   (record.restoresMode ? 2 : 0)));
  putFixed64(&body, record.mode);
  putFixed64(&body, record.size);
  putFixed64(&body, record.name.size());
  body.append(record.name);
  putFixed64(&body, record.bytes.size());
  body.append(record.bytes);
  if (record.identity.isKnown()) {
    putFixed64(&body, record.identity.device);
    putFixed64(&body, record.identity.inode);
  }
  return body;
}

bool decodeBody(std::string_view body, UndoRecord* record) {
  if (body.size() < 2) return false;
  const auto kind = static_cast<UndoRecord::Kind>(body[0]);
  if (kind != UndoRecord::Kind::cutBack && kind != UndoRecord::Kind::remove &&
      kind != UndoRecord::Kind::putBack) {
    return false;
  }
  record->kind = kind;
  record->followLinks = (body[1] & 1) != 0;
  record->restoresMode = (body[1] & 2) != 0;
  body.remove_prefix(2);
  uint64_t mode = 0;
  uint64_t length = 0;
  if (!takeUint64(&body, &mode) || !takeUint64(&body, &record->size) ||
      !takeUint64(&body, &length) || !takeBytes(&body, length, &record->name) ||
      !takeUint64(&body, &length) || !takeBytes(&body, length, &record->bytes))
    return false;
  if (body.size() == 16) {
    takeUint64(&body, &record->identity.device);
    takeUint64(&body, &record->identity.inode);
  }
  // Kept as written, so that a mode past 0777 is seen (and refused).
  record->mode = mode > 0xffffffffu ? 0xffffffffu : static_cast<unsigned>(mode);
  return body.empty() && !record->name.empty();
}

}  // namespace

std::string UndoLogEncoder::startGroup(uint64_t groupTag) {
  std::string header(kMagic);
  putFixed64(&header, groupTag);
  chain_ = hashBytes(kHashStart, header);
  return header;
}

std::string UndoLogEncoder::encode(const UndoRecord& record) {
  const std::string body = encodeBody(record);
  chain_ = hashBytes(chain_, body);
  std::string out;
  putFixed64(&out, body.size());
  putFixed64(&out, chain_);
  out.append(body);
  return out;
}

bool UndoLogReader::readHeader() {
  const std::size_t headerSize = kMagic.size() + 8;
  std::string header(headerSize, '\0');
  if (!file_->readAt(0, &header[0], headerSize) ||
      std::string_view(header).substr(0, kMagic.size()) != kMagic)
    return false;
  chain_ = hashBytes(kHashStart, header);
  offset_ = headerSize;
  places_.clear();
  return true;
}

bool UndoLogReader::readBody(const Place& place, UndoRecord* record) {
  // A length past the file's end is a torn record, not a reason to allocate.
  if (place.length > file_->size()) return false;
  std::string body(static_cast<std::size_t>(place.length), '\0');
  if (!file_->readAt(place.offset, &body[0], body.size())) return false;
  if (hashBytes(place.chainBefore, body) != place.chainAfter) return false;
  *record = UndoRecord();
  return decodeBody(body, record);
}

bool UndoLogReader::next(UndoRecord* record) {
  char lengths[16];
  if (!file_->readAt(offset_, lengths, sizeof lengths)) return false;
  std::string_view in(lengths, sizeof lengths);
  Place place{offset_ + sizeof lengths, 0, chain_, 0};
  takeUint64(&in, &place.length);
  takeUint64(&in, &place.chainAfter);
  if (!readBody(place, record)) return false;
  places_.push_back(place);
  chain_ = place.chainAfter;
  offset_ = place.offset + place.length;
  return true;
}

bool UndoLogReader::reread(std::size_t index, UndoRecord* record) {
  return index < places_.size() && readBody(places_[index], record);
}

FileError applyUndoRecord(const Folders& folders, const std::string& root,
                          const UndoRecord& record) {
  const std::string path = root + record.name;
  switch (record.kind) {
    case UndoRecord::Kind::cutBack:
      return truncateFileTo(folders, path, record.size, record.identity);
    case UndoRecord::Kind::remove:
      return removeFile(folders, path);
    case UndoRecord::Kind::putBack:
      return putBackFile(
          folders, path,
          PutBack{record.bytes, record.followLinks, record.restoresMode,
                  record.mode, record.identity});
  }
  return FileError(FileResult::writeFailed, path);
}
