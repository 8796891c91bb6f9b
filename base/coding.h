// Little-endian encoding of fixed-width integers: the 32-bit integers of the
// binary record and the 64-bit numbers of the rollback log.
#ifndef CONVERT_BASE_CODING_H_
#define CONVERT_BASE_CODING_H_

#include <cstdint>
#include <string>

// Stores `value` least significant byte first, whatever the host.
inline void encodeInt32(unsigned char* dst, int32_t value) {
  // Modulo 2^32: well defined.
  const uint32_t bits = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i)
    dst[i] = static_cast<unsigned char>(bits >> (8 * i));
}

inline int32_t decodeInt32(const unsigned char* src) {
  const uint32_t bits = uint32_t{src[0]} | uint32_t{src[1]} << 8 |
                        uint32_t{src[2]} << 16 | uint32_t{src[3]} << 24;
  if (bits <= INT32_MAX) return static_cast<int32_t>(bits);
  // Avoids an implementation-defined cast.
  return -static_cast<int32_t>(~bits) - 1;
}

// Appends `value` least significant byte first.
inline void putFixed64(std::string* out, uint64_t value) {
  for (int i = 0; i < 8; ++i)
    out->push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

inline uint64_t decodeFixed64(const char* src) {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i)
    value |= uint64_t{static_cast<unsigned char>(src[i])} << (8 * i);
  return value;
}

#endif  // CONVERT_BASE_CODING_H_
