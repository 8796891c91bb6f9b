#include "cgi/post_source.h"

#include <cstddef>
#include <string_view>

namespace {

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Scheme and host names are compared without regard to case.
bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lowerAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A URL's path with its "%hl" escapes decoded, as the server decodes the path
// it passes as SCRIPT_NAME. A "%" without two hexadecimal digits stays.
std::string decodedPath(std::string_view path) {
  std::string decoded;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '%' && i + 2 < path.size() && hexValue(path[i + 1]) >= 0 &&
        hexValue(path[i + 2]) >= 0) {
      decoded.push_back(static_cast<char>(16 * hexValue(path[i + 1]) +
                                          hexValue(path[i + 2])));
      i += 2;
    } else {
      decoded.push_back(path[i]);
    }
  }
  return decoded;
}

// "scheme://host[:port]": the origin of the program's own pages, as a browser
// writes it in Origin and at the start of Referer.
std::string ownOrigin(const PostSource& post) {
  std::string scheme = "http";
  if (equalsIgnoringCase(post.https, "on")) {
    scheme = "https";
  } else if (!post.requestScheme.empty()) {
    scheme = post.requestScheme;
  }
  return scheme + "://" + post.host;
}

// Whether `referer` is the address of the program's own page: its origin,
// then the program's path or its folder, then nothing but a query.
bool isOwnPage(std::string_view referer, const std::string& origin,
               const std::string& scriptName) {
  if (referer.size() <= origin.size() ||
      !equalsIgnoringCase(referer.substr(0, origin.size()), origin)) {
    return false;
  }
  // "http://host.example/" is not "http://host/" followed by ".example/".
  std::string_view path = referer.substr(origin.size());
  if (path[0] != '/') return false;
  path = path.substr(0, path.find_first_of("?#"));
  const std::string decoded = decodedPath(path);
  const std::string_view folder =
      std::string_view(scriptName).substr(0, scriptName.rfind('/') + 1);
  return !scriptName.empty() && (decoded == scriptName || decoded == folder);
}

}  // namespace

bool isFromOwnForm(const PostSource& post) {
  // "none": the user's own doing, as a reload of the posted page.
  const bool toldSite = !post.secFetchSite.empty();
  if (toldSite && post.secFetchSite != "same-origin" &&
      post.secFetchSite != "none") {
    return false;
  }
  if (!toldSite && post.origin.empty() && post.referer.empty()) return true;
  if (post.host.empty()) return false;
  const std::string origin = ownOrigin(post);
  // "null" is the origin of a page that keeps it to itself: never the form's.
  if (!post.origin.empty() && !equalsIgnoringCase(post.origin, origin)) {
    return false;
  }
  // Another page of the same host (a neighbour's /~user/ page on a shared
  // host) has the form's origin: only the path tells it apart. Such a page
  // can also post with no Referer at all (from an about:blank frame or a
  // blob: page), while the form's own page always sends one (its
  // Referrer-Policy is same-origin, and a reload sends the first post's
  // again). So a browser that tells the site must tell the page as well; an
  // older one may have been set to send no Referer, and is served as before.
  if (post.referer.empty()) return !toldSite;
  return isOwnPage(post.referer, origin, post.scriptName);
}
