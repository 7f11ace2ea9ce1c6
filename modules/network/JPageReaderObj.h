#pragma once
// JPageReaderObj ("WEB READ"): fetches one page from a web server with a plain HTTP GET and puts
// out up to ten small numbers that the page carries as hexadecimal pairs in its body. A nonzero
// value on "reload" starts a fetch; when the server ends the response the decoded numbers go out
// on "mvalue_1" .. "mvalue_10". The fetch runs on a thread of the module's own.
//
// Page format (the response is read as raw bytes, status line and headers included): everything
// up to the first "<body" is skipped, then everything up to the first "aa"; after that each "FF"
// starts a run of hex pairs, one value each. The decoder works on chunks of exactly 50 bytes of
// the response (PageDecoder below), so the values depend only on the page's bytes, never on how
// the network happens to cut them.
//
// Threads: the fetch thread and the host share fetchState, published and the outputs (atomic),
// the address and path texts (guarded by `texts`) and the socket (guarded by `line`): close()
// closes the socket under that lock, which wakes a read or a connect retry at once.
#include <cstdint>

#include "modules/GuardedConnection.h"
#include "modules/Module.h"

// The page decoder, on its own so that it can be fed any bytes (tests, the fuzzer).
// Its rules apply per chunk: an "aa" or an "FF" cut by a chunk boundary is not seen, a "<body"
// cut by one is.
class PageDecoder {
public:
  static constexpr int kChunkBytes = 50;
  static constexpr int kMaxValues = 10;
  static constexpr char kMarker[] = "<body";
  static constexpr int kMarkerLength = 5;

  // Back to the start of a response: no marker seen, no value, no digit pending. The values
  // themselves are kept (only the first count() of them belong to this response).
  void reset();

  // Decodes one chunk exactly as the description reads it.
  void decodeChunk(const uint8_t* bytes, int n);

  // Bytes as the network delivers them: gathered into chunks of exactly kChunkBytes, each decoded
  // when full. room() is how many bytes complete the chunk being gathered (1..50): reading at
  // most that many keeps the chunk within its bound.
  void feed(const uint8_t* bytes, int n);
  int room() const { return kChunkBytes - gathered_; }
  // The end of the response: decodes the shorter last chunk, if any.
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
  void addDigit(int d);
  uint8_t chunk_[kChunkBytes] = {};
  int gathered_ = 0;
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
  static constexpr int kRetryMs = 100;                  // between connection attempts
  // A connection attempt to an address that does not answer gives up after this long; it is as
  // long as close() may have to wait while one is under way (a refused one fails at once).
  static constexpr int kConnectTimeoutMs = 1000;
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
  // letter is a numeric address and is never looked up by name.
  JInetAddress resolve();
  // Connects a socket to target and sends the request: true when it was sent, false when the
  // connection was refused or the fetch was stopped. A failed write throws.
  bool connectAndRequest(const JInetAddress& target);
  void receive();
  void publish();
  void closeSocket();
  // "GET " url " HTTP/1.0" CR LF "Host: " address ":" port CR LF CR LF.
  static JString requestFor(const JString& url, const JString& address, int port);

  JString getAddress() const;
  JString getUrl() const;
  bool fetching() const { return fetcher.isAlive(); }

  // --- fields (initial values of the settings in the settings table) ---
  PageDecoder decoder;  // run-time only: the fetch thread's alone while it runs
  // The connection: the fetch thread installs it, close() closes it from the host thread.
  GuardedConnection<> line;
  // The texts the fetch thread reads (and, after resolving, writes) while the host draws them.
  struct Texts {
    JString address;
    JString url;
  };
  GuardedFields<Texts> texts;
  JAtomic<int> port;
  JAtomic<int> fetchState{kIdle};
  JAtomic<bool> published{false};
  JWorker fetcher;
  JCriticalSection lock;  // serialises open and close (the fetcher never takes it)
  int reloadValue = 0;    // host thread only
  JAtomic<int> values[kValues];
};
