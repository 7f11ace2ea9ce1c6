#pragma once
// JGeoFixObj ("GPS"): an NMEA 0183 receiver on a byte wire. The receiver's bytes arrive as blocks
// at input 0; complete lines are taken as sentences, of which two are understood: GLL gives the
// position as two texts ("49 16.45 N", "123 11.12 W") and GSV the number of satellites in view.
// Input 1 nonzero prints every complete line as a debug line before it is handled.
//
// A sentence that carries a checksum ("*hh") is handled only when the checksum is right (a noisy
// line flips bits); one without '*' is handled as it stands. A GLL with an empty latitude or
// longitude (a receiver without a fix) publishes nothing. The "any talker" setting reads GLL and
// GSV of every satellite system's talker, and the satellites in view as the total over the GSV
// sequences of a receiver's cycle.
//
// Every buffer bound is explicit: a line holds at most 199 characters (a longer one is dropped
// up to its line end), a position text at most 50 characters of its field, and no formatting
// step writes outside the text buffers, whatever arrives.
#include <string>

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
  static constexpr int kMaxSequences = 16;    // GSV sequences kept of one cycle (any talker)

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
  // The complete line now in `line`: checked, printed when debug is on, handled.
  void handleLine();
  // The sentence now in `line`.
  void handleSentence();
  // What a line's checksum says: none given, right, or wrong (a '*' not followed by exactly two
  // hexadecimal digits (capitals) that match the XOR of the characters between '$' and '*' is wrong).
  enum class Checksum { kNone, kRight, kWrong };
  static Checksum checksumOf(const char* text, int length);
  // The line as a debug line shows it: control and non-ASCII bytes (and a backslash) written as \xNN.
  static std::string escaped(const char* text, int length);
  // GSV read with "any talker": message count, message number and satellites in view from the
  // first three fields; `talker` is the two letters before "GSV" ("" for none).
  void readSequence(const char* s, int n, const char* talker);
  // Ends the cycle of GSV sequences: publishes its total when it holds any.
  void endCycle();
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
  int anyTalker = 0;               // "any talker": 1 reads every talker's GLL and GSV
  long long droppedSentences = 0;  // sentences dropped for a wrong checksum

  // One GSV sequence of the cycle being read ("any talker"): numbered messages 1..total from the
  // talker (and NMEA 4.10 signal) that began it, each carrying `count` satellites in view.
  struct Sequence {
    char talker[3];
    char signal;
    int total;
    int last;
    int count;
  };
  Sequence cycle[kMaxSequences] = {};
  int cycleSize = 0;

private:
  JBlock incoming_;          // run-time only: each delivery is read into it, so that reading allocates once
  JBlock pending_;           // run-time only: looped-back deliveries waiting for the current block
  bool assembling_ = false;  // run-time only: engine(0) is assembling
};
