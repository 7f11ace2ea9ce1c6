#pragma once
// The canvas page's files (index.html, canvas.js, canvas.css), built into the program from
// host/app/canvas by CanvasEmbed.cmake, so that the binary serves them wherever it runs.
#include <cstddef>
#include <string>

struct CanvasPageFile {
  const char* name;  // "index.html"
  const char* type;  // its Content-Type
  const unsigned char* data;
  size_t size;
};

// The file of that name, or nullptr when the page has none.
const CanvasPageFile* canvasPageFile(const std::string& name);
