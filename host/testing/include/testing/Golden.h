#pragma once
// What `loomwork modules --json` says of each class (ports with index, tag, type and side;
// properties with kind, value and range), compared with the golden file kept beside the class's
// tests: FOLDER/tests/golden/CLASS.json. Set LOOMWORK_UPDATE_GOLDEN=1 to write the files anew
// from what the command says now.
#include <string>
#include <vector>

struct GoldenDifference {
  std::string className;
  std::string what;  // empty when the class matches its file
};

// Every golden file below sourceRoot's host/app and modules/*, compared with the command's
// listing of the libraries in modulesDir. A class listed without a file, and a file whose class
// is not listed, are differences too.
std::vector<GoldenDifference> compareModulesWithGolden(const std::string& loomworkBin, const std::string& modulesDir,
                                                       const std::string& sourceRoot);
