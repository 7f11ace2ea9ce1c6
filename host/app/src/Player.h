#pragma once
// Plays recorded values onto its outputs at their times, counted from the start of the run.
#include <vector>

#include "PlayerFile.h"
#include "base/JAtomic.h"
#include "loom/JModuleObj.h"

class Player : public JModuleObj {
public:
  Player();
  const char* className() const override { return "Player"; }
  JObject* clone() const override { return new Player(*this); }
  void readContent(JDictionary& dict) override;
  void startup() override;
  void close() override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  void draw(JGraphics& g, int x, int y, int w, int h) override;

  // Reads and checks the file; false with "FILE: error: line N: what" in error.
  bool prepareRun(std::string& error) override;
  // Where the Player is in its file.
  bool playProgress(size_t& played, size_t& total) const override;

  // The output ports follow "outputs" (a text that is no list of types keeps the ports as they
  // are, said in a debug line). A Player that is playing plays its file again from the start with
  // the new types: the values it holds are of the new ones.
  void applyOutputs();

  JString file;
  JString outputs;

private:
  void playDue();
  void schedule();

  std::vector<int> types_{JIntegerData::id};
  std::vector<JWireValue> values_;
  std::vector<PlayerEvent> events_;
  size_t next_ = 0;
  JAtomic<size_t> played_{0}, total_{0};
  long long start_ = 0;
  bool running_ = false;
  unsigned long long schedule_ = 0;  // the latest schedule's number: an earlier one is let go
};
