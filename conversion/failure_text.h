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

// What the owner does, the path given where the advice names it, and who
// else can change a folder (the error's detail) where that is the failure.
std::string failureAdvice(const FileError& error);

#endif  // CONVERT_CONVERSION_FAILURE_TEXT_H_
