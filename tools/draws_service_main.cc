// draws-service: a results service for the updater, on cpp-httplib.
//
//   GET /dtools/down_all_232.php?data={"dl":["LOTTO","2013-05-04",6,5432],...}
//
// answers, from its own Tabula database of draw history, every draw newer
// than the ones the request names, as INSERT statements (draw_answer.h),
// streamed in chunks so that no answer is ever held whole. A payload that
// is not the expected shape gets 400 and a one-line reason. Every request
// is logged in one line on standard output:
//
//   2026-12-10 13:40:01 127.0.0.1 GET /dtools/down_all_232.php 200 games=3 draws=1234 bytes=98765
//   12 ms
//
// The first line printed says where it listens, so that a script that asked
// for port 0 learns the port:
//
//   draws-service: listening on 127.0.0.1:40123, database /tmp/service/
//
// SIGINT and SIGTERM stop it after the requests in progress.
#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "db/storage/engine_settings.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "tools/draws/draw_answer.h"
#include "tools/draws/draw_payload.h"

namespace {

using namespace downsql;

constexpr char kRequestPath[] = "/dtools/down_all_232.php";
constexpr size_t kChunkBytes = 64 * 1024;
constexpr char kContentType[] = "text/plain; charset=windows-1250";

// The storage engine is used by one thread at a time: every request's
// reading, opening and closing of tables happens under this lock, a chunk
// at a time, so that concurrent requests interleave without sharing a table.
std::mutex storage_mutex;

// What the log line of the request being handled on this thread says
// beyond the request line and the status.
struct TRequestNote {
  uint64_t start_ms = 0;
  std::string text;
  // Filled while the answer streams; read by the logger once it is sent.
  struct TCounts {
    int games = 0;
    int64_t draws = 0;
    int64_t bytes = 0;
    std::string error;
  };
  std::shared_ptr<TCounts> counts;
};
thread_local TRequestNote request_note;

// The answer of one request; it is released under the storage lock.
struct TLockedAnswer {
  std::unique_ptr<draws::TDrawAnswer> answer;
  ~TLockedAnswer() {
    std::lock_guard<std::mutex> lock(storage_mutex);
    answer.reset();
  }
};

httplib::Server* running_server = nullptr;

extern "C" void StopOnSignal(int) {
  if (running_server != nullptr) running_server->stop();
}

void PrintHelp() {
  std::cout << "usage: draws-service --db DIR [--port N] [--bind ADDRESS]\n"
               "\n"
               "Answers the updater's GET "
            << kRequestPath
            << "?data=... with the newer\n"
               "draws of the database DIR (made by draws-history) as INSERT statements.\n"
               "\n"
               "options:\n"
               "  --db DIR          the service's database directory\n"
               "  --port N          the port (default 8080; 0 picks a free one)\n"
               "  --bind ADDRESS    the address to listen on (default 127.0.0.1)\n"
               "  --help            this text\n"
               "\n"
               "The first line on standard output names the address and port; then one\n"
               "line per request. SIGINT or SIGTERM stops the service.\n";
}

int Usage(const std::string& problem) {
  std::cerr << "draws-service: " << problem << "\n(draws-service --help explains the options)\n";
  return 2;
}

std::string LogTime() {
  platform::LocalDateTime t = platform::LocalNow();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

void LogRequest(const httplib::Request& req, const httplib::Response& res) {
  std::string line = LogTime() + " " + req.remote_addr + " " + req.method + " " + req.path + " " +
                     std::to_string(res.status);
  if (const auto& counts = request_note.counts) {
    line += " games=" + std::to_string(counts->games) + " draws=" + std::to_string(counts->draws) +
            " bytes=" + std::to_string(counts->bytes);
    if (!counts->error.empty()) line += " failed: " + counts->error;
  }
  if (!request_note.text.empty()) line += " " + request_note.text;
  line += " " + std::to_string(platform::TickMs() - request_note.start_ms) + " ms";
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void Refuse(httplib::Response& res, const std::string& reason) {
  res.status = 400;
  res.set_content(reason + "\r\n", "text/plain");
  request_note.text = "refused: " + reason;
}

void AnswerDraws(const std::string& directory, const storage::EngineSettings& settings,
                 const httplib::Request& req, httplib::Response& res) {
  if (!req.has_param("data")) return Refuse(res, "the parameter data is missing");
  std::vector<draws::TPayloadMember> members;
  try {
    members = draws::ParseDrawPayload(req.get_param_value("data"));
  } catch (const draws::EBadPayload& e) {
    return Refuse(res, e.what());
  }
  auto held = std::make_shared<TLockedAnswer>();
  auto counts = std::make_shared<TRequestNote::TCounts>();
  {
    std::lock_guard<std::mutex> lock(storage_mutex);
    held->answer = std::make_unique<draws::TDrawAnswer>(directory, members, settings);
    counts->games = held->answer->games();
  }
  request_note.counts = counts;
  res.set_chunked_content_provider(kContentType, [held, counts](size_t, httplib::DataSink& sink) {
    std::string chunk;
    bool more = false;
    try {
      std::lock_guard<std::mutex> lock(storage_mutex);
      more = held->answer->Next(chunk, kChunkBytes);
      counts->draws = held->answer->draws();
    } catch (const std::exception& e) {
      // The status line is gone already: breaking the connection before the
      // last chunk is how the client learns that the answer is incomplete.
      counts->error = e.what();
      return false;
    }
    if (!more) {
      sink.done();
      return true;
    }
    counts->bytes += int64_t(chunk.size());
    return sink.write(chunk.data(), chunk.size());
  });
}

}  // namespace

int main(int argc, char** argv) {
  std::string directory, bind = "127.0.0.1";
  int port = 8080;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      PrintHelp();
      return 0;
    }
    if (i + 1 >= args.size()) return Usage("unknown option or missing value: " + a);
    const std::string& v = args[++i];
    if (a == "--db") {
      directory = v;
    } else if (a == "--bind") {
      bind = v;
    } else if (a == "--port") {
      char* end = nullptr;
      long p = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || p < 0 || p > 65535) return Usage("not a port: " + v);
      port = int(p);
    } else {
      return Usage("unknown option: " + a);
    }
  }
  if (directory.empty()) return Usage("--db DIR is missing");
  if (!platform::DirectoryExists(directory)) return Usage("no such directory: " + directory);
  if (directory.back() != '/' && directory.back() != '\\') directory += platform::PathSeparator();

  storage::EngineSettings settings;
  httplib::Server server;
  server.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
    request_note = TRequestNote{};
    request_note.start_ms = platform::TickMs();
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.set_logger(LogRequest);
  server.Get(kRequestPath, [&](const httplib::Request& req, httplib::Response& res) {
    AnswerDraws(directory, settings, req, res);
  });

  if (port == 0) {
    port = server.bind_to_any_port(bind);
    if (port < 0) port = 0;
  } else if (!server.bind_to_port(bind.c_str(), port)) {
    port = 0;
  }
  if (port == 0) {
    std::cerr << "draws-service: cannot listen on " << bind << "\n";
    return 1;
  }
  std::printf("draws-service: listening on %s:%d, database %s\n", bind.c_str(), port,
              directory.c_str());
  std::fflush(stdout);
  running_server = &server;
  std::signal(SIGINT, StopOnSignal);
  std::signal(SIGTERM, StopOnSignal);
  bool ok = server.listen_after_bind();
  running_server = nullptr;
  std::printf("draws-service: stopped\n");
  return ok ? 0 : 1;
}
