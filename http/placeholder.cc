// Replaced by the HTTP client.
