#pragma once
// JToneDigitObj ("DTMF"): the Loomwork end of the digit link. It listens on a TCP port, takes one
// sender at a time, and turns every touch-tone digit that arrives into a one-of-twelve level
// (65535 on the key's output, 0 on the others) and the digit's character code. Its face shows
// the keypad with the last key lit while a sender is connected.
//
// A reader thread of its own listens, accepts and reads; it broadcasts from that thread. The
// fields it shares with the host thread are atomic; the sockets, which both the reader and
// close() touch, are guarded by their own lock.
#include "modules/GuardedConnection.h"
#include "modules/Module.h"

class JToneDigitObj : public JAddObj {
public:
  // Ports: the tags, once; the index names follow from them. Outputs 0 .. kKeys - 1 are the
  // keys' levels, in the order of their key indexes.
  static constexpr const char* kInputTags[] = {"enable(logical)"};
  static constexpr const char* kOutputTags[] = {"dtmf_0",    "dtmf_1",     "dtmf_2",    "dtmf_3", "dtmf_4",
                                                "dtmf_5",    "dtmf_6",     "dtmf_7",    "dtmf_8", "dtmf_9",
                                                "dtmf_STAR", "dtmf_POUND", "dtmf_value"};
  static constexpr int kStar = portIndex(kOutputTags, "dtmf_STAR");
  static constexpr int kPound = portIndex(kOutputTags, "dtmf_POUND");
  static constexpr int kKeys = kPound + 1;
  static constexpr int kDigitValue = portIndex(kOutputTags, "dtmf_value");  // the character code
  static constexpr int kLevelOn = 65535;
  static constexpr int kDefaultPort = 3502;
  static constexpr int kMinPort = 3000, kMaxPort = 8000;  // of the "port" setting

  JToneDigitObj();
  ~JToneDigitObj() override;  // stops the reader

  // --- host operations (properties and persistence come from the settings table) ---
  const char* className() const override { return "JToneDigitObj"; }
  JObject* clone() const override { return new JToneDigitObj(*this); }
  void run() override;
  void startup() override;
  void reset() override { close(); }
  void close() override;
  void draw(JGraphics& g, int x, int y, int w, int h) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;

  // --- own operations ---
  void open();
  void openSocket();     // throws JSocketException("listen: WHY")
  bool connectSocket();  // true once a sender is taken
  void closeSocket();
  void processInputStream();
  void hearDigit(int c);
  // Key index of a digit character ('0'..'9' -> 0..9, '*' -> 10, '#' -> 11), -1 for any other
  // byte.
  static int keyIndexOf(int c);
  // The port listened on now, -1 while not listening (port 0 listens on a port the system picks).
  int listeningPort() const { return line.listeningPort(); }

  // --- fields (the port's initial value in the settings table) ---
  JWorker reader;
  // The listening socket and the sender's connection: the reader replaces them while the host
  // may copy the module or close them. A copy has no reader, so it listens nowhere.
  GuardedConnection<> line;
  JAtomic<int> connected{0};
  JAtomic<int> port;
  JAtomic<int> digitLevels[kKeys];
  JAtomic<int> lastDigit{-1};
};
