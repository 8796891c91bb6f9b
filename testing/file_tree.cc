#include "testing/file_tree.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "testing/temp_dir.h"

bool operator==(const TreeEntry& a, const TreeEntry& b) {
  return a.kind == b.kind && a.mode == b.mode && a.bytes == b.bytes;
}

namespace {
// Every entry below `root` except `skipped` (a directory, with its trailing
// "/") and what it holds, which is not even read.
FileTree readTreeSkipping(const std::string& root, const std::string& skipped) {
  FileTree tree;
  std::error_code ec;
  std::filesystem::recursive_directory_iterator it(root, ec);
  for (; !ec && it != std::filesystem::recursive_directory_iterator();
       it.increment(ec)) {
    const std::string path = it->path().string();
    if (!skipped.empty() && path + "/" == skipped) {
      it.disable_recursion_pending();
      continue;
    }
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) continue;
    TreeEntry entry;
    entry.mode = static_cast<int>(info.st_mode & 07777);
    if (S_ISDIR(info.st_mode)) {
      entry.kind = 'd';
    } else if (S_ISLNK(info.st_mode)) {
      entry.kind = 'l';
      entry.mode = 0;
      std::error_code linkError;
      entry.bytes = std::filesystem::read_symlink(path, linkError).string();
    } else if (S_ISFIFO(info.st_mode)) {
      entry.kind = 'p';
    } else {
      entry.bytes = readFile(path);
    }
    tree[path.substr(root.size())] = entry;
  }
  return tree;
}
}  // namespace

FileTree readTree(const std::string& root) {
  return readTreeSkipping(root, "");
}

FileTree readTreeOutside(const std::string& root, const std::string& inside) {
  return readTreeSkipping(root, inside);
}

namespace {
std::string printable(const std::string& bytes) {
  if (bytes.size() > 300) {
    const bool allZero = bytes.find_first_not_of('\0') == std::string::npos;
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const char c : bytes) {
      hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    return std::to_string(bytes.size()) + " bytes, " +
           (allZero ? std::string("all zero") : "hash " + std::to_string(hash));
  }
  static const char kHex[] = "0123456789abcdef";
  std::string text = "\"";
  for (const char c : bytes) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
      text.push_back(c);
    } else {
      text += "\\x";
      text.push_back(kHex[byte >> 4]);
      text.push_back(kHex[byte & 15]);
    }
  }
  return text + "\"";
}
}  // namespace

std::vector<std::string> describeTree(const FileTree& tree) {
  std::vector<std::string> lines;
  for (const auto& [path, entry] : tree) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", entry.mode);
    std::string line = path + " " + entry.kind + " " + mode;
    if (entry.kind == 'f' || entry.kind == 'l')
      line += " " + printable(entry.bytes);
    lines.push_back(line);
  }
  return lines;
}
