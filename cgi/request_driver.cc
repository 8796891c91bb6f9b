#include "cgi/request_driver.h"

#include <cstdlib>
#include <string_view>
#include <vector>

#include "base/numbers.h"
#include "cgi/form_decoder.h"
#include "cgi/page.h"
#include "conversion/conversion.h"

namespace {

std::string environmentText(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

// The conversion's progress as lines of the page, and a failure as its error
// block.
class PageReport : public ConversionReport {
 public:
  explicit PageReport(std::ostream& page) : page_(page) {}
  void skipping(const std::string& key) override {
    writeSkippingLine(page_, key);
  }
  void unstorableKey(const std::string& key) override {
    writeUnstorableKeyLine(page_, key);
  }
  void added(const std::string& key) override { writeAddedLine(page_, key); }
  void failed(const FileError& error, bool readingIndex) override {
    if (error.result == FileResult::noFreeId) {
      writeNoFreeIdPage(page_, error.path);
      return;
    }
    reportFileResult(page_, error.result, error.path,
                     readingIndex ? std::string_view() : kReturnLink);
  }

 private:
  std::ostream& page_;
};

// Reads up to the announced number of bytes from `input` in pieces, as many as
// arrive, handing each to `take`.
template <typename Take>
void readBodyPieces(std::istream& input, const std::string& contentLength,
                    Take take) {
  const int64_t announced = readNumber64(contentLength);
  if (announced <= 0) return;
  uint64_t remaining = static_cast<uint64_t>(announced);
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

Environment readEnvironment() {
  Environment environment;
  environment.hasContentLength = std::getenv("CONTENT_LENGTH") != nullptr;
  environment.contentLength = environmentText("CONTENT_LENGTH");
  environment.scriptFilename = environmentText("SCRIPT_FILENAME");
  environment.remoteAddress = environmentText("REMOTE_ADDR");
  environment.secFetchSite = environmentText("HTTP_SEC_FETCH_SITE");
  return environment;
}

std::vector<std::string> readFormValues(std::istream& input,
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
  if (environment.hasContentLength) {
    // Any page the owner visits could post a hidden form here with paths of
    // its author's choosing. Browsers mark such a request; without the mark
    // (curl, older browsers) the form is served as always.
    std::vector<std::string> form;
    if (environment.secFetchSite == "cross-site") {
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
    PageReport report(page);
    switch (convertInstallations(form[0], form[1], environment.remoteAddress,
                                 &report)) {
      case RunEnd::finished:
        break;
      case RunEnd::failed:
        page.flush();
        return;
      case RunEnd::stopped:
        // Not the closing block: the owner must see that trades are left.
        writeStopBlock(page, form[0], form[1]);
        return;
    }
  }
  writeClosingBlock(page);
}
