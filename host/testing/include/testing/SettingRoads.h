#pragma once
// Every ranged setting of a class, sent a value below and a value above its range by each road a
// user has: the property (in the process), `loomwork run --set` and a diagram file (through the
// real command). Each road must end as the setting's row states: taken, held to the range, left
// out with a warning or refused with the same error text; a stored key's own rule (a stored 0
// that keeps the setting) applies to the file only.
#include <string>
#include <vector>

// One line per road that did not end as the row states; empty when every road agrees.
std::vector<std::string> checkSettingRoads(const std::string& className, const std::string& loomworkBin,
                                           const std::string& modulesDir);
