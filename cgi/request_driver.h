// The run of one CGI request: the page head and form, the form body, and the
// conversion of every trade of the source installation into the target
// installation.
#ifndef CONVERT_CGI_REQUEST_DRIVER_H_
#define CONVERT_CGI_REQUEST_DRIVER_H_

#include <istream>
#include <ostream>
#include <string>
#include <vector>

// What the run takes from the CGI environment.
struct Environment {
  bool hasContentLength = false;
  std::string contentLength;
  std::string scriptFilename;  // empty when not set
  std::string remoteAddress;   // empty when not set
  // HTTP_SEC_FETCH_SITE: the browser's own word on where the request comes
  // from; "cross-site" for a form that another web site posted.
  std::string secFetchSite;
};

// Reads CONTENT_LENGTH, SCRIPT_FILENAME, REMOTE_ADDR and HTTP_SEC_FETCH_SITE.
Environment readEnvironment();

// Reads the body (up to the announced number of bytes from `input`, as many as
// arrive; a negative or unreadable length gives an empty body) to its end, in
// pieces, and decodes it into the form's values (at most
// FormDecoder::kKeptValues of them). Memory grows with the values kept, not
// with the body or the claim.
std::vector<std::string> readFormValues(std::istream& input,
                                        const std::string& contentLength);

// Serves the request: writes the whole page to `page`, reading the body from
// `input`. Every failure is reported on the page. A form that another web site
// made the browser post is refused undecoded, as a form it cannot use.
void runRequest(const Environment& environment, std::istream& input,
                std::ostream& page);

#endif  // CONVERT_CGI_REQUEST_DRIVER_H_
