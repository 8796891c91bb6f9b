// The golden files under testing/golden/: the exact bytes of the texts the
// program writes, with @NAME@ placeholders for their variable parts. The
// browser test reads the same files.
#ifndef CONVERT_TESTING_GOLDEN_H_
#define CONVERT_TESTING_GOLDEN_H_

#include <string>
#include <utility>
#include <vector>

// The whole golden file `name` (e.g. "closing_block.txt"), read once, or
// "<missing golden NAME>" when it cannot be read.
const std::string& goldenText(const std::string& name);

// `text` with every "@NAME@" of `values` replaced by its value.
std::string fillIn(
    std::string text,
    const std::vector<std::pair<std::string, std::string>>& values);

#endif  // CONVERT_TESTING_GOLDEN_H_
