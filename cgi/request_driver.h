// The run of one CGI request: the page head and form, the form body, and the
// conversion of every trade of the source installation into the target
// installation.
#ifndef CONVERT_CGI_REQUEST_DRIVER_H_
#define CONVERT_CGI_REQUEST_DRIVER_H_

#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "cgi/form_decoder.h"
#include "cgi/post_source.h"

// What the run takes from the CGI environment.
struct Environment {
  std::string requestMethod;  // REQUEST_METHOD; empty when not set
  bool hasContentLength = false;
  std::string contentLength;
  std::string scriptFilename;  // empty when not set
  std::string remoteAddress;   // empty when not set
  // Where a posted form comes from (empty values when not set).
  PostSource postSource;
};

// Gives the value of the CGI variable `name`, or nullptr when it is not set.
using VariableLookup = std::function<const char*(const char* name)>;

// Reads REQUEST_METHOD, CONTENT_LENGTH, SCRIPT_FILENAME, REMOTE_ADDR and the
// variables of PostSource through `lookup`.
Environment readEnvironment(const VariableLookup& lookup);

// readEnvironment from the process's environment.
Environment readEnvironment();

// Reads the body (up to the announced number of bytes from `input`, as many as
// arrive; a negative or unreadable length gives an empty body) to its end, in
// pieces, and decodes it into the form's values (at most
// FormDecoder::kKeptValues of them). Memory grows with the values kept, not
// with the body or the claim.
std::vector<FormValue> readFormValues(std::istream& input,
                                      const std::string& contentLength);

// Serves the request: writes the whole page to `page`, reading the body from
// `input`. A request without CONTENT_LENGTH, or a GET whose CONTENT_LENGTH
// announces no body (lighttpd's page load), loads the page: the form alone.
// Every failure is reported on the page. A form that another page than the
// program's own made the browser post (isFromOwnForm) is refused undecoded, as
// a form it cannot use.
void runRequest(const Environment& environment, std::istream& input,
                std::ostream& page);

#endif  // CONVERT_CGI_REQUEST_DRIVER_H_
