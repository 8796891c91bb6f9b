#include "cgi/request_driver.h"

#include <climits>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "base/numbers.h"
#include "cgi/form_decoder.h"
#include "cgi/page.h"
#include "conversion/conversion.h"

namespace {

std::string variableText(const VariableLookup& lookup, const char* name) {
  const char* value = lookup(name);
  return value ? std::string(value) : std::string();
}

// A folder of PATH_MAX bytes or more, a file name after it, makes a path
// longer than any that the system opens: it names no file, and every open in
// it fails. Its paths are never formed, since the value may be hundreds of
// megabytes.
bool namesNoFile(const FormValue& folder) { return folder.size() >= PATH_MAX; }

// The return link of a run that failed at `stage`: none when it failed
// loading an index.
std::string_view returnLinkAt(RunStage stage) {
  return stage == RunStage::readingIndex ? std::string_view() : kReturnLink;
}

// The page of a run whose folders cannot both name files: the error block of
// the first file the run opens, the path shown but not formed. False when
// both folders can name files.
bool failFolderNamingNoFile(std::ostream& page,
                            const std::vector<FormValue>& form) {
  const bool sourceNamesNoFile = namesNoFile(form[0]);
  if (!sourceNamesNoFile && !namesNoFile(form[1])) return false;
  const UnnamedFolderEnd end =
      endOfUnnamedFolder(sourceNamesNoFile ? std::string() : form[0].text(),
                         sourceNamesNoFile, form[1].holdsZeroByte());
  if (end.inUnnamedFolder) {
    const FormValue& folder = form[sourceNamesNoFile ? 0 : 1];
    writeFileErrorPage(page, folder.pieces(), end.failure.path,
                       returnLinkAt(end.stage));
  } else {
    writeFailurePage(page, end.failure, returnLinkAt(end.stage));
  }
  return true;
}

// The conversion's progress as lines of the page, and a failure as its error
// block.
class PageReport : public ConversionReport {
 public:
  explicit PageReport(std::ostream& page) : page_(page) {}
  void alreadyInTarget(const std::string& key) override {
    writeAlreadyInTargetLine(page_, key);
  }
  void unstorableKey(const std::string& key) override {
    writeUnstorableKeyLine(page_, key);
  }
  void added(const std::string& key) override { writeAddedLine(page_, key); }
  void waiting() override { writeWaitingLine(page_); }
  void failed(const RunFailure& failure, RunStage stage) override {
    writeFailurePage(page_, failure, returnLinkAt(stage));
  }

 private:
  std::ostream& page_;
};

// The number of body bytes that CONTENT_LENGTH announces: none for a length
// that is negative or no number.
uint64_t announcedLength(const std::string& contentLength) {
  const int64_t announced = readNumber64(contentLength);
  return announced > 0 ? static_cast<uint64_t>(announced) : 0;
}

// Reads up to the announced number of bytes from `input` in pieces, as many as
// arrive, handing each to `take`.
template <typename Take>
void readBodyPieces(std::istream& input, const std::string& contentLength,
                    Take take) {
  uint64_t remaining = announcedLength(contentLength);
  char buffer[1 << 16];
  while (remaining > 0) {
    const std::size_t want = remaining < sizeof buffer
                                 ? static_cast<std::size_t>(remaining)
                                 : sizeof buffer;
    input.read(buffer, static_cast<std::streamsize>(want));
    const std::size_t got = static_cast<std::size_t>(input.gcount());
    take(std::string_view(buffer, got));
    remaining -= got;
    if (got < want) break;
  }
}

}  // namespace

Environment readEnvironment(const VariableLookup& lookup) {
  const auto text = [&lookup](const char* name) {
    return variableText(lookup, name);
  };
  Environment environment;
  environment.requestMethod = text("REQUEST_METHOD");
  environment.hasContentLength = lookup("CONTENT_LENGTH") != nullptr;
  environment.contentLength = text("CONTENT_LENGTH");
  environment.scriptFilename = text("SCRIPT_FILENAME");
  environment.remoteAddress = text("REMOTE_ADDR");
  PostSource& post = environment.postSource;
  post.secFetchSite = text("HTTP_SEC_FETCH_SITE");
  post.origin = text("HTTP_ORIGIN");
  post.referer = text("HTTP_REFERER");
  post.https = text("HTTPS");
  post.requestScheme = text("REQUEST_SCHEME");
  post.host = text("HTTP_HOST");
  post.scriptName = text("SCRIPT_NAME");
  return environment;
}

Environment readEnvironment() {
  return readEnvironment([](const char* name) { return std::getenv(name); });
}

std::vector<FormValue> readFormValues(std::istream& input,
                                      const std::string& contentLength) {
  FormDecoder decoder;
  readBodyPieces(input, contentLength,
                 [&decoder](std::string_view piece) { decoder.feed(piece); });
  decoder.finish();
  return decoder.takeValues();
}

void runRequest(const Environment& environment, std::istream& input,
                std::ostream& page) {
  writePageHead(page, environment.scriptFilename);
  // lighttpd passes CONTENT_LENGTH=0 with a plain page load.
  const bool isPageLoad = !environment.hasContentLength ||
                          (environment.requestMethod == "GET" &&
                           announcedLength(environment.contentLength) == 0);
  if (!isPageLoad) {
    // Any page the owner visits could post a hidden form here with paths of
    // its author's choosing, a neighbour's page on the same host included.
    // Browsers tell where a post comes from; a post that does not say (curl,
    // very old browsers) is served as always.
    std::vector<FormValue> form;
    if (!isFromOwnForm(environment.postSource)) {
      // Its body is read and dropped, never decoded: a server that gives the
      // program one socket for the body and the page (mod_cgid) resets the
      // connection, and loses the page, when the program leaves it unread.
      readBodyPieces(input, environment.contentLength, [](std::string_view) {});
    } else {
      form = readFormValues(input, environment.contentLength);
    }
    if (form.size() != 3) {
      writeIncorrectFormData(page);
      page.flush();
      return;
    }
    writeLoadingLine(page);
    if (failFolderNamingNoFile(page, form)) {
      page.flush();
      return;
    }
    PageReport report(page);
    switch (convertInstallations(form[0].text(), form[1].text(),
                                 environment.remoteAddress, &report)) {
      case RunEnd::finished:
        break;
      case RunEnd::failed:
        page.flush();
        return;
      case RunEnd::stopped:
        // Not the closing block: the owner must see that trades are left.
        writeStopBlock(page, form[0].text(), form[1].text());
        return;
    }
  }
  writeClosingBlock(page);
}
