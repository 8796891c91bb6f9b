// The page texts a test expects, from the golden files: values are given as
// the page shows them, already escaped. cgi/page_test.cc holds the program's
// texts against these; other tests compose whole pages from them.
#ifndef CONVERT_TESTING_EXPECTED_PAGE_H_
#define CONVERT_TESTING_EXPECTED_PAGE_H_

#include <cstddef>
#include <string>

// The CGI header, the page head and the form, showing `script`.
std::string pageHead(const std::string& script);
const std::string& loadingLine();
const std::string& waitingLine();
const std::string& closingBlock();
const std::string& incorrectFormData();
std::string skippingLine(const std::string& key);
std::string unstorableKeyLine(const std::string& key);
std::string addedLine(const std::string& key);
// The block that ends the page of a stopped run, with the two folders as the
// page shows them.
std::string stopBlock(const std::string& source, const std::string& target);

// The kinds of error block, by the text that leads their message.
enum class ErrorLead {
  openFailed,
  readFailed,
  writeFailed,
  noFreeId,
  othersCanChange,
  groupCanChange,
  otherOwner,
  otherUsersLock,
  otherUsersLog,
  notOwnLog,
  unknownTail,
};

// The error block that ends a page: `lead`, the path as shown, and the return
// link "convert.cgi" when `withLink`; `who` is the other user or group that
// the advice of a refused folder or lock names.
std::string errorBlock(ErrorLead lead, const std::string& path, bool withLink,
                       const std::string& who = std::string());

// True when `page` ends with the closing block or with an error block.
bool hasPageEnding(const std::string& page);

// What follows the form on the page; the whole page when it holds no form.
// Cut in place from a page moved in.
std::string pageAfterForm(std::string page);

// How often `text` occurs in `page`, and how many added or skipping lines (of
// any key, a skipped unstorable key included) it holds.
std::size_t countOccurrences(const std::string& page, const std::string& text);
std::size_t countAddedLines(const std::string& page);
std::size_t countSkippingLines(const std::string& page);

#endif  // CONVERT_TESTING_EXPECTED_PAGE_H_
