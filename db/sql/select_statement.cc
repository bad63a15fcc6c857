// The SELECT statement. Placeholder until the SELECT engine lands: it is
// recognised and skipped, and refuses to run.
#include "db/sql/statement_kinds.h"

namespace downsql::sql {

std::unique_ptr<TStatementBody> NewSelectStatement() { return NewUnsupportedStatement("SELECT"); }

}  // namespace downsql::sql
