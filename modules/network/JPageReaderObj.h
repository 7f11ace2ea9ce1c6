#pragma once
// JPageReaderObj ("WEB READ"): fetches one page from a web server with a plain HTTP GET and puts
// out up to ten small numbers that the page carries as hexadecimal pairs in its body. A nonzero
// value on "reload" starts a fetch; when the server ends the response the decoded numbers go out
// on "mvalue_1" .. "mvalue_10". The fetch runs on a thread of the module's own.
//
// Page format (the response is read as raw bytes, status line and headers included): everything
// up to the first "<body" is skipped, then everything up to the first "aa"; after that each "FF"
// starts a run of hex pairs, one value each. The rules apply to the whole response as one piece
// (PageDecoder below), so the values depend only on the response's bytes: not on how the network
// cuts them, nor on where the body starts.
//
// The response ends at the server's close, at the end of a Content-Length body, or when nothing
// has come for "timeout ms"; the status line and headers are read (ResponseHead) only for that
// and to name a failure, never to choose what is decoded.
//
// Threads: the fetch thread and the host share fetchState, published and the outputs (atomic),
// the address and path texts (guarded by `texts`) and the socket (guarded by `line`): close()
// closes the socket under that lock, which wakes a read or a connect attempt at once.
#include <cstddef>
#include <cstdint>
#include <string>

#include "modules/GuardedConnection.h"
#include "modules/Module.h"

// The page decoder, on its own so that it can be fed any bytes (tests, the fuzzer).
class PageDecoder {
public:
  static constexpr int kMaxValues = 10;
  static constexpr char kMarker[] = "<body";
  static constexpr int kMarkerLength = 5;

  // Back to the start of a response: no marker seen, no value, no digit pending. The values
  // themselves are kept (only the first count() of them belong to this response).
  void reset();

  // The rules applied to one piece, exactly as the description words them: the reference that
  // feed() is checked against, on the whole response as that piece.
  void decodeChunk(const uint8_t* bytes, int n);

  // The response as it arrives, in pieces of any size, then finish() at its end: the values are
  // those decodeChunk() gives on the whole response, in memory that does not grow with it.
  void feed(const uint8_t* bytes, size_t n);
  void finish();

  // A hex digit's value: '0'..'9' give 0..9, the seven characters between '9' and 'A' (':' to
  // '@') 10..16, 'A'..'F' 10..15; -1 for any other byte (lowercase letters included).
  static int digitValue(uint8_t c);

  // Values decoded in this response, at most kMaxValues.
  int count() const { return valueCount; }

  // --- state, named as the description names it ---
  int hexAccumulator = 0;
  bool bodyFound = false;
  int markerPosition = 0;  // characters of "<body" matched so far
  int valueCount = 0;      // held at kMaxValues: values beyond the tenth are not stored
  bool highNibblePending = false;
  int values[kMaxValues] = {};

private:
  // The first run reads every digit to the end of the response unless 16 of them make its eight
  // values first; later runs each start at the digit after their "FF". So the first 16 digits of
  // the first run are kept, with where each later run starts among them; once a 17th digit comes,
  // the first run is over and every later run takes one digit (the next after its "FF") until
  // ten values are in.
  static constexpr int kFirstRunDigits = 16;
  enum Phase { kSeekBody, kSeekAa, kSeekRun, kFirstRun, kSingleDigits, kDone };
  void addDigit(int d);
  void byteAfterAa(uint8_t c);
  void replayFirstRun(bool atEnd);
  Phase phase_ = kSeekBody;
  bool previousA_ = false;
  bool previousF_ = false;
  int digits_[kFirstRunDigits] = {};
  int digitCount_ = 0;
  int runStarts_[kFirstRunDigits + 1] = {};  // later runs: index of their first digit
  int runCount_ = 0;
  bool runWaiting_ = false;  // a later run waits for its digit
};

// The status line and headers, as far as the fetch needs them: where the response ends, and
// which failure to name. Bounded: a head longer than kMaxHead is taken as none.
class ResponseHead {
public:
  static constexpr size_t kMaxHead = 16 * 1024;
  static constexpr size_t kMaxText = 200;  // of a reason or a location kept for a debug line

  void reset();
  // Takes bytes from the response's start; returns how many belong to the head (the rest is
  // body). After complete() it takes nothing.
  size_t take(const uint8_t* bytes, size_t n);
  bool complete() const { return complete_; }

  bool isHttp() const { return http_; }  // a status line "HTTP/x.y NNN ..." and a whole head
  int status() const { return status_; }
  const std::string& reason() const { return reason_; }
  const std::string& location() const { return location_; }
  bool chunked() const { return chunked_; }
  // The body's length when the head gives it (Content-Length, or none for 204 and 304), else -1:
  // the body then runs to the server's close.
  long long bodyLength() const;
  // The debug line for a status that gives no page, empty for one that does.
  std::string failureLine() const;

private:
  void parse();
  std::string text_;
  bool complete_ = false;
  bool http_ = false;
  int status_ = 0;
  std::string reason_;
  std::string location_;
  long long contentLength_ = -1;
  bool chunked_ = false;
};

class JPageReaderObj : public JAddObj {
public:
  // Ports: the tags, once; the index names follow from them.
  static constexpr const char* kInputTags[] = {"reload"};
  static constexpr const char* kOutputTags[] = {"mvalue_1", "mvalue_2", "mvalue_3", "mvalue_4", "mvalue_5",
                                                "mvalue_6", "mvalue_7", "mvalue_8", "mvalue_9", "mvalue_10"};
  static constexpr int kReload = portIndex(kInputTags, "reload");
  static constexpr int kFirstValue = portIndex(kOutputTags, "mvalue_1");  // then one per value
  static constexpr int kValues = PageDecoder::kMaxValues;
  static constexpr int kDefaultPort = 80;
  static constexpr int kMinPort = 80, kMaxPort = 5000;  // of the "port" setting
  static constexpr int kRetryMs = 100;                  // between refused connection attempts
  // "timeout ms": how long a connection attempt or a read may wait for the server; 0 = no limit.
  static constexpr int kDefaultTimeoutMs = 10000;
  static constexpr int kMaxTimeoutMs = 3600000;
  static constexpr int kReadBytes = 64 * 1024;  // one read's most
  static constexpr const char* kDefaultAddress = "localhost";

  // fetchState
  static constexpr int kIdle = 0, kConnecting = 1, kReceiving = 2;

  JPageReaderObj();
  // Settings, the reload value and the outputs are copied; a copy fetches nothing (its state is
  // idle and its decoder fresh: the fetch belongs to the original's thread).
  JPageReaderObj(const JPageReaderObj& o);
  JPageReaderObj& operator=(const JPageReaderObj& o);  // stops this module's fetch first
  ~JPageReaderObj() override;                          // stops and joins the fetch

  // --- host operations (properties and persistence come from the settings table) ---
  const char* className() const override { return "JPageReaderObj"; }
  JObject* clone() const override { return new JPageReaderObj(*this); }
  void run() override;
  void reset() override { close(); }
  void close() override;
  void paint(JGraphics& g, double dx, double dy, JRegion& region, double scale) override;
  void draw(JGraphics& g, int x, int y, int w, int h) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  void engine(int n, JLinkObj& link) override;

  // --- own operations ---
  void open();
  // After a setting changed: stops the fetch, and starts it again at the new place when "reload"
  // is up.
  void reopen();
  // The address to connect to; throws JSocketException when it cannot be had. A text without a
  // letter is a numeric address and is never looked up by name; one with a colon (an IPv6
  // literal, "::1" or "[::1]") is numeric too.
  JInetAddress resolve();
  // Connects a socket to target (within "timeout ms") and sends the request. kGivenUp when the
  // fetch was stopped meanwhile. A failed write throws.
  JSocket::ConnectResult connectAndRequest(const JInetAddress& target);
  void receive();
  void publish();
  void closeSocket();
  // "GET " url " HTTP/1.0" CR LF "Host: " host ":" port CR LF CR LF (an IPv6 host in brackets).
  static JString requestFor(const JString& url, const JString& address, int port);
  // "host:port", an IPv6 host in brackets.
  static JString hostAndPort(const JString& address, int port);
  // 10000 -> "10", 1500 -> "1.5", 250 -> "0.25": seconds for the debug lines.
  static std::string secondsText(int ms);

  JString getAddress() const;
  JString getUrl() const;
  bool fetching() const { return fetcher.isAlive(); }
  // A fetch is under way and its values are still to come (not while the server refuses).
  bool busy() const override { return fetching() && !published.load() && !serverDown.load(); }

  // --- fields (initial values of the settings in the settings table) ---
  PageDecoder decoder;  // run-time only: the fetch thread's alone while it runs
  ResponseHead head;    // likewise
  // The connection: the fetch thread installs it, close() closes it from the host thread.
  GuardedConnection<> line;
  // The texts the fetch thread reads (and, after resolving, writes) while the host draws them.
  struct Texts {
    JString address;
    JString url;
  };
  GuardedFields<Texts> texts;
  JAtomic<int> port;
  JAtomic<int> timeoutMs;
  JAtomic<int> fetchState{kIdle};
  JAtomic<bool> published{false};
  JAtomic<bool> serverDown{false};  // the last connection attempt was refused
  JWorker fetcher;
  JCriticalSection lock;  // serialises open and close (the fetcher never takes it)
  int reloadValue = 0;    // host thread only
  // The fetch thread's: the last attempt to connect failed (so the next success says so once).
  bool cannotConnect = false;
  JAtomic<int> values[kValues];
};
