#include "http/net_uri.h"

#include "http/net_exception.h"

namespace downsql::http {
namespace {

// Splits R into Path, Document and Params at the query start (the first "?",
// else the first "=") and the last "/" before it.
void SplitPath(std::string r, bool absolute, TNetURI& uri) {
  size_t q = r.find('?');
  if (q == std::string::npos) q = r.find('=');
  size_t slash =
      q == std::string::npos ? r.rfind('/') : (q == 0 ? std::string::npos : r.rfind('/', q - 1));
  size_t p = slash == std::string::npos ? 0 : slash + 1;
  uri.Path = (absolute ? "/" : "") + r.substr(0, p);
  if (q != std::string::npos) {
    uri.Document = r.substr(0, q);
    uri.Params = r.substr(q);
  } else {
    uri.Document = r;
  }
  uri.Document.erase(0, p);
}

std::string Escape(const std::string& text, bool (*escaped)(unsigned char)) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    unsigned char b = static_cast<unsigned char>(ch);
    if (escaped(b)) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

bool PathEscaped(unsigned char b) {
  switch (b) {
    case ' ':
    case '#':
    case '%':
    case '*':
    case '+':
    case '<':
    case '>':
      return true;
    default:
      return b < 0x20 || b >= 0x80;
  }
}

bool ParamEscaped(unsigned char b) {
  switch (b) {
    case ' ':
    case '#':
    case '%':
    case '*':
    case '<':
    case '>':
    case '[':
    case ']':
      return true;
    default:
      return b < 0x21 || b > 0x80;
  }
}

}  // namespace

TNetURI::TNetURI(const std::string& uri) {
  if (!uri.empty()) ParseUri(uri);
}

void TNetURI::ParseUri(const std::string& text) {
  uri_ = text;
  for (char& ch : uri_)
    if (ch == '\\') ch = '/';
  std::string r = uri_;
  Protocol.clear(), UserName.clear(), Password.clear(), Host.clear(), Port.clear();
  Path.clear(), Document.clear(), Params.clear(), Bookmark.clear();

  size_t sep = r.find("://");
  if (sep != std::string::npos) {
    Protocol = r.substr(0, sep);
    r.erase(0, sep + 3);
    std::string authority;
    size_t slash = r.find('/');
    if (slash != std::string::npos) {
      authority = r.substr(0, slash);
      r.erase(0, slash + 1);
    } else {
      authority = r;
      r.clear();
    }
    size_t at = authority.find('@');
    if (at != std::string::npos) {
      std::string user_info = authority.substr(0, at);
      authority.erase(0, at + 1);
      size_t colon = user_info.find(':');
      UserName = user_info.substr(0, colon);
      if (colon != std::string::npos) Password = user_info.substr(colon + 1);
      if (UserName.empty()) Password.clear();
    }
    size_t colon = authority.find(':');
    Host = authority.substr(0, colon);
    if (colon != std::string::npos) Port = authority.substr(colon + 1);
    SplitPath(r, true, *this);
    size_t hash = Document.find('#');
    if (hash != std::string::npos) {
      Bookmark = Document.substr(hash + 1);
      Document.erase(hash);
    }
  } else {
    SplitPath(r, false, *this);
  }
  if (Bookmark.empty()) {
    size_t hash = Params.find('#');
    if (hash != std::string::npos) {
      Bookmark = Params.substr(hash + 1);
      Params.erase(hash);
    }
  }
}

std::string TNetURI::ComposeUri(bool include_user_info, bool include_bookmark) const {
  if (Protocol.empty()) throw ENetURIException("Protocol field is empty");
  std::string out = Protocol + "://";
  if (include_user_info && !UserName.empty()) {
    out += UserName;
    if (!Password.empty()) out += ":" + Password;
    out += "@";
  }
  if (Host.empty()) throw ENetURIException("Host field is empty");
  out += Host;
  if (!Port.empty()) out += ":" + Port;
  out += Path + Document + Params;
  if (include_bookmark && !Bookmark.empty()) out += "#" + Bookmark;
  return out;
}

std::string TNetURI::EncodePath(const std::string& text) { return Escape(text, PathEscaped); }

std::string TNetURI::EncodeParams(const std::string& text) { return Escape(text, ParamEscaped); }

std::string TNetURI::EncodeUri(const std::string& text) {
  TNetURI uri(text);
  uri.Path = EncodePath(uri.Path);
  uri.Document = EncodePath(uri.Document);
  uri.Params = EncodeParams(uri.Params);
  uri.uri_ = uri.ComposeUri(true, true);
  return uri.ComposeUri(false, false);
}

}  // namespace downsql::http
