// The diagram reader on arbitrary bytes: a bad file is a JDiagramError, never a crash, and a
// diagram that loaded saves into a file that loads again to the same text.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Monitor.h"
#include "Player.h"
#include "TestModules.h"
#include "Timer.h"
#include "Value.h"
#include "loom/JDiagram.h"

namespace {
// Ports of each data type, one link per typed input, and content of every kind.
class FuzzTyped : public JModuleObj {
public:
  FuzzTyped() {
    inputCount = 3;
    outputCount = 2;
  }
  const char* className() const override { return "FuzzTyped"; }
  JObject* clone() const override { return new FuzzTyped(*this); }
  int inputType(int n) override { return n == 0 ? JStringData::id : n == 1 ? JBytesData::id : kAnyDataType; }
  int outputType(int n) override { return n == 0 ? JStringData::id : JBytesData::id; }
  bool inputAllowed(int n) override { return n == 2 || inputSet(n).size() == 0; }
  void writeContent(JOutputStream& os) override {
    JModuleObj::writeContent(os);
    putString(os, "name", name);
    putObject(os, "tint", tint);
    putObject(os, "data", data);
    putIntegers(os, "n", numbers, 4);
    putFlags(os, "f", flags, 2);
  }
  void readContent(JDictionary& dict) override {
    JModuleObj::readContent(dict);
    name = getString(dict, "name", "typed");
    getObject(dict, "tint", tint);
    getObject(dict, "data", data);
    getIntegers(dict, "n", numbers, 4);
    getFlags(dict, "f", flags, 2);
  }

  JString name = "typed";
  JColor tint = JColor::blue;
  JBlock data;
  int numbers[4] = {1, 2, 3, 4};
  bool flags[2] = {true, false};
};

bool registerClasses() {
  JTestScaler().Register();
  JTestRecorder().Register();
  FuzzTyped().Register();
  Player().Register();
  Monitor().Register();
  Timer().Register();
  Value().Register();
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool registered = registerClasses();
  (void)registered;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<JDiagram> diagram;
  try {
    diagram = JDiagram::loadText(text, "fuzz.lwd");
  } catch (const JDiagramError&) { return 0; }
  const std::string saved = diagram->saveText();  // what loaded from UTF-8 JSON saves
  try {
    std::string again = JDiagram::loadText(saved, "saved.lwd")->saveText();
    if (again != saved) {
      std::fprintf(stderr, "saved diagram changed on reload:\n%s\n---\n%s\n", saved.c_str(), again.c_str());
      std::abort();
    }
  } catch (const JDiagramError& e) {
    std::fprintf(stderr, "saved diagram does not load: %s\n%s\n", e.what(), saved.c_str());
    std::abort();
  }
  return 0;
}
