// Little-endian encoding of the 32-bit integers of the binary record.
#ifndef CONVERT_BASE_CODING_H_
#define CONVERT_BASE_CODING_H_

#include <cstdint>

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

#endif  // CONVERT_BASE_CODING_H_
