// Replaced by the database access layer.
