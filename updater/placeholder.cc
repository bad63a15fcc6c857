// Replaced by the updater.
