// Every text that reaches the page. Values inserted into the page are
// HTML-escaped; the fixed texts are written exactly as they stand.
#ifndef CONVERT_CGI_PAGE_H_
#define CONVERT_CGI_PAGE_H_

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/conversion_report.h"

// The return link shown inside the trade loop.
inline constexpr std::string_view kReturnLink = "convert.cgi";

// Writes `value` with & < > " ' replaced by their character references.
void writeEscaped(std::ostream& page, std::string_view value);

// The CGI header, the page head and the form, showing `scriptFilename`.
void writePageHead(std::ostream& page, std::string_view scriptFilename);

// "incorrect form data": ends the page.
void writeIncorrectFormData(std::ostream& page);

// The loading line; flushes.
void writeLoadingLine(std::ostream& page);

// The line that says the run waits for another conversion of the same target;
// flushes.
void writeWaitingLine(std::ostream& page);

// The line for a trade the target already holds. No flush.
void writeAlreadyInTargetLine(std::ostream& page, std::string_view key);

// The line for a trade whose key the target record cannot hold. No flush.
void writeUnstorableKeyLine(std::ostream& page, std::string_view key);

// The line for an imported trade; flushes.
void writeAddedLine(std::ostream& page, std::string_view key);

// The closing block of a page whose run ended normally; flushes.
void writeClosingBlock(std::ostream& page);

// The block that ends the page of a run stopped before its end (a server's
// time-out, a host's limit): it says so, with a button that posts the same
// two folders again to go on. Flushes.
void writeStopBlock(std::ostream& page, std::string_view source,
                    std::string_view target);

// The error block of a failure, which ends the page; flushes. The return
// link is empty (no link shown) or kReturnLink.
void writeFailurePage(std::ostream& page, const RunFailure& failure,
                      std::string_view returnLink);

// The error block for the file `name` of a folder held in pieces (a form
// value) that will not open, showing the path they make without joining them.
void writeFileErrorPage(std::ostream& page,
                        const std::vector<std::string>& folderPieces,
                        std::string_view name, std::string_view returnLink);

#endif  // CONVERT_CGI_PAGE_H_
