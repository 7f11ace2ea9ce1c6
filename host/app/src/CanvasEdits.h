#pragma once
// Changes to a diagram, the same whichever road they come by: `loomwork set`, `run --set`,
// `run --save`, and the canvas in the browser while the diagram runs. Each refusal is an
// EditError whose text is the one line the command line prints.
#include <stdexcept>
#include <string>

#include "gfxkit/JGeometry.h"

class JDiagram;
class JModuleObj;

class EditError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// ID.PROPERTY=VALUE, as the command line writes it.
void applySetting(JDiagram& d, const std::string& setting);
// A property changed through the module's settings table (or, for a module without one, its
// updateProperty). A value that would strand a wire is refused and the old value put back.
void applySetting(JDiagram& d, const std::string& id, const std::string& name, const std::string& text);

// Saving into another folder: relative paths in the modules' settings that name existing files
// are rewritten relative to the new folder.
void moveRelativePaths(JDiagram& d, const std::string& savePath);

// A wire between "ID:N" ends, as a diagram file names them; the host's link rules apply.
void linkEnds(JDiagram& d, const std::string& from, const std::string& to);
void unlinkEnds(JDiagram& d, const std::string& from, const std::string& to);

// [x, y, width, height] as a diagram file holds it; false when the numbers do not make one.
bool rectFromNumbers(const long long v[4], JRect& r);
