// "Pobierz" from end to end: the dialog asks a scripted results service on
// the loopback interface and judges its answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/http/script_server.h"
#include "ui/headless_view.h"
#include "updater/fmsqlall.h"

namespace downsql::updater {
namespace {

using http::testing::AnswerAndClose;
using http::testing::ReadHead;
using http::testing::ScriptServer;
using http::testing::Send;
using http::testing::Step;

const std::string kReady = "GOTOWE mo\xBFna wprowadzi\xE6 losowania do bazy";
const std::string kEmpty =
    "GOTOWE \xBF"
    "adnych nowych losowa\xF1 nie znaleziono, spr\xF3"
    "buj p\xF3\x9Fniej ...";

struct Fetched {
  std::vector<std::string> lines_before;  // the editor just before the fetch
  std::vector<std::string> lines;
  std::string status;
  bool execute_enabled;
  std::vector<std::string> errors;
  std::vector<std::string> requests;
};

Fetched Pobierz(std::vector<Step> script, int silence_ms = kFetchSilenceLimitMs) {
  ScriptServer server({std::move(script)});
  Fetched out;
  {
    ui::HeadlessView view;
    UpdateState state;
    state.Present.fill(false);
    Tfmsqlall dialog(view, state, "127.0.0.1:" + std::to_string(server.port()));
    dialog.SetFetchSilenceLimit(silence_ms);
    dialog.HandleEvent(ui::DialogEvent::kShow);
    dialog.HandleEvent(ui::DialogEvent::kGetClick);
    out.lines = view.lines();
    out.status = view.StatusText();
    out.execute_enabled = view.ExecuteEnabled();
    out.errors = view.errors();
    // What the editor held before the answer: the same steps without a
    // service to answer them.
    ui::HeadlessView before;
    UpdateState state2;
    state2.Present.fill(false);
    Tfmsqlall dialog2(before, state2, "127.0.0.1:" + std::to_string(server.port()));
    dialog2.HandleEvent(ui::DialogEvent::kShow);
    out.lines_before = before.lines();
  }
  out.requests = server.requests();
  return out;
}

TEST(FetchAnswerTest, AnswerFillsTheEditorAndEnablesWykonaj) {
  const std::string body = "INSERT INTO LOTTO VALUES (1,'2013-05-04');\r\n\xB9\xEA;\r\n";
  Fetched f = Pobierz(AnswerAndClose(
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body));
  EXPECT_TRUE(f.errors.empty());
  EXPECT_EQ(f.lines,
            (std::vector<std::string>{"INSERT INTO LOTTO VALUES (1,'2013-05-04');", "\xB9\xEA;"}));
  EXPECT_EQ(f.status, kReady);
  EXPECT_TRUE(f.execute_enabled);
  ASSERT_EQ(f.requests.size(), 1u);
  EXPECT_EQ(f.requests[0].substr(0, f.requests[0].find("\r\n")),
            "GET /dtools/down_all_232.php?data={\"dl\":%5B\"LOTTO\",\"1899-12-30\",6,1%5D} "
            "HTTP/1.1");
}

TEST(FetchAnswerTest, BlankAnswerFindsNothing) {
  Fetched f = Pobierz(AnswerAndClose("HTTP/1.1 200 OK\r\n\r\n \r\n\t\r\n"));
  EXPECT_TRUE(f.errors.empty());
  EXPECT_EQ(f.status, kEmpty);
  EXPECT_FALSE(f.execute_enabled);
}

TEST(FetchAnswerTest, FailuresKeepTheEditorAndTheLastStatus) {
  struct Case {
    std::vector<Step> script;
    std::string error;
    std::string status;
    int silence_ms = kFetchSilenceLimitMs;
  } cases[] = {
      // The failing answer's body is read too, with progress.
      {AnswerAndClose("HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone"),
       "HTTP/1.1 404 Not Found.", "Odebrano 4 bajt\xF3w"},
      // The answer breaks off inside a chunk: the last progress text stays.
      {AnswerAndClose("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel"),
       "Connection Closed Gracefully.", "Odebrano 3 bajt\xF3w"},
      // The service stops sending inside the body for longer than the limit.
      {{ReadHead(), Send("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc")},
       "Read Timeout.",
       "Odebrano 3 bajt\xF3w",
       300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    Fetched f = Pobierz(c.script, c.silence_ms);
    EXPECT_EQ(f.errors, std::vector<std::string>{c.error});
    EXPECT_FALSE(f.execute_enabled);
    // The summary, then the three request lines.
    ASSERT_EQ(f.lines.size(), f.lines_before.size() + 3);
    EXPECT_TRUE(std::equal(f.lines_before.begin(), f.lines_before.end(), f.lines.begin()));
    EXPECT_EQ(f.status, c.status);
  }
}

}  // namespace
}  // namespace downsql::updater
