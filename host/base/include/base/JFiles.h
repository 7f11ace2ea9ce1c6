#pragma once
// Whole-file reading and writing for the host's own files (diagrams, recordings).
#include <string>

// Reads a regular file of at most maxBytes; false with the reason ("cannot read the file",
// "the file is larger than N bytes") in error.
bool readWholeFile(const std::string& path, size_t maxBytes, std::string& out, std::string& error);

// Writes a file through a temporary beside it and a rename, so that a failed write leaves the
// old file as it was.
bool writeWholeFile(const std::string& path, const std::string& text, std::string& error);
