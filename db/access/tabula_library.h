// The database objects that exist while the library is loaded.
//
// The library creates one TTabulaLibrary when it is loaded and destroys it
// when it is unloaded: it makes the engine component (one user) and the
// session "Default", and frees them in the reverse order (the session
// first). While it exists TTabulaEngine::Default() is its engine; at most
// one exists at a time.
#pragma once

namespace downsql::access {

class TTabulaEngine;
class TTabulaSession;

class TTabulaLibrary {
 public:
  static constexpr char kDefaultSessionName[] = "Default";

  TTabulaLibrary();
  ~TTabulaLibrary();
  TTabulaLibrary(const TTabulaLibrary&) = delete;
  TTabulaLibrary& operator=(const TTabulaLibrary&) = delete;

  TTabulaEngine& engine() { return *engine_; }
  TTabulaSession& default_session() { return *session_; }

 private:
  TTabulaEngine* engine_;
  TTabulaSession* session_;
};

}  // namespace downsql::access
