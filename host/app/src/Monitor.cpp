#include "Monitor.h"

#include "HostOutput.h"
#include "OutputLines.h"
#include "Render.h"
#include "loom/JWire.h"

namespace {
// "inputs" lives in the port count itself.
const JSettings kSettings{
    JSetting::custom<Monitor>(
        JSetting::kInteger, "inputs",
        [](const Monitor& m, int) {
          JSettingValue v;
          v.number = m.inputCount;
          return v;
        },
        [](Monitor& m, int, const JSettingValue& v) { m.setInputs(v.number); })
        .init(1)
        .range(1, Monitor::kMaxInputs, JOutOfRange::kRefuse)
        .whenMissing(1),
};
std::function<void(const std::string&)>& lineListener() {
  static std::function<void(const std::string&)> listener;
  return listener;
}
}  // namespace

void Monitor::setLineListener(std::function<void(const std::string&)> listener) {
  lineListener() = std::move(listener);
}

Monitor::Monitor() { setSettings(kSettings); }

// Inputs take a wire of any type.
void Monitor::setInputs(int n) {
  static const JPortTable kNoOutputs;
  const int count = n < 1 ? 1 : (n > kMaxInputs ? kMaxInputs : n);
  setPorts(JPortTable::numbered(kSideLeft, "in ", {kAnyDataType}, count),
           std::shared_ptr<const JPortTable>(std::shared_ptr<const JPortTable>(), &kNoOutputs));
  last_.resize(static_cast<size_t>(inputCount));
}

void Monitor::engine(int n, JLinkObj& link) {
  if (n < 0 || n >= inputCount || !link.from) return;
  JWireValue v;
  switch (link.from->outputType(link.fromPort)) {
    case JStringData::id: v = JWireValue::ofText(readText(link)); break;
    case JBytesData::id: v = JWireValue::ofBytes(readBytes(link)); break;
    default: v = JWireValue::ofInteger(readInteger(link)); break;
  }
  const std::string line = OutputLines::monitor(id(), n, v);
  hostPrintLine(line);
  if (lineListener()) lineListener()(line);
  last_[static_cast<size_t>(n)] = std::move(v);
  repaint();
}

void Monitor::draw(JGraphics& g, int x, int y, int w, int h) {
  const int rows = inputCount + 1;
  drawHostLabel(*this, g, "Monitor", x, y, w, h, 0, rows);
  for (int i = 0; i < inputCount; ++i) {
    const JWireValue& v = last_[static_cast<size_t>(i)];
    std::string text = v.type() ? v.format() : "-";
    if (text.size() > 24) text = text.substr(0, 21) + "...";
    drawHostLabel(*this, g, JString(text), x, y, w, h, i + 1, rows);
  }
}
