#pragma once
#include <string>
#include <vector>

// Loads every module library (*.so) from the folders given, else from $LOOMWORK_MODULES
// (colon-separated), else ../modules beside the program, else ../lib/loomwork/modules. Loading a
// library registers its class. Libraries that cannot be loaded are reported on standard error.
// Returns the folders it searched (when none was found, the places it looked, each marked so).
std::vector<std::string> loadModuleLibraries(const std::vector<std::string>& folders);

// Registers the host's own modules (Player, Monitor, Timer, Value, SerialPort).
void registerHostModules();
