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
  static constexpr int kKeys = 12;
  static constexpr int kDigitValue = 12;  // output carrying the character code
  static constexpr int kLevelOn = 65535;
  static constexpr int kDefaultPort = 3502;
  static constexpr int kMinPort = 3000, kMaxPort = 8000;  // of the "port" property

  JToneDigitObj();
  ~JToneDigitObj() override;  // stops the reader

  // --- host operations ---
  void writeContent(JOutputStream& os) override;
  void readContent(JDictionary& dict) override;
  const char* className() const override { return "JToneDigitObj"; }
  JObject* clone() const override { return new JToneDigitObj(*this); }
  void run() override;
  void startup() override;
  void reset() override { close(); }
  void close() override;
  JArray getProperties() override;
  bool updateProperty(JProperty& p) override;
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

  // --- fields ---
  JWorker reader;
  // The listening socket and the sender's connection: the reader replaces them while the host
  // may copy the module or close them. A copy has no reader, so it listens nowhere.
  GuardedConnection<> line;
  JAtomic<int> connected{0};
  JAtomic<int> port{kDefaultPort};
  JAtomic<int> digitLevels[kKeys];
  JAtomic<int> lastDigit{-1};
};
