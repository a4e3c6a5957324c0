// Keeps the library non-empty while its parts arrive.
