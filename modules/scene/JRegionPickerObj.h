#pragma once
// JRegionPickerObj: turns a position on a 0..65535 plane into selections. Up to ten rectangular
// regions are taught by example (the bounding box of the positions seen while
// "defineSelection" is on); afterwards each region's output is 1 while the position lies inside
// it, and "lastSelection" names the region entered last. The face shows the plane, the regions
// in their colours and the position as a raised green square.
#include "modules/Module.h"

class JRegionPickerObj : public JAddObj {
public:
  static constexpr int kRegions = 10;
  // Ports: the tags, once; the index names follow from them. Outputs 0..9 are the regions'.
  static constexpr const char* kInputTags[] = {"x", "y", "defineSelection", "reset", "select"};
  static constexpr const char* kOutputTags[] = {"selection_1", "selection_2",  "selection_3",  "selection_4",
                                                "selection_5", "selection_6",  "selection_7",  "selection_8",
                                                "selection_9", "selection_10", "lastSelection"};
  static constexpr int kX = portIndex(kInputTags, "x");
  static constexpr int kY = portIndex(kInputTags, "y");
  static constexpr int kDefine = portIndex(kInputTags, "defineSelection");
  static constexpr int kReset = portIndex(kInputTags, "reset");
  static constexpr int kSelect = portIndex(kInputTags, "select");
  static constexpr int kLastSelection = portIndex(kOutputTags, "lastSelection");

  JRegionPickerObj();

  // --- host operations (properties and persistence come from the settings table) ---
  const char* className() const override { return "JRegionPickerObj"; }
  JObject* clone() const override { return new JRegionPickerObj(*this); }
  void paint(JGraphics& g, double dx, double dy, JRegion& region, double scale) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  void engine(int n, JLinkObj& link) override;

  // --- own operations ---
  // Draws the plane, the regions and the cursor inside extent, within the clip `region`.
  void update(JGraphics& g, const JRect& extent, const JRegion& region);
  void teach(int value, int* defined, int* minimum, int* maximum);
  void select();
  bool regionDefined(int i) const { return definedX[i] != 0 && definedY[i] != 0; }

  // --- fields (the colours' initial values in the settings table) ---
  int xValue = 0;
  int yValue = 0;
  int defining = 0;
  int resetValue = 0;
  int selectValue = 0;
  int selections[kRegions] = {};
  int lastSelection = 0;
  int currentRegion = 0;
  int minX[kRegions] = {};
  int maxX[kRegions] = {};
  int minY[kRegions] = {};
  int maxY[kRegions] = {};
  int definedX[kRegions] = {};
  int definedY[kRegions] = {};
  JColor colors[kRegions];
};
