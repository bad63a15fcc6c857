// draws-service as a process on the loopback interface, asked with a plain
// HTTP client.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>

#include "base/date_time.h"
#include "tests/platform/temp_dir.h"
#include "tests/tools/service_process.h"
#include "tools/draws/draw_answer.h"
#include "tools/draws/draw_history.h"

namespace downsql::draws {
namespace {

using platform::TempDir;
using ::testing::HasSubstr;
using testing::TServiceProcess;

class ServiceTest : public ::testing::Test {
 protected:
  ServiceTest() {
    std::filesystem::create_directories(dir_.path() + "/service");
    THistoryOptions options;
    options.seed = 3;
    options.first_day = base::DayNumber(2025, 11, 1);
    options.last_day = base::DayNumber(2025, 12, 31);
    options.service_directory = dir_.path() + "/service/";
    options.games = {FindDrawGameByKey("dl"), FindDrawGameByKey("keno")};
    GenerateHistory(options, settings_);
    service_ = std::make_unique<TServiceProcess>(DRAWS_SERVICE_PATH, dir_.path() + "/service",
                                                 dir_.path() + "/service.log");
  }

  httplib::Result Get(const std::string& target) {
    httplib::Client client("127.0.0.1", service_->port());
    return client.Get(target.c_str());
  }
  // Log lines between the "listening" line and the "stopped" one.
  std::vector<std::string> RequestLog() {
    std::vector<std::string> lines;
    std::istringstream in(service_->Log());
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      if (line != "draws-service: stopped") lines.push_back(line);
    }
    return lines;
  }

  TempDir dir_;
  storage::EngineSettings settings_;
  std::unique_ptr<TServiceProcess> service_;
};

TEST_F(ServiceTest, StreamsTheNewerDrawsAndLogsTheRequest) {
  const std::string payload =
      R"({"dl":["LOTTO","2025-11-04",6,2],"keno":["keno","1899-12-30 00:00:00",20,0]})";
  std::string expected;
  {
    TDrawAnswer answer(dir_.path() + "/service/", ParseDrawPayload(payload), settings_);
    while (answer.Next(expected, 1 << 20)) {
    }
  }
  ASSERT_GT(expected.size(), 1u << 20);  // several chunks
  // The updater's encoding: blanks and brackets escaped, the rest as is.
  std::string target = "/dtools/down_all_232.php?data=" + payload;
  for (auto [from, to] : {std::pair{"[", "%5B"}, {"]", "%5D"}, {" ", "%20"}}) {
    for (size_t at; (at = target.find(from)) != std::string::npos;) target.replace(at, 1, to);
  }
  httplib::Result r = Get(target);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->get_header_value("Transfer-Encoding"), "chunked");
  EXPECT_TRUE(r->body == expected);

  // Nothing newer: an empty body.
  r = Get("/dtools/down_all_232.php?data={\"dl\":%5B\"LOTTO\",\"2026-01-01\",6,999%5D}");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body, "");

  // A request is logged once its answer is sent, so the two lines may come
  // in either order.
  service_->Stop();
  std::vector<std::string> log = RequestLog();
  ASSERT_EQ(log.size(), 2u);
  if (log[0].find("draws=0") != std::string::npos) std::swap(log[0], log[1]);
  size_t draws = 0;
  for (size_t at = 0; (at = expected.find("\r\n", at)) != std::string::npos; at += 2) ++draws;
  EXPECT_THAT(log[0],
              HasSubstr(" 127.0.0.1 GET /dtools/down_all_232.php 200 games=2 draws=" +
                        std::to_string(draws) + " bytes=" + std::to_string(expected.size())));
  EXPECT_THAT(log[1], HasSubstr(" 200 games=1 draws=0 bytes=0 "));
}

TEST_F(ServiceTest, RefusesMalformedPayloadsWithOneLineAndGoesOn) {
  const struct {
    const char* target;
    const char* body;
  } cases[] = {
      {"/dtools/down_all_232.php", "the parameter data is missing\r\n"},
      {"/dtools/down_all_232.php?data=%7B%22dl%22", "the payload is not JSON (at byte 6)\r\n"},
      {"/dtools/down_all_232.php?data={\"dl\":%5B\"LOTTO\",\"2013-13-01\",6,1%5D}",
       "member \"dl\": \"2013-13-01\" is not a date\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    httplib::Result r = Get(c.target);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);
    EXPECT_EQ(r->body, c.body);
  }
  httplib::Result r = Get("/elsewhere");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 404);
  r = Get("/dtools/down_all_232.php?data={}");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);

  EXPECT_EQ(service_->Stop(), 0);
  // A request is logged once its answer is sent: lines may come out of order.
  EXPECT_THAT(RequestLog(),
              ::testing::UnorderedElementsAre(
                  HasSubstr(" 400 refused: the parameter data is missing "),
                  HasSubstr(" 400 refused: the payload is not JSON (at byte 6) "),
                  HasSubstr(" 400 refused: member \"dl\": \"2013-13-01\" is not a date "),
                  HasSubstr(" GET /elsewhere 404 "), HasSubstr(" 200 games=0 draws=0 bytes=0 ")));
}

}  // namespace
}  // namespace downsql::draws
