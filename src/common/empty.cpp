// Keeps every subsystem library non-empty while it grows.
