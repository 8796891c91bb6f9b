#include "cgi/page.h"

#include "conversion/run_failure.h"

namespace {

// Referrer-Policy: the posts of the form and of the stop block carry the
// page's Referer even where the site's policy would drop it, and a browser
// that tells Sec-Fetch-Site without a Referer is refused (isFromOwnForm).
constexpr std::string_view kPageHeadBeforeScript =
    "Content-type: text/html\r\n"
    "Referrer-Policy: same-origin\r\n\r\n"
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\" "
    "\"http://www.w3.org/TR/html4/strict.dtd\">\n"
    "<html>\n"
    "<head>\n"
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n"
    "<title>Tolvane 3 - Kavrel v2 converter</title>\n"
    "<style type=\"text/css\">\n"
    "html{margin:0; padding:0; border:none}\n"
    "body{ line-height:normal;  margin:0;  padding:0;  "
    "font-family:Verdana,Tahoma,Arial; "
    "font-size:8.5pt; color:#000; background-color:#FFF;  border:none;}\n"
    ".formy{font-size:10px; font-family:Verdana,Tahoma,Arial; "
    "background-color:#fff; "
    "border:1px solid #555}\n"
    "</style>\n"
    "</head>\n"
    "<body>\n"
    "<div style=\"width:50%; margin-left:auto; margin-right:auto; border:1px "
    "solid #ccc; "
    "border-top:none;\">"
    "<form action=\"convert.cgi\" method=\"post\">\n"
    "<div id=\"form_container\">\n"
    "current path of convert.cgi <span style=\"font-weight:bold;\">";

constexpr std::string_view kPageHeadAfterScript =
    "</span>\n"
    "<br><br>\n"
    "path to tolvane 3 <span style=\"font-weight:bold;\">cgi-bin/tn3/</span> "
    "directory - "
    "<input type=\"text\" name=\"tolvane3\" value=\"\" size=\"80\" "
    "class=\"formy\">\n"
    "<br><br>\n"
    "path to kavrel v2 <span style=\"font-weight:bold;\">cgi-bin/kv2/</span> "
    "directory - "
    "<input type=\"text\" name=\"kavrelv2\" value=\"\" size=\"80\" "
    "class=\"formy\">\n"
    "<br><br>\n"
    "<input type=\"submit\" name=\"submit\" value=\"submit\" class=\"formy\">\n"
    "</div>\n"
    "</form>\n";

// An error block is its start, the path, and its end.
void writeErrorBlockStart(std::ostream& page, Failure reason) {
  page << "<div align=center>\n<font style=\"font:normal 8pt arial;\";><font "
          "style=\"color:red;\"><b>Error</b></font><br>\n"
       << failureLead(reason) << " <b>";
}

void writeErrorBlockEnd(std::ostream& page, const RunFailure& failure,
                        std::string_view returnLink) {
  page << "</b><br>\n";
  writeEscaped(page, failureAdvice(failure));
  page << "<br>\n<br><br>\n";
  if (!returnLink.empty()) {
    page << "<a href=\"";
    writeEscaped(page, returnLink);
    page << "\">click here to return to ";
    writeEscaped(page, returnLink);
    page << "</a><br>\n";
  }
  page << "</font></div></body>\n</html>";
  page.flush();
}

}  // namespace

void writeEscaped(std::ostream& page, std::string_view value) {
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char* replacement = nullptr;
    switch (value[i]) {
      case '&':
        replacement = "&amp;";
        break;
      case '<':
        replacement = "&lt;";
        break;
      case '>':
        replacement = "&gt;";
        break;
      case '"':
        replacement = "&quot;";
        break;
      case '\'':
        replacement = "&#39;";
        break;
      default:
        continue;
    }
    page.write(value.data() + runStart,
               static_cast<std::streamsize>(i - runStart));
    page << replacement;
    runStart = i + 1;
  }
  page.write(value.data() + runStart,
             static_cast<std::streamsize>(value.size() - runStart));
}

void writePageHead(std::ostream& page, std::string_view scriptFilename) {
  page << kPageHeadBeforeScript;
  writeEscaped(page, scriptFilename);
  page << kPageHeadAfterScript;
}

void writeIncorrectFormData(std::ostream& page) {
  page << "incorrect form data";
}

void writeLoadingLine(std::ostream& page) {
  page << "loading conversion module...<br>\n";
  page.flush();
}

void writeWaitingLine(std::ostream& page) {
  page << "waiting for another conversion of this target to end...<br>\n";
  page.flush();
}

void writeAlreadyInTargetLine(std::ostream& page, std::string_view key) {
  page << kSkippingWord;
  writeEscaped(page, key);
  page << kAlreadyInTargetWords << "<br>";
}

void writeUnstorableKeyLine(std::ostream& page, std::string_view key) {
  page << kSkippingWord;
  writeEscaped(page, key);
  page << kUnstorableKeyWords << "<br>";
}

void writeAddedLine(std::ostream& page, std::string_view key) {
  page << kAddedWord;
  writeEscaped(page, key);
  page << "<br>";
  page.flush();
}

void writeClosingBlock(std::ostream& page) {
  page << "<hr size=1 color=silver width=50% "
          "align=left></div>\n</body>\n</html>\n";
  page.flush();
}

void writeStopBlock(std::ostream& page, std::string_view source,
                    std::string_view target) {
  page << "<div align=center>\n<font style=\"font:normal 8pt arial;\";><font "
          "style=\"color:red;\"><b>Stopped</b></font><br>\n"
          "The conversion stopped before its end: every trade above is "
          "whole<br>\n"
          "Submit again to go on where it stopped<br>\n"
          "<form action=\"convert.cgi\" method=\"post\">\n"
          "<input type=\"hidden\" name=\"tolvane3\" value=\"";
  writeEscaped(page, source);
  page << "\">\n<input type=\"hidden\" name=\"kavrelv2\" value=\"";
  writeEscaped(page, target);
  page
      << "\">\n"
         "<input type=\"submit\" name=\"submit\" value=\"go on\" "
         "class=\"formy\">\n"
         "</form>\n<br><br>\n"
         "<a href=\"convert.cgi\">click here to return to convert.cgi</a><br>\n"
         "</font></div></body>\n</html>";
  page.flush();
}

void writeFileErrorPage(std::ostream& page,
                        const std::vector<std::string>& folderPieces,
                        std::string_view name, std::string_view returnLink) {
  RunFailure failure;
  failure.reason = Failure::openFailed;
  failure.path = std::string(name);
  writeErrorBlockStart(page, failure.reason);
  // Escaping goes byte by byte: the pieces show as the joined path would.
  for (const std::string& piece : folderPieces) writeEscaped(page, piece);
  writeEscaped(page, name);
  writeErrorBlockEnd(page, failure, returnLink);
}

void writeFailurePage(std::ostream& page, const RunFailure& failure,
                      std::string_view returnLink) {
  writeErrorBlockStart(page, failure.reason);
  writeEscaped(page, failure.path);
  writeErrorBlockEnd(page, failure, returnLink);
}
