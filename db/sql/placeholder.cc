// Replaced by the SQL engine.
