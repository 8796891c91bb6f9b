#include "base/folder_safety.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>

namespace {

// Reads a small system file (/etc/passwd, /etc/group) whole; empty when it
// cannot be read. The static release cannot ask the name services, and these
// files are what every system has.
std::string readSystemFile(const char* path) {
  constexpr std::size_t kLimit = 16 << 20;
  std::string contents;
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return contents;
  char buffer[1 << 14];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0 || contents.size() > kLimit) break;
    contents.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return contents;
}

// The ':'-separated fields of each line of `text`, handed to `take` until it
// returns false.
template <typename Take>
void forEachEntry(std::string_view text, Take take) {
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    std::vector<std::string_view> fields;
    for (;;) {
      const std::size_t colon = line.find(':');
      fields.push_back(line.substr(0, colon));
      if (colon == std::string_view::npos) break;
      line.remove_prefix(colon + 1);
    }
    if (fields.size() >= 4 && !take(fields)) return;
  }
}

bool readId(std::string_view text, unsigned* id) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > 0xffffffffu) return false;
  *id = static_cast<unsigned>(value);
  return true;
}

// The group's members that the run does not trust, by name; false when the
// group or one of its members cannot be found.
bool untrustedMembers(unsigned gid, const FolderTrust& trust,
                      std::vector<std::string>* untrusted) {
  const std::string groups = readSystemFile("/etc/group");
  const std::string users = readSystemFile("/etc/passwd");
  bool found = false;
  std::vector<std::string> listed;
  forEachEntry(groups, [&](const std::vector<std::string_view>& f) {
    unsigned id = 0;
    if (!readId(f[2], &id) || id != gid) return true;
    found = true;
    std::string_view members = f[3];
    while (!members.empty()) {
      const std::size_t comma = std::min(members.find(','), members.size());
      if (comma > 0) listed.emplace_back(members.substr(0, comma));
      members.remove_prefix(std::min(comma + 1, members.size()));
    }
    return false;
  });
  if (!found) return false;
  std::vector<std::string> known;
  forEachEntry(users, [&](const std::vector<std::string_view>& f) {
    unsigned uid = 0;
    unsigned primary = 0;
    if (!readId(f[2], &uid) || !readId(f[3], &primary)) return true;
    const std::string name(f[0]);
    const bool member =
        primary == gid ||
        std::find(listed.begin(), listed.end(), name) != listed.end();
    if (member) known.push_back(name);
    if (member && !trust.trusts(uid)) untrusted->push_back(name);
    return true;
  });
  // A listed member that /etc/passwd does not hold cannot be judged.
  for (const std::string& name : listed)
    if (std::find(known.begin(), known.end(), name) == known.end())
      return false;
  return true;
}

// The name that the entry of `id` in the system file `path` gives, or
// `otherwise` and the number.
std::string nameOf(const char* path, unsigned id, const char* otherwise) {
  std::string name = otherwise + std::to_string(id);
  forEachEntry(readSystemFile(path),
               [&](const std::vector<std::string_view>& f) {
                 unsigned entry = 0;
                 if (!readId(f[2], &entry) || entry != id) return true;
                 name = std::string(f[0]);
                 return false;
               });
  return name;
}

}  // namespace

bool FolderTrust::trusts(unsigned user) const {
  return std::find(users.begin(), users.end(), user) != users.end();
}

FolderTrust trustOfThisProcess() {
  FolderTrust trust;
  trust.users = {0, static_cast<unsigned>(::geteuid())};
  return trust;
}

FolderTrust trustOfThisRun() {
  FolderTrust trust = trustOfThisProcess();
  struct stat program;
  if (::stat("/proc/self/exe", &program) == 0 && !trust.trusts(program.st_uid))
    trust.users.push_back(program.st_uid);
  return trust;
}

std::string groupName(unsigned gid) {
  return nameOf("/etc/group", gid, "number ");
}

std::string userName(unsigned uid) {
  return nameOf("/etc/passwd", uid, "uid ");
}

FolderVerdict judgeFolder(const struct stat& info, FolderRule rule,
                          const FolderTrust& trust) {
  if (!trust.trusts(info.st_uid))
    return FolderVerdict{FolderDanger::otherOwner, userName(info.st_uid)};
  const bool sticky = (info.st_mode & S_ISVTX) != 0;
  // In a sticky folder on the way no one can take another's name away.
  if (rule == FolderRule::onTheWay && sticky) return FolderVerdict();
  if ((info.st_mode & S_IWOTH) != 0)
    return FolderVerdict{FolderDanger::othersWrite, std::string()};
  if ((info.st_mode & S_IWGRP) == 0) return FolderVerdict();
  std::vector<std::string> untrusted;
  const std::string group = groupName(info.st_gid);
  if (!untrustedMembers(info.st_gid, trust, &untrusted))
    return FolderVerdict{FolderDanger::groupWrite,
                         group + ", whose members cannot all be known"};
  if (untrusted.empty()) return FolderVerdict();
  return FolderVerdict{FolderDanger::groupWrite,
                       group + ", which holds user " + untrusted.front()};
}
