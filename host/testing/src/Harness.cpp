#include "testing/Harness.h"

#include "base/JClock.h"

namespace {
// Feeds one input: an output of the input's own type, holding the value last sent.
class JTestSource : public JModuleObj {
public:
  explicit JTestSource(int type) : type_(type) {
    inputCount = 0;
    outputCount = 1;
  }
  const char* className() const override { return "JTestSource"; }
  JObject* clone() const override { return new JTestSource(*this); }
  int outputType(int) override { return type_; }
  void access(int, JLinkObj&, const JDataType& data) override { value.fill(data); }

  JWireValue value;

private:
  int type_;
};
}  // namespace

JTestHarness::JTestHarness() : diagram_(std::make_unique<JDiagram>()) {
  diagram_->bindHostThread();
  diagram_->setObserver([this](JModuleObj& m, int output, const JWireValue& v) {
    if (dynamic_cast<JTestSource*>(&m)) return;
    broadcasts_.push_back(Broadcast{m.id(), output, v});
  });
  previousSink_ = JComponent::setSink([this](const std::string& name, const std::string& text) {
    std::lock_guard<std::mutex> g(debugMutex_);
    debug_.push_back(name + ": " + text);
  });
}

JTestHarness::~JTestHarness() {
  diagram_->closeAll();
  diagram_->runPending();
  diagram_.reset();
  JComponent::setSink(previousSink_);
}

JModuleObj& JTestHarness::sourceFor(JModuleObj& m, int input) {
  auto key = std::make_pair(&m, input);
  auto it = sources_.find(key);
  if (it != sources_.end()) return *it->second;
  auto* src = new JTestSource(m.inputType(input));
  diagram_->add(src, "source:" + m.id() + ":" + std::to_string(input));
  diagram_->link(src, 0, &m, input);
  sources_[key] = src;
  return *src;
}

void JTestHarness::send(JModuleObj& m, int input, int value) {
  auto& src = static_cast<JTestSource&>(sourceFor(m, input));
  src.value = JWireValue::ofInteger(value);
  src.broadcast(0);
}

void JTestHarness::send(JModuleObj& m, int input, const JString& value) {
  auto& src = static_cast<JTestSource&>(sourceFor(m, input));
  src.value = JWireValue::ofText(value);
  src.broadcast(0);
}

void JTestHarness::send(JModuleObj& m, int input, const JBlock& value) {
  auto& src = static_cast<JTestSource&>(sourceFor(m, input));
  src.value = JWireValue::ofBytes(value);
  src.broadcast(0);
}

int JTestHarness::readInt(JModuleObj& m, int output) { return JWireValue::capture(m, output).integer(); }
JString JTestHarness::readText(JModuleObj& m, int output) { return JWireValue::capture(m, output).text(); }
JBlock JTestHarness::readBytes(JModuleObj& m, int output) { return JWireValue::capture(m, output).bytes(); }

std::vector<JTestHarness::Broadcast> JTestHarness::broadcastsOf(const JModuleObj& m) const {
  std::vector<Broadcast> out;
  for (const auto& b : broadcasts_)
    if (b.module == m.id()) out.push_back(b);
  return out;
}

JTestHarness::Outputs JTestHarness::outputsOf(const JModuleObj& m) const {
  Outputs out;
  for (const auto& b : broadcasts_)
    if (b.module == m.id()) out.emplace_back(b.output, b.value);
  return out;
}

std::vector<std::string> JTestHarness::debugLines() const {
  std::lock_guard<std::mutex> g(debugMutex_);
  return debug_;
}

void JTestHarness::clear() {
  broadcasts_.clear();
  std::lock_guard<std::mutex> g(debugMutex_);
  debug_.clear();
}

bool JTestHarness::runUntil(const std::function<bool()>& done, int maxMs) {
  // Real time bounds the wait even when a test has put a manual host clock in place.
  auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
  return diagram_->run([&] { return (done && done()) || std::chrono::steady_clock::now() >= limit; }, -1) &&
         (!done || done());
}

void JTestHarness::runFor(int ms) { runUntil(nullptr, ms); }

JNode JTestHarness::content(JModuleObj& m) {
  JOutputStream os;
  m.writeContent(os);
  return os.take();
}

void JTestHarness::restore(JModuleObj& m, const JNode& content) {
  JDictionary dict(content);
  m.readContent(dict);
}

std::unique_ptr<JModuleObj> JTestHarness::roundTrip(JModuleObj& m) {
  const JObject* proto = JClassRegistry::prototype(m.className());
  std::unique_ptr<JModuleObj> fresh(static_cast<JModuleObj*>(proto ? proto->clone() : m.clone()));
  restore(*fresh, content(m));
  return fresh;
}

std::vector<std::string> JTestHarness::keysOf(const JNode& content) {
  std::vector<std::string> keys;
  for (const auto& e : content.entries()) keys.push_back(e.first);
  return keys;
}

JCanvas JTestHarness::render(JModuleObj& m, const JColor& background) {
  JCanvas canvas(m.rect.width, m.rect.height, background);
  JGraphics g(canvas);
  JRegion all(JRect(0, 0, m.rect.width, m.rect.height));
  m.paint(g, -m.rect.x, -m.rect.y, all, 1.0);
  return canvas;
}

JNode JTestHarness::without(const JNode& content, const std::string& key) {
  JNode out = JNode::map();
  for (const auto& e : content.entries())
    if (e.first != key) out.set(e.first, e.second);
  return out;
}
