// The import dialog Tfmsqlall: the summary of what will be fetched, and the
// commands "Pobierz" (fetch the missing draws as SQL text into the editor),
// "Wykonaj" (run the editor's text against the database in one transaction)
// and "Zamknij".
//
// The dialog's logic talks to its window only through ui::DialogView, so it
// runs the same under a window toolkit, in a terminal and headless in tests.
// Handlers catch nothing; HandleEvent, the event dispatch, shows an escaping
// error in the view's error box (a silent abort shows nothing) and the
// dialog keeps whatever state the handler reached. Command states: "Wykonaj" starts disabled;
// "Pobierz" clears UpdateState::ExecuteLocked and a non-empty answer enables "Wykonaj"; a finished
// import (also one that found nothing to run) disables it and sets the lock; a double click on the
// button strip enables it and clears the lock.
//
// The operations live in their own files: fetch_answer.cc (FetchAnswer,
// HttpWork) and database_operations.cc (RefreshLastDraws, ExecuteImport,
// Query1QueryProgress).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "db/access/tabula_query.h"
#include "ui/dialog_view.h"
#include "updater/update_state.h"

namespace downsql::updater {

// How long a fetch waits for the next byte of the answer before it ends with
// "Read Timeout" (milliseconds; 0 waits without limit). The dialog runs on
// the host's thread, so a silent service must not hold it for good; a
// service that keeps sending is never cut off.
inline constexpr int kFetchSilenceLimitMs = 60000;

class Tfmsqlall : public ui::DialogEventSink {
 public:
  // service_host ("host" or "host:port") is where "Pobierz" sends the
  // request. view and state must outlive the dialog.
  Tfmsqlall(ui::DialogView& view, UpdateState& state, std::string service_host);
  Tfmsqlall(const Tfmsqlall&) = delete;
  Tfmsqlall& operator=(const Tfmsqlall&) = delete;

  // Runs the dialog modally; returns when it has closed.
  void ShowModal() { view_.RunModal(*this); }

  // Calls the event's handler; an error escaping it goes to the error box
  // (ErrorBoxMessage of its text). Never throws.
  void HandleEvent(ui::DialogEvent event) override;

  // Handlers. Each raises whatever its steps raise.
  // The editor gets the summary and the line "Wciśnij przycisk POBIERZ".
  void FormShow();
  // Clears the lock, builds the request into LastRequest, sets the
  // connecting status, appends the request lines and fetches the answer.
  void btnGETClick();
  // Unless locked: imports the editor's text, disables "Wykonaj", sets the
  // lock and shows the new summary with the total count.
  void btnExecuteClick();
  void btnOKClick();
  void Panel1DblClick();
  // Appends LastRequest as one line (an empty line before any "Pobierz").
  void StatusBar1DblClick();

  // Refreshes the last draws, then builds the summary text.
  std::string BuildSummary();

  // Fills LastDrawDate and LastDrawId of every present game from its table
  // in DatabaseDirectory (greatest "date" and "id"; 0 for an empty table),
  // game by game through Query1, which stays open on the last game's row.
  // An error ends the refresh at that game; later games keep their values.
  // Needs the default engine and session (access::TTabulaLibrary).
  void RefreshLastDraws();
  // Fetches the service's answer to the unencoded request address into the
  // editor and judges it (PlaceAnswer). Raises the HTTP client's errors,
  // ENetReadTimeout when the service is silent for the fetch silence limit.
  void FetchAnswer(const std::string& address);
  // The silence limit of later fetches (kFetchSilenceLimitMs until set).
  void SetFetchSilenceLimit(int ms) { fetch_silence_ms_ = ms; }
  // Runs text, trimmed, as the script "START TRANSACTION;" text "COMMIT;"
  // through Query1 in DatabaseDirectory; LastImportCount becomes the rows
  // the script affected and the status "Do baz gier wprowadzono N nowych
  // wyników losowań". An error of any statement rolls the script's own
  // transaction back and passes on, leaving the count and the status as
  // they were. A text that is empty after trimming sets the status
  // "Aktualnych losowań nie znaleziono " and the lock instead, keeping
  // LastImportCount.
  void ExecuteImport(const std::string& text);
  // Progress of the HTTP client: "Odebrano %d bajtów".
  void HttpWork(int mode, int64_t count);
  // Progress of the import script: "Wykonano N % poleceń"; abort unchanged.
  void Query1QueryProgress(int percent, bool& abort);

  // The last steps of a fetch: the editor's whole text becomes body; a text
  // that is not empty after trimming sets the ready status and enables
  // "Wykonaj", an empty one sets the nothing-found status and leaves
  // "Wykonaj" as it is.
  void PlaceAnswer(std::string body);

  const std::string& service_host() const { return service_host_; }

  // Called during an import after each statement of the script with the
  // bytes of the script run so far and its whole size; unset, nothing is
  // called. The command-line update draws its progress bar from it.
  std::function<void(int64_t done, int64_t total)> OnImportProgress;

 private:
  ui::DialogView& view_;
  UpdateState& state_;
  std::string service_host_;
  std::string LastRequest;  // the last address built by "Pobierz"
  int fetch_silence_ms_ = kFetchSilenceLimitMs;
  // The dialog's one query: the last-draw SELECT and the import script.
  access::TTabulaQuery Query1;
};

// The dialog of the DoUpdate call in progress; null outside a call.
extern Tfmsqlall* fmsqlall;

// An error's message as the error box shows it: "." appended when the last
// byte sorts after the full stop.
std::string ErrorBoxMessage(std::string_view message);

// text without leading and trailing blanks and control characters (bytes up
// to 0x20).
std::string_view TrimText(std::string_view text);

}  // namespace downsql::updater
