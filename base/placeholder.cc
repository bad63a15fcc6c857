// Replaced by the base helpers.
