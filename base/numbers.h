// Reading and writing the decimal numbers that the installations' text files
// hold.
#ifndef CONVERT_BASE_NUMBERS_H_
#define CONVERT_BASE_NUMBERS_H_

#include <cstdint>
#include <string>
#include <string_view>

// Reads a base-10 number the way strtol does: leading white space skipped, an
// optional sign, then the digits up to the first other byte; no digits give 0.
// The value is held at the 64-bit limits when it does not fit.
int64_t readNumber64(std::string_view text);

// readNumber64, narrowed to 32 bits by keeping the low 32 bits (4294967297
// reads as 1).
int32_t readNumber(std::string_view text);

// Reads a number as a stream extraction of an int does: white space, an
// optional sign and at least one digit, and the value within the signed 32-bit
// range. Returns false otherwise.
bool readInt32Strict(std::string_view text, int32_t* value);

// Signed decimal text: no padding, "-" in front of negative values.
std::string toDecimalText(int32_t value);

#endif  // CONVERT_BASE_NUMBERS_H_
