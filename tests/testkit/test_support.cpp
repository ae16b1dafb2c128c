// Shared test support lives mostly in headers; this keeps the library non-empty.
