#include "http/net_uri.h"

#include <gtest/gtest.h>

#include "http/net_exception.h"

namespace downsql::http {
namespace {

struct ParseCase {
  const char* text;
  const char* protocol;
  const char* user;
  const char* password;
  const char* host;
  const char* port;
  const char* path;
  const char* document;
  const char* params;
  const char* bookmark;
};

TEST(NetUriTest, ParsesParts) {
  const ParseCase cases[] = {
      {"http://svc.example/dtools/down_all_232.php?data={\"dl\":[1]}", "http", "", "",
       "svc.example", "", "/dtools/", "down_all_232.php", "?data={\"dl\":[1]}", ""},
      // Slashes in the query stay there: the split is searched up to the "?".
      {"http://h/a/b.php?x=/y/z", "http", "", "", "h", "", "/a/", "b.php", "?x=/y/z", ""},
      {"http://h", "http", "", "", "h", "", "/", "", "", ""},
      {"http://h:8080/p/", "http", "", "", "h", "8080", "/p/", "", "", ""},
      {"http://u:pw@h/d#frag", "http", "u", "pw", "h", "", "/", "d", "", "frag"},
      {"http://:pw@h/", "http", "", "", "h", "", "/", "", "", ""},
      {"http://h/d?q=1#frag", "http", "", "", "h", "", "/", "d", "?q=1", "frag"},
      {"http:\\\\h\\a\\b", "http", "", "", "h", "", "/a/", "b", "", ""},
      // Without a "?" the first "=" starts the query.
      {"http://h/a/b=c/d", "http", "", "", "h", "", "/a/", "b", "=c/d", ""},
      // Without "://" the path gets no leading slash and the document keeps "#".
      {"dir/doc#x?q#y", "", "", "", "", "", "dir/", "doc#x", "?q", "y"},
      {"", "", "", "", "", "", "", "", "", ""},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.text);
    TNetURI uri(c.text);
    EXPECT_EQ(uri.Protocol, c.protocol);
    EXPECT_EQ(uri.UserName, c.user);
    EXPECT_EQ(uri.Password, c.password);
    EXPECT_EQ(uri.Host, c.host);
    EXPECT_EQ(uri.Port, c.port);
    EXPECT_EQ(uri.Path, c.path);
    EXPECT_EQ(uri.Document, c.document);
    EXPECT_EQ(uri.Params, c.params);
    EXPECT_EQ(uri.Bookmark, c.bookmark);
  }
}

TEST(NetUriTest, ComposesParts) {
  TNetURI uri("http://u:pw@h:8080/a/b?q#f");
  EXPECT_EQ(uri.ComposeUri(true, true), "http://u:pw@h:8080/a/b?q#f");
  EXPECT_EQ(uri.ComposeUri(false, false), "http://h:8080/a/b?q");
  EXPECT_EQ(TNetURI("http://h").ComposeUri(false, false), "http://h/");
  uri.Password.clear();
  EXPECT_EQ(uri.ComposeUri(true, false), "http://u@h:8080/a/b?q");
}

TEST(NetUriTest, ComposeNeedsProtocolAndHost) {
  try {
    TNetURI("/a/b").ComposeUri(false, false);
    FAIL();
  } catch (const ENetURIException& e) {
    EXPECT_STREQ(e.what(), "Protocol field is empty");
  }
  try {
    TNetURI::EncodeUri("http:///a/b");
    FAIL();
  } catch (const ENetURIException& e) {
    EXPECT_STREQ(e.what(), "Host field is empty");
  }
}

TEST(NetUriTest, EscapingRules) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  // Every byte is either copied or escaped; check the exact escaped sets.
  auto escaped = [](const std::string& encoded) {
    std::string set;
    for (size_t i = 0; i < encoded.size(); ++i) {
      if (encoded[i] == '%') {
        set += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
        i += 2;
      }
    }
    return set;
  };
  std::string path_set = escaped(TNetURI::EncodePath(all));
  std::string params_set = escaped(TNetURI::EncodeParams(all));
  std::string want_path, want_params;
  for (int b = 1; b < 256; ++b) {
    char ch = static_cast<char>(b);
    if (b < 0x20 || b >= 0x80 || std::string(" #%*+<>").find(ch) != std::string::npos)
      want_path += ch;
    if (b < 0x21 || b > 0x80 || std::string(" #%*<>[]").find(ch) != std::string::npos)
      want_params += ch;
  }
  EXPECT_EQ(path_set, want_path);
  EXPECT_EQ(params_set, want_params);
  EXPECT_EQ(TNetURI::EncodePath("a b[]+\x80\xFF"), "a%20b[]%2B%80%FF");
  EXPECT_EQ(TNetURI::EncodeParams("a b[]+\x80\xFF"), "a%20b%5B%5D+\x80%FF");
  EXPECT_EQ(TNetURI::EncodePath("%41"), "%2541");
  EXPECT_EQ(TNetURI::EncodeParams("%41"), "%2541");
}

TEST(NetUriTest, EncodeUri) {
  EXPECT_EQ(TNetURI::EncodeUri("http://h/dtools/down_all_232.php?data=[1 2]"),
            "http://h/dtools/down_all_232.php?data=%5B1%202%5D");
  EXPECT_EQ(TNetURI::EncodeUri("http://u:p@h:81/a b/c d?x=y z#frag"),
            "http://h:81/a%20b/c%20d?x=y%20z");
  EXPECT_EQ(TNetURI::EncodeUri(
                "http://h/dtools/down_all_232.php?data={\"dl\":[\"LOTTO\",\"2013-05-04\",6,5432],"
                "\"multi_multi\":[\"multi_multi\",\"2013-05-04 21:40:00\",20,98765]}"),
            "http://h/dtools/down_all_232.php?data={\"dl\":%5B\"LOTTO\",\"2013-05-04\",6,5432%5D,"
            "\"multi_multi\":%5B\"multi_multi\",\"2013-05-04%2021:40:00\",20,98765%5D}");
}

}  // namespace
}  // namespace downsql::http
