// The words that say what failed and what to do about it, for each kind of
// failure, as plain text: the page puts them into its error block (the path in
// bold between them), the terminal prints them as they stand.
#ifndef CONVERT_CONVERSION_FAILURE_TEXT_H_
#define CONVERT_CONVERSION_FAILURE_TEXT_H_

#include <string>
#include <string_view>

#include "base/file_io.h"

// What comes before the path: "Unable to open file" and the like.
std::string_view failureLead(FileResult result);

// What the owner does, the path given where the advice names it.
std::string failureAdvice(FileResult result, std::string_view path);

#endif  // CONVERT_CONVERSION_FAILURE_TEXT_H_
