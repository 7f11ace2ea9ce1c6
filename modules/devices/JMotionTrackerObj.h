#pragma once
// JMotionTrackerObj ("FlockOfBirds"): an Ascension Flock of Birds magnetic tracker on byte wires.
// The device's bytes arrive as blocks at input 0 and are parsed as POSITION/ANGLES records into
// six integer outputs (x, y, z in hundredths of an inch, azimuth, elevation, roll in hundredths of
// a degree); the commands that start, stop or request records leave as blocks at output 0. The
// commands are the three lines of a profile file, so the same module drives other modes too.
//
// No thread of its own: engine runs on the host thread (a SerialPort's reader queues its blocks
// there). Only the append of received bytes is done under receiveLock, as the description asks.
#include <optional>
#include <string>

#include "modules/Module.h"

class JMotionTrackerObj : public JAddObj {
public:
  // Ports: the tags, once; the index names follow from them.
  static constexpr const char* kInputTags[] = {"data", "continuous", "timer_sampled"};
  static constexpr const char* kOutputTags[] = {"command", "x", "y", "z", "azimuth", "elevation", "roll"};
  static constexpr int kData = portIndex(kInputTags, "data");
  static constexpr int kContinuous = portIndex(kInputTags, "continuous");
  static constexpr int kTimerSampled = portIndex(kInputTags, "timer_sampled");
  static constexpr int kCommand = portIndex(kOutputTags, "command");
  static constexpr int kX = portIndex(kOutputTags, "x");
  static constexpr int kY = portIndex(kOutputTags, "y");
  static constexpr int kZ = portIndex(kOutputTags, "z");
  static constexpr int kAzimuth = portIndex(kOutputTags, "azimuth");
  static constexpr int kElevation = portIndex(kOutputTags, "elevation");
  static constexpr int kRoll = portIndex(kOutputTags, "roll");
  static constexpr int kWords = 6;
  static constexpr int kRecordBytes = 12;
  static constexpr int kPastRecord = kRecordBytes;
  static constexpr int kResponseSize = 200;     // the parser's window: at most 199 bytes and a NUL
  static constexpr int kProfileLineSize = 100;  // a profile line: at most 99 characters
  static constexpr const char* kStartupProfile = "flockOfBirds.profile";

  JMotionTrackerObj();

  // --- host operations (the property and its key come from the settings table) ---
  const char* className() const override { return "JMotionTrackerObj"; }
  JObject* clone() const override { return new JMotionTrackerObj(*this); }
  void startup() override;
  void draw(JGraphics& g, int x, int y, int w, int h) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  void engine(int n, JLinkObj& link) override;

  // --- own operations ---
  // Reads the three command lines of a profile; false (nothing changed, errno saying why) when the
  // file cannot be opened or read. Missing lines give absent commands.
  bool loadProfile(const char* path);
  // One debug line naming a profile that could not be read (its full path) and why.
  void sayUnreadable(const char* path, int error);
  // Sends a command at output 0; an absent one sends nothing.
  void sendCommand(const std::optional<std::string>& text);
  // The record parser over `size` bytes, in order.
  void parse(const uint8_t* bytes, int size);
  // Decodes the word just completed (lowByte, highByte) into values[k] and broadcasts output k + 1.
  void decodeWord(int k);
  // The decoding of one word, as numbers: the 16-bit raw value and the scaled output.
  static int rawOf(uint8_t lowByte, uint8_t highByte);
  static int scaled(int raw, int word);
  // One profile line as it is kept: its text without a trailing LF and a CR before it.
  static std::string commandOfLine(const char* line, int length);

  // --- fields (in the description's order) ---
  JBlock receiveBlock;
  int continuous = 0;
  int timerSampled = 0;
  JCriticalSection receiveLock;
  char response[kResponseSize] = {};
  std::optional<std::string> continuousOnCommand;
  std::optional<std::string> continuousOffCommand;
  std::optional<std::string> sampleCommand;
  JString profileName;
  // Position of the next byte within the current record. It starts, and stays once a record is
  // done, at kPastRecord: bytes there decode nothing until a byte with bit 7 set starts a record,
  // so that noise before the first record (or after a record's twelfth byte) changes no output.
  int byteIndex = kPastRecord;
  uint8_t lowByte = 0;
  uint8_t highByte = 0;
  JBlock command;
  int values[kWords] = {};  // zero until the first record

private:
  JBlock incoming_;       // run-time only: each delivery is read into it, so that reading allocates once
  bool parsing_ = false;  // run-time only: engine(0) is parsing (a looped-back delivery only appends)
};
