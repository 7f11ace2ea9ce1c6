#pragma once
// JGeoFixObj ("GPS"): an NMEA 0183 receiver on a byte wire. The receiver's bytes arrive as blocks
// at input 0; complete lines are taken as sentences, of which two are understood: GLL gives the
// position as two texts ("49 16.45 N", "123 11.12 W") and GSV the number of satellites in view.
// Input 1 nonzero prints every complete line as a debug line before it is handled.
//
// Every buffer bound is explicit: a line holds at most 199 characters (a longer one is dropped
// up to its line end), a position text at most 50 characters of its field, and no formatting
// step writes outside the text buffers, whatever arrives.
#include "modules/Module.h"

class JGeoFixObj : public JAddObj {
public:
  // Ports: the tags, once; the index names follow from them.
  static constexpr const char* kInputTags[] = {"bytes from COM", "enable DEBUG"};
  static constexpr const char* kOutputTags[] = {"latitude", "longitude", "number satellites"};
  static constexpr int kBytes = portIndex(kInputTags, "bytes from COM");
  static constexpr int kDebug = portIndex(kInputTags, "enable DEBUG");
  static constexpr int kLatitude = portIndex(kOutputTags, "latitude");
  static constexpr int kLongitude = portIndex(kOutputTags, "longitude");
  static constexpr int kSatellites = portIndex(kOutputTags, "number satellites");
  static constexpr int kLineSize = 200;  // at most 199 characters and a NUL
  static constexpr int kLineMax = kLineSize - 1;
  static constexpr int kTextSize = 100;
  static constexpr int kMaxFieldIndex = 100;  // a position field past this index of the sentence abandons it
  static constexpr int kMaxFieldText = 50;    // as does a position text longer than this
  static constexpr int kSatellitesIndex = 8;  // where GSV's number of satellites is read

  JGeoFixObj();

  // --- host operations ---
  const char* className() const override { return "JGeoFixObj"; }
  JObject* clone() const override { return new JGeoFixObj(*this); }
  void draw(JGraphics& g, int x, int y, int w, int h) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  bool outputAllowed(int n) override;
  void engine(int n, JLinkObj& link) override;

  // --- own operations ---
  // The line assembler over `size` received bytes, in order.
  void assemble(const uint8_t* bytes, int size);
  // The sentence now in `line`.
  void handleSentence();
  // GLL: the position from sentence s (without "$GP") of length n.
  void readPosition(const char* s, int n);
  // Copies the position field that starts at s[i] into text, formatted; i ends at the field's
  // comma. False when the field runs past the limits or past the end of the sentence.
  static bool copyField(const char* s, int n, int& i, char* text, int& k);
  // The decimal number at s[at] as C's atoi reads it (blanks, a sign, digits), held to the int
  // range; 0 when the sentence ends before `at`.
  static int numberAt(const char* s, int n, int at);

  // --- fields (in the description's order) ---
  char line[kLineSize] = {};
  char latitudeText[kTextSize] = {};
  char longitudeText[kTextSize] = {};
  int lineLength = 0;
  int debug = 0;
  JString latitude;
  JString longitude;
  int satellites = 0;
  // Set while the rest of an overlong line is passed over, up to its line end (across blocks).
  bool droppingLine = false;

private:
  JBlock incoming_;          // run-time only: each delivery is read into it, so that reading allocates once
  JBlock pending_;           // run-time only: looped-back deliveries waiting for the current block
  bool assembling_ = false;  // run-time only: engine(0) is assembling
};
