#pragma once
// Prints every value that reaches one of its inputs as "M ID.INPUT VALUE". Inputs take any type.
#include <functional>
#include <string>
#include <vector>

#include "loom/JModuleObj.h"
#include "loom/JWireValue.h"

class Monitor : public JModuleObj {
public:
  static constexpr int kMaxInputs = 16;
  Monitor();
  const char* className() const override { return "Monitor"; }
  JObject* clone() const override { return new Monitor(*this); }
  void draw(JGraphics& g, int x, int y, int w, int h) override;
  void engine(int n, JLinkObj& link) override;

  const std::vector<JWireValue>& last() const { return last_; }
  // One input per value watched, of any type.
  void setInputs(int n);
  // Also hands every M line to `listener` (the canvas's event stream); null for none. Set and
  // called on the host thread only.
  static void setLineListener(std::function<void(const std::string&)> listener);

private:
  std::vector<JWireValue> last_;
};
