#pragma once
#include <string>

#include "gfxkit/JCanvas.h"
#include "loom/JDiagram.h"

// Draws every module's face at its rect, with its ports and the wires, on one canvas that holds
// the whole diagram.
JCanvas renderDiagram(JDiagram& d);
