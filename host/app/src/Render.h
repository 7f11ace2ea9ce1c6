#pragma once
#include <string>

#include "gfxkit/JCanvas.h"
#include "loom/JDiagram.h"

// Draws every module's face at its rect, with its ports and the wires, on one canvas that holds
// the whole diagram.
JCanvas renderDiagram(JDiagram& d);

// The host modules' faces: rows of text in one label size (12 pixels), kept clear of the port
// marks along the sides and centred as a block in the face. Row `row` of `rows`.
void drawHostLabel(JModuleObj& m, JGraphics& g, const JString& text, int x, int y, int w, int h, int row, int rows);
