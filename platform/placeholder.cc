// Replaced by the platform implementations.
