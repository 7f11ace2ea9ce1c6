#include "loom/JModuleObj.h"

#include <cmath>

#include "loom/JDiagram.h"
#include "loom/JWireValue.h"

void JLinkObj::fillCaptured(const JDataType& data) const { captured_->fill(data); }

JModuleObj::JModuleObj() : color(210, 210, 200) {}

JModuleObj::JModuleObj(const JModuleObj& o)
    : JViewObj(o),
      // Counts are taken from the tables again: a prototype made while a library's statics were
      // still being set up may have seen its tables empty.
      inputCount(o.inPorts_ ? o.inPorts_->count() : o.inputCount),
      outputCount(o.outPorts_ ? o.outPorts_->count() : o.outputCount),
      color(o.color),
      inPorts_(o.inPorts_),
      outPorts_(o.outPorts_),
      settings_(o.settings_) {}

JModuleObj& JModuleObj::operator=(const JModuleObj& o) {
  if (this != &o) {
    JViewObj::operator=(o);
    inputCount = o.inPorts_ ? o.inPorts_->count() : o.inputCount;
    outputCount = o.outPorts_ ? o.outPorts_->count() : o.outputCount;
    color = o.color;
    inPorts_ = o.inPorts_;
    outPorts_ = o.outPorts_;
    settings_ = o.settings_;
  }
  return *this;
}

JModuleObj::~JModuleObj() = default;

void JModuleObj::setPorts(const JPortTable& inputs, const JPortTable& outputs) {
  // Static tables outlive every module: held without ownership.
  setPorts(std::shared_ptr<const JPortTable>(std::shared_ptr<const JPortTable>(), &inputs),
           std::shared_ptr<const JPortTable>(std::shared_ptr<const JPortTable>(), &outputs));
}

void JModuleObj::setPorts(std::shared_ptr<const JPortTable> inputs, std::shared_ptr<const JPortTable> outputs) {
  inPorts_ = std::move(inputs);
  outPorts_ = std::move(outputs);
  inputCount = inPorts_ ? inPorts_->count() : 0;
  outputCount = outPorts_ ? outPorts_->count() : 0;
}

void JModuleObj::setSettings(const JSettings& table) {
  settings_ = &table;
  table.setInitial(*this);
}

bool JModuleObj::applySetting(const std::string& property, const std::string& text, JSettingResult& result) {
  int index = 0;
  const JSetting* row = settings_ ? settings_->byProperty(property, index) : nullptr;
  if (!row) return false;
  result = row->applyText(*this, index, text);
  return true;
}

void JModuleObj::writeContent(JOutputStream& os) {
  JViewObj::writeContent(os);
  if (settings_) settings_->write(*this, os);
}

void JModuleObj::readContent(JDictionary& dict) {
  JViewObj::readContent(dict);
  if (settings_) settings_->read(*this, dict);
}
void JModuleObj::startup() {}
void JModuleObj::reset() {}
void JModuleObj::close() {}

void JModuleObj::paint(JGraphics& g, double dx, double dy, JRegion& region, double scale) {
  paintDx_ = dx;
  paintDy_ = dy;
  paintScale_ = scale;
  JRect outer = getExtent(dx, dy, scale);
  g.setClip(region);
  g.setJColor(color);
  g.fill3DJRect(outer, true, depth);
  JRect inner = getIExtent(dx, dy, scale);
  JRegion innerClip(region);
  innerClip.intersect(inner);
  g.setClip(innerClip);
  g.setJColor(JColor::black);
  draw(g, inner.x, inner.y, inner.width, inner.height);
  g.setClip(region);
}

JArray JModuleObj::getProperties() {
  JArray a;
  if (settings_) settings_->appendProperties(*this, a);
  return a;
}

bool JModuleObj::updateProperty(JProperty& p) {
  JSettingResult result;
  return settings_ && settings_->applyProperty(*this, p, result);
}
JString JModuleObj::inputTag(int n) { return inPorts_ ? inPorts_->tag(n) : JString("in ") + JInteger::toJString(n); }
JString JModuleObj::outputTag(int n) {
  return outPorts_ ? outPorts_->tag(n) : JString("out ") + JInteger::toJString(n);
}
int JModuleObj::inputType(int n) { return inPorts_ ? inPorts_->type(n) : JIntegerData::id; }
int JModuleObj::outputType(int n) { return outPorts_ ? outPorts_->type(n) : JIntegerData::id; }
void JModuleObj::draw(JGraphics& g, int x, int y, int w, int h) {
  drawText(g, JString(className()), JRect(x, y, w, h));
}
void JModuleObj::access(int, JLinkObj&, const JDataType&) {}
// Tabled modules take one link per input, as every module of the family does.
bool JModuleObj::inputAllowed(int n) { return !inPorts_ || inputSet(n).size() == 0; }
bool JModuleObj::outputAllowed(int) { return true; }
JFRect JModuleObj::inputArea(int n) {
  return inPorts_ ? inPorts_->area(*this, n) : leftArea(n, 0, inputCount, 0.1, 0.8, 6);
}
JFRect JModuleObj::outputArea(int n) {
  return outPorts_ ? outPorts_->area(*this, n) : rightArea(n, 0, outputCount, 0.1, 0.8, 6);
}
int JModuleObj::inputFace(int n) { return inPorts_ ? inPorts_->face(n) : kSideLeft; }
int JModuleObj::outputFace(int n) { return outPorts_ ? outPorts_->face(n) : kSideRight; }
JFPoint JModuleObj::inputPoint(int n, JLinkObj& link) {
  return inPorts_ ? inPorts_->point(*this, n, link) : leftPoint(n, link, 0, inputCount, 0.1, 0.8);
}
JFPoint JModuleObj::outputPoint(int n, JLinkObj& link) {
  return outPorts_ ? outPorts_->point(*this, n, link) : rightPoint(n, link, 0, outputCount, 0.1, 0.8);
}
void JModuleObj::engine(int, JLinkObj&) {}

void JModuleObj::broadcast(int n) {
  if (diagram_ && n >= 0 && n < outputCount) diagram_->broadcastFrom(*this, n);
}

void JModuleObj::repaint() { repaints_.fetch_add(1, std::memory_order_relaxed); }

namespace {
// Position of port n within its group, as a fraction of the side.
double slotStart(int n, int first, int count, double start, double length) {
  return count > 0 ? start + length * (n - first) / count : start;
}
double slotLength(int count, double length) { return count > 0 ? length / count : length; }
}  // namespace

const JLinkSet JModuleObj::kNoLinks;

JLinkSet& JModuleObj::inputSlot(int n) {
  if (static_cast<int>(inputs_.size()) <= n) inputs_.resize(static_cast<size_t>(n) + 1);
  return inputs_[static_cast<size_t>(n)];
}
JLinkSet& JModuleObj::outputSlot(int n) {
  if (static_cast<int>(outputs_.size()) <= n) outputs_.resize(static_cast<size_t>(n) + 1);
  return outputs_[static_cast<size_t>(n)];
}

JFRect JModuleObj::leftArea(int n, int first, int count, double start, double length, double thickness) {
  double h = rect.height;
  return JFRect(0, h * slotStart(n, first, count, start, length), thickness, h * slotLength(count, length));
}
JFRect JModuleObj::rightArea(int n, int first, int count, double start, double length, double thickness) {
  double w = rect.width, h = rect.height;
  return JFRect(w - thickness, h * slotStart(n, first, count, start, length), thickness, h * slotLength(count, length));
}
JFRect JModuleObj::topArea(int n, int first, int count, double start, double length, double thickness) {
  double w = rect.width;
  return JFRect(w * slotStart(n, first, count, start, length), 0, w * slotLength(count, length), thickness);
}
JFRect JModuleObj::bottomArea(int n, int first, int count, double start, double length, double thickness) {
  double w = rect.width, h = rect.height;
  return JFRect(w * slotStart(n, first, count, start, length), h - thickness, w * slotLength(count, length), thickness);
}
JFPoint JModuleObj::leftPoint(int n, JLinkObj&, int first, int count, double start, double length) {
  double h = rect.height;
  return JFPoint(0, h * (slotStart(n, first, count, start, length) + slotLength(count, length) / 2));
}
JFPoint JModuleObj::rightPoint(int n, JLinkObj&, int first, int count, double start, double length) {
  double h = rect.height;
  return JFPoint(rect.width, h * (slotStart(n, first, count, start, length) + slotLength(count, length) / 2));
}
JFPoint JModuleObj::topPoint(int n, JLinkObj&, int first, int count, double start, double length) {
  double w = rect.width;
  return JFPoint(w * (slotStart(n, first, count, start, length) + slotLength(count, length) / 2), 0);
}
JFPoint JModuleObj::bottomPoint(int n, JLinkObj&, int first, int count, double start, double length) {
  double w = rect.width;
  return JFPoint(w * (slotStart(n, first, count, start, length) + slotLength(count, length) / 2), rect.height);
}

JRect JModuleObj::getExtent(double dx, double dy, double scale) const {
  auto r = [](double v) { return static_cast<int>(v < 0 ? v - 0.5 : v + 0.5); };
  return JRect(r(dx + rect.x * scale), r(dy + rect.y * scale), r(rect.width * scale), r(rect.height * scale));
}

JRect JModuleObj::getIExtent(double dx, double dy, double scale) const {
  return getExtent(dx, dy, scale).shrink(depth);
}

void JModuleObj::drawText(JGraphics& g, const JString& text, const JRect& r) {
  const JRect free = labelArea(r);
  if (!free.isEmpty()) g.drawText(text.str(), free);
}

JRect JModuleObj::labelArea(const JRect& r) {
  constexpr int kAir = 2;  // between a bar and the ink beside it
  long long left = r.x, top = r.y, right = left + r.width, bottom = top + r.height;
  auto keepClear = [&](const JFRect& a, int face) {
    const double s = paintScale_;
    const long long x1 = static_cast<long long>(std::floor(paintDx_ + (rect.x + a.x) * s));
    const long long y1 = static_cast<long long>(std::floor(paintDy_ + (rect.y + a.y) * s));
    const long long x2 = static_cast<long long>(std::ceil(paintDx_ + (rect.x + a.x + a.width) * s));
    const long long y2 = static_cast<long long>(std::ceil(paintDy_ + (rect.y + a.y + a.height) * s));
    if (x1 >= right || x2 <= left || y1 >= bottom || y2 <= top) return;  // not beside this label
    switch (face) {
      case kSideLeft: left = std::max(left, x2 + kAir); break;
      case kSideRight: right = std::min(right, x1 - kAir); break;
      case kSideTop: top = std::max(top, y2 + kAir); break;
      default: bottom = std::min(bottom, y1 - kAir); break;
    }
  };
  for (int i = 0; i < inputCount; ++i) keepClear(inputArea(i), inputFace(i));
  for (int i = 0; i < outputCount; ++i) keepClear(outputArea(i), outputFace(i));
  if (right <= left || bottom <= top) return JRect();
  return JRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
               static_cast<int>(bottom - top));
}

std::string JModuleObj::debugName() const { return id_.empty() ? std::string(className()) : id_; }

void JAddObj::access(int n, JLinkObj&, const JDataType& data) {
  if (n == 0 && data.type() == JIntegerData::id) static_cast<const JIntegerData&>(data) = value;
}
