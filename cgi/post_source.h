// Whether a posted form comes from the program's own form page, as far as the
// browser and the web server tell.
#ifndef CONVERT_CGI_POST_SOURCE_H_
#define CONVERT_CGI_POST_SOURCE_H_

#include <string>

// What a request tells of the page that posted it and of the program it
// reached. A value the server did not pass is empty.
struct PostSource {
  // The browser's word on where the post comes from: HTTP_SEC_FETCH_SITE
  // ("same-origin", "same-site", "cross-site", "none"), HTTP_ORIGIN
  // ("scheme://host[:port]", or "null" for an origin it will not tell) and
  // HTTP_REFERER (the address of the page that posted).
  std::string secFetchSite;
  std::string origin;
  std::string referer;
  // The program's own address: HTTPS ("on" over TLS), REQUEST_SCHEME,
  // HTTP_HOST and SCRIPT_NAME (the path of the program on the host).
  std::string https;
  std::string requestScheme;
  std::string host;
  std::string scriptName;
};

// False when the browser says that another page than the program's own form
// posted the request: Sec-Fetch-Site other than "same-origin" or "none"; an
// Origin other than the program's own scheme and host ("null" included); a
// Referer of another origin, or whose path is neither the program's
// (SCRIPT_NAME) nor its folder (the form reached as "/cgi-bin/"); or, with a
// Sec-Fetch-Site ("none" included), no Referer at all. Also false when an
// Origin or a Referer cannot be compared, the server having passed no
// HTTP_HOST or, for a Referer, no SCRIPT_NAME. A post that says nothing of
// its source (a script, a very old browser) is taken as the owner's, and so
// is one with an own Origin and no Referer nor Sec-Fetch-Site (an older
// browser set to send no Referer).
bool isFromOwnForm(const PostSource& post);

#endif  // CONVERT_CGI_POST_SOURCE_H_
