#pragma once
// The module base classes: what the host offers every module and what a module overrides.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/JArray.h"
#include "base/JComponent.h"
#include "base/JString.h"
#include "gfxkit/JGraphics.h"
#include "loom/JDataType.h"
#include "loom/JPorts.h"
#include "loom/JProperty.h"
#include "loom/JSettings.h"

class JDiagram;
class JModuleObj;
class JWireValue;

// A wire from output `fromPort` of one module to input `toPort` of another.
class JLinkObj {
public:
  JLinkObj(JModuleObj* from, int fromPort, JModuleObj* to, int toPort)
      : from(from), fromPort(fromPort), to(to), toPort(toPort) {}
  // Fills data with the upstream output's value (the value captured when the broadcast came from
  // another thread).
  inline void access(const JDataType& data);

  JModuleObj* from;
  int fromPort;
  JModuleObj* to;
  int toPort;

private:
  friend class JDiagram;
  void fillCaptured(const JDataType& data) const;
  const JWireValue* captured_ = nullptr;
};

// The links attached to one port.
class JLinkSet {
public:
  int size() const { return static_cast<int>(links_.size()); }
  int count() const { return size(); }
  bool isEmpty() const { return links_.empty(); }
  JLinkObj* operator[](int i) const { return links_[static_cast<size_t>(i)]; }
  std::vector<JLinkObj*>::const_iterator begin() const { return links_.begin(); }
  std::vector<JLinkObj*>::const_iterator end() const { return links_.end(); }

private:
  friend class JDiagram;
  friend class JModuleObj;
  std::vector<JLinkObj*> links_;
};

// Anything placed on the canvas.
class JViewObj : public JObject {
public:
  const char* className() const override { return "JViewObj"; }
  JObject* clone() const override { return new JViewObj(*this); }

  JRect rect;  // where the diagram places it, in canvas pixels
};

class JModuleObj : public JViewObj {
public:
  // Width of the module frame, and of the inner margin modules leave around their drawings.
  static constexpr int depth = 3;
  static constexpr int depth2 = 8;

  JModuleObj();
  JModuleObj(const JModuleObj& o);             // settings only: no links, no diagram, no id
  JModuleObj& operator=(const JModuleObj& o);  // likewise

  // Declares the module's ports: counts, tags, types, faces, areas and link points then come
  // from the two tables, and each input takes one link. Static tables are used in place; a
  // module whose ports change with its settings hands over tables it made (copies share them).
  void setPorts(const JPortTable& inputs, const JPortTable& outputs);
  void setPorts(std::shared_ptr<const JPortTable> inputs, std::shared_ptr<const JPortTable> outputs);
  const JPortTable* inputPorts() const { return inPorts_.get(); }
  const JPortTable* outputPorts() const { return outPorts_.get(); }

  // Declares the module's settings (the table outlives every instance, as a static does) and puts
  // each row's initial value into its member. The host's getProperties, updateProperty,
  // writeContent and readContent then work from the rows; a module that stores more than its
  // settings, or recomputes after a load, overrides them and calls the base first.
  void setSettings(const JSettings& table);
  const JSettings* settings() const { return settings_; }
  // A setting changed by its property name from a value written as text (`loomwork set`, `--set`,
  // the canvas); false when no row offers that property. The result says whether the value was
  // taken, held to its range, left out or refused, and why.
  bool applySetting(const std::string& property, const std::string& text, JSettingResult& result);

  // --- the host's table of operations, in order, with the host's defaults ---
  void writeContent(JOutputStream& os) override;
  void readContent(JDictionary& dict) override;
  ~JModuleObj() override;
  const char* className() const override { return "JModuleObj"; }
  JObject* clone() const override { return new JModuleObj(*this); }
  virtual void startup();
  virtual void reset();
  virtual void close();
  // The whole face at the module's place: the host's frame in the module colour with draw()
  // inside it.
  virtual void paint(JGraphics& g, double dx, double dy, JRegion& region, double scale);
  virtual JArray getProperties();
  virtual bool updateProperty(JProperty& p);
  virtual JString inputTag(int n);
  virtual JString outputTag(int n);
  virtual int inputType(int n);
  virtual int outputType(int n);
  virtual void draw(JGraphics& g, int x, int y, int w, int h);
  virtual void access(int n, JLinkObj& link, const JDataType& data);
  virtual bool inputAllowed(int n);
  virtual bool outputAllowed(int n);
  virtual JFRect inputArea(int n);
  virtual JFRect outputArea(int n);
  virtual int inputFace(int n);
  virtual int outputFace(int n);
  virtual JFPoint inputPoint(int n, JLinkObj& link);
  virtual JFPoint outputPoint(int n, JLinkObj& link);
  virtual void engine(int n, JLinkObj& link);

  // --- what a run asks (the host's own modules answer; the defaults suit every other module) ---
  // Before the run starts: reads and checks what the module needs beyond its settings (a file
  // to play, a value to parse); false with one line saying why, and the run does not start.
  virtual bool prepareRun(std::string& /*error*/) { return true; }
  // A module that plays a script of values: true, with how many it has sent and how many there
  // are in all (other threads read these, for a progress line). A run until idle waits for each
  // such module to send all. False for every other module.
  virtual bool playProgress(size_t& /*played*/, size_t& /*total*/) const { return false; }
  // Work under way that will still send values (a page being fetched, a first connection being
  // made): `loomwork run --until-idle` waits for it. Work that waits on something that is not
  // there (a server that refuses) is not busy, so that an idle run still ends.
  virtual bool busy() const { return false; }

  // --- what the host offers ---
  // Tells every link on output n that its value changed (see JDiagram for delivery).
  virtual void broadcast(int n);
  virtual void repaint();
  const JLinkSet& inputSet(int n) const {
    return (n >= 0 && n < static_cast<int>(inputs_.size())) ? inputs_[static_cast<size_t>(n)] : kNoLinks;
  }
  const JLinkSet& outputSet(int n) const {
    return (n >= 0 && n < static_cast<int>(outputs_.size())) ? outputs_[static_cast<size_t>(n)] : kNoLinks;
  }

  // Port geometry in the module's own pixels (origin at its top-left corner): the rectangle of
  // port n of a group of `count` ports starting at index `first`, spread over the fraction
  // [start, start + length) of the side, `thickness` pixels deep.
  JFRect leftArea(int n, int first, int count, double start, double length, double thickness);
  JFRect rightArea(int n, int first, int count, double start, double length, double thickness);
  JFRect topArea(int n, int first, int count, double start, double length, double thickness);
  JFRect bottomArea(int n, int first, int count, double start, double length, double thickness);
  JFPoint leftPoint(int n, JLinkObj& link, int first, int count, double start, double length);
  JFPoint rightPoint(int n, JLinkObj& link, int first, int count, double start, double length);
  JFPoint topPoint(int n, JLinkObj& link, int first, int count, double start, double length);
  JFPoint bottomPoint(int n, JLinkObj& link, int first, int count, double start, double length);

  // The module's place on screen for an offset and zoom, and the part inside its frame.
  JRect getExtent(double dx, double dy, double scale) const;
  JRect getIExtent(double dx, double dy, double scale) const;
  // A label centred in r, kept clear of the port bars: it is drawn in the part of r that no bar
  // of the module covers (labelArea), and nothing is drawn when no room is left.
  void drawText(JGraphics& g, const JString& text, const JRect& r);
  // The part of r (in the coordinates of the last paint) beside the module's port bars.
  JRect labelArea(const JRect& r);

  std::string debugName() const override;
  const std::string& id() const { return id_; }
  JDiagram* diagram() const { return diagram_; }
  int repaintCount() const { return repaints_.load(); }

  int inputCount = 0;
  int outputCount = 0;
  JColor color;  // the module colour the host frames it in

private:
  friend class JDiagram;
  JLinkSet& inputSlot(int n);
  JLinkSet& outputSlot(int n);

  static const JLinkSet kNoLinks;
  std::shared_ptr<const JPortTable> inPorts_, outPorts_;
  const JSettings* settings_ = nullptr;
  JDiagram* diagram_ = nullptr;
  std::string id_;
  std::vector<JLinkSet> inputs_;
  std::vector<JLinkSet> outputs_;
  std::atomic<int> repaints_{0};
  // The offset and zoom of the paint under way, so that labels can keep clear of the port bars.
  double paintDx_ = 0, paintDy_ = 0, paintScale_ = 1;
};

// The usual base of a module: one integer output `value`, handed out by access.
class JAddObj : public JModuleObj {
public:
  JAddObj() {
    inputCount = 1;
    outputCount = 1;
  }
  const char* className() const override { return "JAddObj"; }
  JObject* clone() const override { return new JAddObj(*this); }
  void access(int n, JLinkObj& link, const JDataType& data) override;

  int value = 0;
};

// Inline: every value read on a wire passes here.
inline void JLinkObj::access(const JDataType& data) {
  if (captured_) {
    fillCaptured(data);
    return;
  }
  if (from) from->access(fromPort, *this, data);
}
