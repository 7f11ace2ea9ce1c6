// Every class of every family, started and switched on, then cloned while its own thread runs and
// removed: a copy never shares or races the running thread (run under ThreadSanitizer in
// make test-tsan), and removing a running module stops its thread.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Libraries.h"
#include "base/JComponent.h"
#include "testing/Harness.h"

namespace {

// Inputs that switch a module's activity on: its thread starts or its connection opens.
bool switchesOn(const std::string& tag) {
  return tag.find("enable") != std::string::npos || tag.find("reload") != std::string::npos ||
         tag.find("listen") != std::string::npos;
}

}  // namespace

TEST(ThreadedModules, CloneAndRemoveWhileTheirThreadsRun) {
  registerHostModules();
  loadModuleLibraries({LOOMWORK_MODULES_DIR});
  const auto names = JClassRegistry::names();
  ASSERT_GT(names.size(), 10u);
  JTestHarness h;
  int placed = 0;
  for (const auto& name : names) {
    SCOPED_TRACE(name);
    std::unique_ptr<JObject> made(JClassRegistry::create(name));
    auto* m = dynamic_cast<JModuleObj*>(made.get());
    if (!m) continue;
    made.release();
    // Missing keys read as stored zeros: network modules listen on a port the system picks.
    JDictionary empty(JNode::map());
    m->readContent(empty);
    h.place(m, "m" + std::to_string(placed++));
    m->startup();
    for (int i = 0; i < m->inputCount; ++i)
      if (m->inputType(i) == JIntegerData::id && switchesOn(m->inputTag(i).str())) h.send(*m, i, 65535);
    h.runFor(20);
    for (int round = 0; round < 3; ++round) {
      std::unique_ptr<JObject> copy(m->clone());
      auto* c = static_cast<JModuleObj*>(copy.get());
      EXPECT_EQ(c->settings(), m->settings());
      JArray props = c->getProperties();  // a copy answers like any module, and owns no thread
      (void)props;
      c->close();
      h.runFor(5);
    }
    h.diagram().remove(m);
    h.runFor(5);
  }
  EXPECT_GT(placed, 10);
}
