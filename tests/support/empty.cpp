// Keeps the support library non-empty while no fake needs a source file.
