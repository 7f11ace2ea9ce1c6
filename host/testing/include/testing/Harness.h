#pragma once
// A bench for module tests: place a module, feed its inputs, and read back every broadcast (in
// order, with the value it carried), every debug line, its saved content and its face.
#include <functional>
#include <map>
#include <ostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/JComponent.h"
#include "gfxkit/JCanvas.h"
#include "loom/JDiagram.h"

class JTestHarness {
public:
  struct Broadcast {
    std::string module;
    int output;
    JWireValue value;
  };

  // One broadcast of a module as tests compare it: the output and the value, written as a plain
  // int, a text or a byte block. The kind counts (the integer 5 is not the text "5"); a failure
  // prints {12, 55}, {0, "text"} or {3, 0x00ff}.
  struct Output {
    Output(int output, int value) : output(output), value(JWireValue::ofInteger(value)) {}
    Output(int output, const char* text) : output(output), value(JWireValue::ofText(JString(text))) {}
    Output(int output, const std::string& text) : output(output), value(JWireValue::ofText(JString(text))) {}
    Output(int output, const JString& text) : output(output), value(JWireValue::ofText(text)) {}
    Output(int output, const JBlock& bytes) : output(output), value(JWireValue::ofBytes(bytes)) {}
    Output(int output, const JWireValue& value) : output(output), value(value) {}

    bool operator==(const Output& o) const { return output == o.output && value == o.value; }
    bool operator!=(const Output& o) const { return !(*this == o); }
    friend std::ostream& operator<<(std::ostream& os, const Output& o) {
      return os << "{" << o.output << ", " << o.value.format() << "}";
    }

    int output;
    JWireValue value;
  };
  using Outputs = std::vector<Output>;

  JTestHarness();
  ~JTestHarness();  // closes every module
  JTestHarness(const JTestHarness&) = delete;
  JTestHarness& operator=(const JTestHarness&) = delete;

  JDiagram& diagram() { return *diagram_; }

  // Places a module (owned by the harness) with an id and a rect.
  template <class M>
  M& place(M* module, const std::string& id = "m", const JRect& rect = JRect(0, 0, 160, 120)) {
    diagram_->add(module, id, rect);
    return *module;
  }
  template <class M>
  M& place(const std::string& id = "m", const JRect& rect = JRect(0, 0, 160, 120)) {
    return place(new M(), id, rect);
  }

  // Sends a value into input n of m through a wire from a source module that the harness makes
  // (and links) the first time, as the host would deliver it.
  void send(JModuleObj& m, int input, int value);
  void send(JModuleObj& m, int input, const JString& value);
  void send(JModuleObj& m, int input, const JBlock& value);
  // The source module feeding input n (made and linked on first use).
  JModuleObj& sourceFor(JModuleObj& m, int input);

  // Links two placed modules.
  JLinkObj* link(JModuleObj& from, int output, JModuleObj& to, int input) {
    return diagram_->link(&from, output, &to, input);
  }

  // What output n hands out now.
  int readInt(JModuleObj& m, int output);
  JString readText(JModuleObj& m, int output);
  JBlock readBytes(JModuleObj& m, int output);

  // Every broadcast seen so far, from any module except the harness's sources.
  const std::vector<Broadcast>& broadcasts() const { return broadcasts_; }
  std::vector<Broadcast> broadcastsOf(const JModuleObj& m) const;
  // (output, value) of each broadcast of m, in order: the usual thing to compare.
  Outputs outputsOf(const JModuleObj& m) const;
  std::vector<std::string> debugLines() const;  // "NAME: text"
  void clear();

  // Runs the host loop (queued cross-thread deliveries, timed tasks) until `done` or maxMs of
  // real time; true when done.
  bool runUntil(const std::function<bool()>& done, int maxMs);
  void runFor(int ms);
  int runPending() { return diagram_->runPending(); }

  // Persistence round trips.
  static JNode content(JModuleObj& m);  // what writeContent writes
  static void restore(JModuleObj& m, const JNode& content);
  // A fresh instance of m's class restored from m's content.
  static std::unique_ptr<JModuleObj> roundTrip(JModuleObj& m);
  static std::vector<std::string> keysOf(const JNode& content);
  // The content with one key left out, as an older or hand-written diagram may store it.
  static JNode without(const JNode& content, const std::string& key);

  // The module's face as the host paints it, on a canvas of its rect's size.
  static JCanvas render(JModuleObj& m, const JColor& background = JColor::white);

private:
  std::unique_ptr<JDiagram> diagram_;
  std::map<std::pair<JModuleObj*, int>, JModuleObj*> sources_;
  std::vector<Broadcast> broadcasts_;
  std::vector<std::string> debug_;
  mutable std::mutex debugMutex_;
  JComponent::Sink previousSink_;
};

// What tests write: EXPECT_EQ(h.outputsOf(m), (Outputs{{12, 55}, {0, "text"}})).
using Outputs = JTestHarness::Outputs;
