#pragma once
// JToneDigitObj ("DTMF"): the Loomwork end of the digit link. It listens on a TCP port, serves one
// sender at a time, and turns every touch-tone digit that arrives into a one-of-twelve level
// (65535 on the key's output, 0 on the others) and the digit's character code. Its face shows
// the keypad with the last key lit while a sender is connected.
//
// Two threads of its own: the reader listens and reads the sender it serves, and broadcasts from
// there; the door takes every sender that connects meanwhile into a queue, where each waits,
// unread, for its turn. So a sender the system lets connect is always heard, after those before
// it, and two senders' digits never mix. A sender that holds the receiver without a digit for the
// silence limit while another waits is closed, so that one silent client cannot keep the others
// out. The fields both threads and the host share are atomic or under a lock; the sockets are
// guarded by their own lock, which is never held while a value is broadcast.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include "base/JGuarded.h"
#include "modules/GuardedConnection.h"
#include "modules/Module.h"

// Senders let in while another holds the receiver, oldest first, nothing read from them yet. A
// copy has none of its own.
class WaitingSenders {
public:
  WaitingSenders() = default;
  WaitingSenders(const WaitingSenders&) {}
  WaitingSenders& operator=(const WaitingSenders&);  // closes this one's senders
  ~WaitingSenders() { closeAll(); }

  void push(JSocket&& sender);
  // The oldest sender, waiting up to ms for one, or until wake(); false when none came.
  bool take(JSocket& sender, int ms);
  void wake();
  int size() const;
  void closeAll();  // the senders see their connection reset

private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<JSocket> senders_;
  unsigned wakes_ = 0;
};

// Where the reader listens now, so that a changed setting is seen after the current sender.
struct ToneListenedOn {
  int port = -1;
  std::string address;
};

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
  // A sender that has sent no digit for this long gives way to one that waits.
  static constexpr int kSilenceLimitMs = 30000;
  // Senders taken in while one is served; past this the system's listen queue (kListenBacklog)
  // holds the next ones, still unanswered, until a place comes free.
  static constexpr int kMaxWaiting = 32;
  static constexpr int kListenBacklog = 32;
  // Tests shorten the silence limit: by this call, or for a whole program (the loomwork binary)
  // by the environment variable LOOMWORK_TONE_SILENCE_MS, read when the receiver starts. 0 puts
  // the limit back.
  static void setSilenceLimitForTests(int ms);
  static int silenceLimitMs();

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
  bool connectSocket();  // true once the next waiting sender is the one served
  void closeSocket();    // the listening socket, the sender served and every waiting one
  void processInputStream();
  void hearDigit(int c);
  // Key index of a digit character ('0'..'9' -> 0..9, '*' -> 10, '#' -> 11), -1 for any other
  // byte.
  static int keyIndexOf(int c);
  // The port listened on now, -1 while not listening (port 0 listens on a port the system picks).
  int listeningPort() const { return line.listeningPort(); }
  int waitingSenders() const { return waiting.size(); }

  // --- fields (initial values of the settings in the settings table) ---
  JWorker reader;
  JWorker door;  // started and stopped by the reader, with the listening socket
  // The listening socket and the served sender's connection: the reader replaces them while the
  // host may copy the module or close them, and the door closes a silent sender. A copy has no
  // reader, so it listens nowhere.
  GuardedConnection<ToneListenedOn> line;
  WaitingSenders waiting;
  JAtomic<int> connected{0};
  JAtomic<long long> heardAt{0};  // host clock: the served sender's last digit, or its turn's start
  JAtomic<int> port;
  JGuarded<JString> listenAddress;  // empty: every interface
  JAtomic<int> digitLevels[kKeys];
  JAtomic<int> lastDigit{-1};

private:
  void admitSenders();  // the door's body
  void endTurn();
  bool listenedElsewhere() const;  // the settings name another port or address than the one listened on
  void closeSilentSender(int limitMs);
};
