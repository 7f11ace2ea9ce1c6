#pragma once
#include <string>

#include "gfxkit/JCanvas.h"
#include "loom/JDiagram.h"

// Draws every module's face at its rect, with its ports and the wires, on one canvas that holds
// the whole diagram.
JCanvas renderDiagram(JDiagram& d);

// A module's port marks, as the picture draws them, with the module's face at (x, y).
void drawPortMarks(JGraphics& g, JModuleObj& m, int x, int y);

// Renders the diagram and writes it as a PNG beside the target, renamed into place once complete
// (through a symbolic link to its target, keeping an existing file's permissions), so that a
// failure or a kill leaves the previous picture whole. False with the reason in error.
bool writeDiagramPicture(JDiagram& d, const std::string& path, std::string& error);

// The host modules' faces: rows of text in one label size (12 pixels), kept clear of the port
// marks along the sides and centred as a block in the face. Row `row` of `rows`.
void drawHostLabel(JModuleObj& m, JGraphics& g, const JString& text, int x, int y, int w, int h, int row, int rows);
