#include "testing/expected_page.h"

#include <utility>

#include "testing/golden.h"

namespace {

std::string keyLine(const char* name, const std::string& key) {
  return fillIn(goldenText(name), {{"@KEY@", key}});
}

// The text of a key line in front of its key: what every such line starts
// with.
std::string keyLineStart(const char* name) {
  const std::string& text = goldenText(name);
  return text.substr(0, text.find("@KEY@"));
}

// The text named `name` in the golden table `file` ("name text" lines), or
// an empty one.
std::string namedText(const char* file, const std::string& name) {
  const std::string& lines = goldenText(file);
  for (std::size_t at = 0; at < lines.size();) {
    std::size_t end = lines.find('\n', at);
    if (end == std::string::npos) end = lines.size();
    const std::string line = lines.substr(at, end - at);
    if (line.rfind(name + " ", 0) == 0) return line.substr(name.size() + 1);
    at = end + 1;
  }
  return std::string();
}

const char* leadName(ErrorLead lead) {
  switch (lead) {
    case ErrorLead::openFailed:
      return "openFailed";
    case ErrorLead::readFailed:
      return "readFailed";
    case ErrorLead::writeFailed:
      return "writeFailed";
    case ErrorLead::noFreeId:
      return "noFreeId";
    case ErrorLead::othersCanChange:
      return "othersCanChange";
    case ErrorLead::groupCanChange:
      return "groupCanChange";
    case ErrorLead::otherOwner:
      return "otherOwner";
    case ErrorLead::otherUsersLock:
      return "otherUsersLock";
    case ErrorLead::otherUsersLog:
      return "otherUsersLog";
    case ErrorLead::notOwnLog:
      return "notOwnLog";
    case ErrorLead::unknownTail:
      return "unknownTail";
  }
  return "";
}

// Where the return-link line of the error block starts and ends (after its
// line feed).
std::pair<std::size_t, std::size_t> linkLine(const std::string& block) {
  const std::size_t link = block.find("@LINK@");
  const std::size_t start = block.rfind('\n', link) + 1;
  return {start, block.find('\n', link) + 1};
}

}  // namespace

std::string pageHead(const std::string& script) {
  return fillIn(goldenText("page_head.txt"), {{"@SCRIPT@", script}});
}

const std::string& loadingLine() { return goldenText("loading_line.txt"); }

const std::string& waitingLine() { return goldenText("waiting_line.txt"); }

const std::string& closingBlock() { return goldenText("closing_block.txt"); }

const std::string& incorrectFormData() {
  return goldenText("incorrect_form_data.txt");
}

std::string skippingLine(const std::string& key) {
  return keyLine("skipping_line.txt", key);
}

std::string unstorableKeyLine(const std::string& key) {
  return keyLine("unstorable_key_line.txt", key);
}

std::string addedLine(const std::string& key) {
  return keyLine("added_line.txt", key);
}

std::string stopBlock(const std::string& source, const std::string& target) {
  return fillIn(goldenText("stop_block.txt"),
                {{"@SOURCE@", source}, {"@TARGET@", target}});
}

std::string errorBlock(ErrorLead lead, const std::string& path, bool withLink,
                       const std::string& who) {
  std::string block = goldenText("error_block.txt");
  if (!withLink) {
    const auto [start, end] = linkLine(block);
    block.erase(start, end - start);
  }
  std::string advice = namedText("error_advice.txt", leadName(lead));
  if (advice.empty()) advice = namedText("error_advice.txt", "files");
  block = fillIn(block, {{"@ADVICE@", advice}});
  block = fillIn(block, {{"@WHO@", who}});
  return fillIn(block,
                {{"@LEAD@", namedText("error_leads.txt", leadName(lead))},
                 {"@PATH@", path},
                 {"@LINK@", "convert.cgi"}});
}

bool hasPageEnding(const std::string& page) {
  const std::string& block = goldenText("error_block.txt");
  const std::string blockEnd = block.substr(linkLine(block).second);
  for (const std::string* end : {&closingBlock(), &blockEnd}) {
    if (page.size() >= end->size() &&
        page.compare(page.size() - end->size(), end->size(), *end) == 0) {
      return true;
    }
  }
  return false;
}

std::string pageAfterForm(std::string page) {
  // The page head ends with its last line, the end of the form.
  const std::string& head = goldenText("page_head.txt");
  const std::string formEnd =
      head.substr(head.rfind('\n', head.size() - 2) + 1);
  const std::size_t at = page.find(formEnd);
  if (at != std::string::npos) page.erase(0, at + formEnd.size());
  return page;
}

std::size_t countOccurrences(const std::string& page, const std::string& text) {
  std::size_t count = 0;
  for (std::size_t at = page.find(text); at != std::string::npos;
       at = page.find(text, at + text.size())) {
    ++count;
  }
  return count;
}

std::size_t countAddedLines(const std::string& page) {
  return countOccurrences(page, keyLineStart("added_line.txt"));
}

std::size_t countSkippingLines(const std::string& page) {
  return countOccurrences(page, keyLineStart("skipping_line.txt"));
}
