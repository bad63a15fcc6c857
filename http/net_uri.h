// TNetURI: an address split into its parts, put together again, and the two
// escaping rules for the request target.
//
// Addresses are 8-bit text handled byte by byte. Parsing never fails; a
// part it cannot find stays empty. Composing needs a protocol and a host.
#pragma once

#include <string>

namespace downsql::http {

class TNetURI {
 public:
  TNetURI() = default;
  // Parses the address at once when it is not empty.
  explicit TNetURI(const std::string& uri);

  // Splits text into the parts below; backslashes count as slashes. The
  // address text keeps the text (with slashes).
  void ParseUri(const std::string& text);

  // The address from the parts: protocol "://" [user [":" password] "@"]
  // host [":" port] path document params ["#" bookmark]. Raises
  // ENetURIException "Protocol field is empty" / "Host field is empty".
  std::string ComposeUri(bool include_user_info, bool include_bookmark) const;

  // "%XX" (upper case) for blank # % * + < > and bytes < 0x20 or >= 0x80.
  static std::string EncodePath(const std::string& text);
  // "%XX" (upper case) for blank # % * < > [ ] and bytes < 0x21 or > 0x80.
  static std::string EncodeParams(const std::string& text);
  // Parses text, escapes Path and Document by the path rule and Params by the
  // parameter rule, and returns the address without user information and
  // bookmark. Raises as ComposeUri.
  static std::string EncodeUri(const std::string& text);

  const std::string& Uri() const { return uri_; }

  std::string Protocol;
  std::string UserName;
  std::string Password;
  std::string Host;
  std::string Port;
  std::string Path;
  std::string Document;
  std::string Params;
  std::string Bookmark;

 private:
  std::string uri_;
};

}  // namespace downsql::http
