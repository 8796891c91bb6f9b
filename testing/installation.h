// Source and target installations for tests, built byte by byte.
#ifndef CONVERT_TESTING_INSTALLATION_H_
#define CONVERT_TESTING_INSTALLATION_H_

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "testing/temp_dir.h"

// The 30 fields of one source line; fields[0] is field 1.
struct SourceFields {
  std::array<std::string, 30> fields;
  std::string& operator[](int fieldNumber) {
    return fields[static_cast<std::size_t>(fieldNumber - 1)];
  }
};

// A plausible trade: number `number`, key `key`, and distinct values in every
// field.
SourceFields sampleTrade(const std::string& number, const std::string& key);

// "|f1|f2|...|f30|\n".
std::string sourceLine(const SourceFields& trade);

// A 996-byte target record with `id` and `key`, everything else initial.
std::string targetRecordBytes(int32_t id, const std::string& key);

// One of an installation's files as a function of the installation's
// directory: a function of import/installation_paths.h such as counterPath, or
// one of these two.
using InstallationFile = std::function<std::string(const std::string&)>;
// The statistics file of the trade numbered `idText`, and the history file of
// the trade with key `key`.
InstallationFile statsFile(const std::string& idText);
InstallationFile historyFile(const std::string& key);

// A source and a target installation in one temporary directory:
// source = dir + "tn3/", target = dir + "kv2/". The target starts with an empty
// index, the counter "10", a toplist whose first line holds six values, and the
// history folder.
struct Installations {
  Installations();
  // The same with other directory names, each ending in "/".
  Installations(const std::string& sourceName, const std::string& targetName);
  TempDir dir;
  std::string source;
  std::string target;

  void writeSourceIndex(const std::vector<SourceFields>& trades) const;
  void writeTargetIndex(const std::vector<std::string>& records) const;
  std::string targetFile(const InstallationFile& file) const {
    return readFile(file(target));
  }
};

// The data, trade and history folders of the installation at `installation`,
// walked as a run walks them.
Folders foldersOf(const std::string& installation);

// The url-encoded body of the form with the two directories typed in and
// `submit` as the button's value.
std::string formBody(const std::string& source, const std::string& target,
                     const std::string& submit = "submit");

#endif  // CONVERT_TESTING_INSTALLATION_H_
