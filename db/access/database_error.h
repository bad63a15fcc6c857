// The component layer's error: a message and no code.
//
// The engine, session and database components raise this for misuse
// (wrong state, bad names); the engine core raises ETabulaEngineError with
// a code instead. The messages below are the complete set, used byte for
// byte; "%s" is filled with the session or database name concerned.
#pragma once

#include <stdexcept>
#include <string>

namespace downsql::access {

class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& message) : std::runtime_error(message) {}
  // message with its one "%s" replaced by name.
  EDatabaseError(const char* message, const std::string& name);
};

namespace msg {
inline constexpr const char kEngineExists[] = "An engine component already exists";
inline constexpr const char kEngineActive[] =
    "Cannot perform this operation when the engine is active";
inline constexpr const char kSessionNameInvalid[] = "Session name '%s' is not valid";
inline constexpr const char kSessionNameExists[] = "Session name '%s' already exists";
inline constexpr const char kSessionNameMissing[] = "Session name is missing";
inline constexpr const char kSessionActive[] = "Cannot perform this operation on an active session";
inline constexpr const char kSessionInactive[] =
    "Cannot perform this operation on an inactive session";
inline constexpr const char kAutoSessionActive[] =
    "Cannot perform this operation on the active auto-session";
inline constexpr const char kAutoSessionOnly[] =
    "The active auto-session can be the only active session";
inline constexpr const char kAutoSessionExists[] = "This auto-session already exists";
inline constexpr const char kRemoteWithServer[] =
    "Cannot activate a remote session with the server engine";
inline constexpr const char kDatabaseNameInvalid[] = "Database name '%s' is not valid";
inline constexpr const char kDatabaseNameExists[] = "Database name '%s' already exists";
inline constexpr const char kDatabaseNameMissing[] = "Database name is missing";
inline constexpr const char kDatabaseOpen[] = "Cannot perform this operation on an open database";
inline constexpr const char kDatabaseClosed[] =
    "Cannot perform this operation on a closed database";
inline constexpr const char kTransactionActive[] =
    "Database '%s' already has an active transaction";
inline constexpr const char kNoTransaction[] = "Database '%s' has no active transaction";
}  // namespace msg

}  // namespace downsql::access
