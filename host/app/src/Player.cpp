#include "Player.h"

#include "Render.h"

#include "base/JClock.h"
#include "base/JFiles.h"
#include "loom/JDiagram.h"

namespace {
const JSettings kSettings{
    JSetting::text("file", &Player::file).path().whenMissing(""),
    JSetting::text("outputs", &Player::outputs).init("i").whenMissing("i").onChange(&Player::applyOutputs),
};
}  // namespace

Player::Player() {
  setSettings(kSettings);
  applyOutputs();
}

void Player::applyOutputs() {
  std::string error;
  std::vector<int> types;
  if (parseOutputTypes(outputs.str(), types, error)) {
    types_ = types;
  } else if (running_) {  // before a run, the run's start says what is wrong
    JComponent::debugf("outputs: %s; the outputs stay as they were", error.c_str());
    return;
  }
  static const JPortTable kNoInputs;
  setPorts(std::shared_ptr<const JPortTable>(std::shared_ptr<const JPortTable>(), &kNoInputs),
           JPortTable::numbered(kSideRight, "out ", types_, static_cast<int>(types_.size())));
  values_.assign(types_.size(), JWireValue());
  for (size_t i = 0; i < types_.size(); ++i) {
    if (types_[i] == JStringData::id) values_[i] = JWireValue::ofText(JString());
    else if (types_[i] == JBytesData::id) values_[i] = JWireValue::ofBytes(JBlock());
    else values_[i] = JWireValue::ofInteger(0);
  }
  if (running_) {
    running_ = false;
    if (prepareRun(error)) startup();
    else JComponent::debugf("%s", error.c_str());
  }
}

void Player::readContent(JDictionary& dict) {
  JModuleObj::readContent(dict);
  applyOutputs();
}

void Player::access(int n, JLinkObj&, const JDataType& data) {
  if (n >= 0 && n < outputCount) values_[static_cast<size_t>(n)].fill(data);
}

void Player::draw(JGraphics& g, int x, int y, int w, int h) { drawHostLabel(*this, g, "Player", x, y, w, h, 0, 1); }

bool Player::prepareRun(std::string& error) {
  std::vector<int> types;
  if (!parseOutputTypes(outputs.str(), types, error)) {
    error = id() + ": error: outputs: " + error;
    return false;
  }
  std::string path = diagram() ? diagram()->resolvePath(file.str()) : file.str();
  if (file.isEmpty()) {
    error = id() + ": error: no file to play";
    return false;
  }
  std::string text;
  if (!readWholeFile(path, kMaxPlayerFile, text, error)) {
    error = path + ": error: " + error;
    return false;
  }
  if (!parsePlayerText(text, types, events_, error)) {
    error = path + ": error: " + error;
    return false;
  }
  next_ = 0;
  played_.store(0, std::memory_order_relaxed);
  total_.store(events_.size(), std::memory_order_relaxed);
  return true;
}

bool Player::playProgress(size_t& played, size_t& total) const {
  played = played_.load(std::memory_order_relaxed);
  total = total_.load(std::memory_order_relaxed);
  return true;
}

void Player::startup() {
  if (!diagram() || events_.empty()) return;
  running_ = true;
  start_ = JClock::millis();
  schedule();
}

void Player::schedule() {
  const unsigned long long mine = ++schedule_;
  diagram()->postAt(
      start_ + events_[next_].timeMs,
      [this, mine] {
        if (mine == schedule_) playDue();
      },
      this);
}

// Plays every event that is due, then waits for the next one.
void Player::playDue() {
  if (!running_) return;
  long long now = JClock::millis();
  while (next_ < events_.size() && start_ + events_[next_].timeMs <= now) {
    const PlayerEvent& e = events_[next_++];
    played_.store(next_, std::memory_order_relaxed);
    values_[static_cast<size_t>(e.output)] = e.value;
    broadcast(e.output);
    if (!running_) return;
  }
  if (next_ < events_.size()) schedule();
}

void Player::close() { running_ = false; }
