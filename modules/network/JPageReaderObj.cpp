#include "JPageReaderObj.h"

#include <algorithm>
#include <cstring>
#include <string>

// ------------------------------------------------------------------------------------ decoder

namespace {
// digitValue() as a table: the decoder's inner loops look up every byte.
struct DigitTable {
  int8_t v[256];
  constexpr DigitTable() : v() {
    for (int c = 0; c < 256; ++c) v[c] = -1;
    for (int c = '0'; c <= '@'; ++c) v[c] = static_cast<int8_t>(c - '0');  // '0'..'9', ':'..'@' as 10..16
    for (int c = 'A'; c <= 'F'; ++c) v[c] = static_cast<int8_t>(c - 'A' + 10);
  }
};
constexpr DigitTable kDigits;
}  // namespace

void PageDecoder::reset() {
  hexAccumulator = 0;
  bodyFound = false;
  markerPosition = 0;
  valueCount = 0;
  highNibblePending = false;
  phase_ = kSeekBody;
  previousA_ = previousF_ = false;
  digitCount_ = runCount_ = 0;
  runWaiting_ = false;
}

int PageDecoder::digitValue(uint8_t c) { return kDigits.v[c]; }

void PageDecoder::addDigit(int d) {
  if (!highNibblePending) {
    hexAccumulator = d * 16;
    highNibblePending = true;
    return;
  }
  if (valueCount < kMaxValues) values[valueCount++] = hexAccumulator + d;
  highNibblePending = false;
}

void PageDecoder::decodeChunk(const uint8_t* bytes, int n) {
  if (!bytes) return;
  for (int i = 0; i < n; ++i) {
    if (!bodyFound) {
      // A mismatch starts the marker over without comparing this byte with '<' again.
      if (bytes[i] == static_cast<uint8_t>(kMarker[markerPosition])) {
        if (++markerPosition == kMarkerLength) bodyFound = true;
      } else {
        markerPosition = 0;
      }
      continue;
    }
    if (bytes[i] != 'a' || i + 1 >= n || bytes[i + 1] != 'a') continue;
    // The first "aa": every "FF" after it that is not the last two bytes starts a run, decoded
    // to the end (or until more than seven values are in). The scan goes on at the next byte, so
    // later runs decode some digits again.
    for (int p = i + 2; p < n - 2; ++p) {
      if (bytes[p] != 'F' || bytes[p + 1] != 'F') continue;
      for (int q = p + 2; q < n; ++q) {
        const int d = digitValue(bytes[q]);
        if (d < 0) continue;
        addDigit(d);
        if (valueCount > 7) break;
      }
    }
    return;
  }
}

// The first run over the digits kept, then each later run from its start, as decodeChunk runs
// them. A later run whose digit has not come yet waits for it, unless the response has ended.
// (An "FF" that is the response's last two bytes starts no run in decodeChunk; here its run
// finds no digit, which comes to the same.)
void PageDecoder::replayFirstRun(bool atEnd) {
  for (int i = 0; i < digitCount_; ++i) {
    addDigit(digits_[i]);
    if (valueCount > 7) break;
  }
  for (int r = 0; r < runCount_; ++r) {
    if (runStarts_[r] >= digitCount_) {
      runWaiting_ = !atEnd;
      break;
    }
    for (int i = runStarts_[r]; i < digitCount_; ++i) {
      addDigit(digits_[i]);
      if (valueCount > 7) break;
    }
  }
  phase_ = atEnd || valueCount >= kMaxValues ? kDone : kSingleDigits;
}

// One byte after the first "aa". Run starts are strictly rising (the second F of a later "FF"
// is itself a digit), so at most one later run waits at a time.
void PageDecoder::byteAfterAa(uint8_t c) {
  const int d = kDigits.v[c];
  // A 17th digit: the first run had its eight values from the 16 before it.
  if (phase_ == kFirstRun && d >= 0 && digitCount_ == kFirstRunDigits) replayFirstRun(false);
  const bool pairEnds = c == 'F' && previousF_;
  previousF_ = c == 'F';
  switch (phase_) {
    case kSeekRun:
      if (pairEnds) phase_ = kFirstRun;  // "FFF": the second F starts a pair of its own
      return;
    case kFirstRun:
      if (d >= 0) digits_[digitCount_++] = d;
      if (pairEnds && runCount_ <= kFirstRunDigits) runStarts_[runCount_++] = digitCount_;
      return;
    case kSingleDigits:
      if (d >= 0 && runWaiting_) {
        runWaiting_ = false;
        addDigit(d);
        if (valueCount >= kMaxValues) {
          phase_ = kDone;
          return;
        }
      }
      if (pairEnds) runWaiting_ = true;
      return;
    default: return;
  }
}

void PageDecoder::feed(const uint8_t* bytes, size_t n) {
  if (!bytes) return;
  const uint8_t* p = bytes;
  const uint8_t* end = bytes + n;
  while (p < end) {
    switch (phase_) {
      case kSeekBody: {
        if (markerPosition == 0) {  // only a '<' can start the marker
          p = static_cast<const uint8_t*>(std::memchr(p, '<', static_cast<size_t>(end - p)));
          if (!p) return;
        }
        if (*p++ == static_cast<uint8_t>(kMarker[markerPosition])) {
          if (++markerPosition == kMarkerLength) {
            bodyFound = true;
            phase_ = kSeekAa;
            previousA_ = false;
          }
        } else {
          markerPosition = 0;
        }
        break;
      }
      case kSeekAa: {
        if (!previousA_) {
          p = static_cast<const uint8_t*>(std::memchr(p, 'a', static_cast<size_t>(end - p)));
          if (!p) return;
          previousA_ = true;
          ++p;
          break;
        }
        previousA_ = *p++ == 'a';
        if (previousA_) {
          phase_ = kSeekRun;
          previousF_ = false;
        }
        break;
      }
      case kSeekRun:
        if (!previousF_) {  // only an F can start the first pair
          p = static_cast<const uint8_t*>(std::memchr(p, 'F', static_cast<size_t>(end - p)));
          if (!p) return;
        }
        byteAfterAa(*p++);
        break;
      case kSingleDigits:
        if (!runWaiting_ && !previousF_) {  // nothing waits for a digit: only an F matters
          p = static_cast<const uint8_t*>(std::memchr(p, 'F', static_cast<size_t>(end - p)));
          if (!p) return;
        }
        byteAfterAa(*p++);
        break;
      case kFirstRun:
        if (!previousF_) {  // only digits count here (an F is one)
          while (p < end && kDigits.v[*p] < 0) ++p;
          if (p == end) return;
        }
        byteAfterAa(*p++);
        break;
      case kDone: return;
    }
  }
}

void PageDecoder::finish() {
  if (phase_ == kFirstRun) replayFirstRun(true);
  phase_ = kDone;
  runWaiting_ = false;
}

// ---------------------------------------------------------------------------------------- head

void ResponseHead::reset() {
  text_.clear();
  complete_ = http_ = chunked_ = false;
  status_ = 0;
  reason_.clear();
  location_.clear();
  contentLength_ = -1;
}

size_t ResponseHead::take(const uint8_t* bytes, size_t n) {
  if (complete_ || !bytes) return 0;
  static const char kStart[] = "HTTP/";
  size_t used = 0;
  while (used < n) {
    const char c = static_cast<char>(bytes[used++]);
    text_ += c;
    const size_t len = text_.size();
    // Not a status line: no head at all, the response is what the server sends.
    if (len <= 5 && c != kStart[len - 1]) {
      complete_ = true;
      return used;
    }
    const bool ended = (len >= 2 && text_.compare(len - 2, 2, "\n\n") == 0) ||
                       (len >= 4 && text_.compare(len - 4, 4, "\r\n\r\n") == 0);
    if (ended) {
      complete_ = true;
      parse();
      text_.clear();
      text_.shrink_to_fit();
      return used;
    }
    if (len >= kMaxHead) {
      complete_ = true;
      return used;
    }
  }
  return used;
}

namespace {
std::string trimmed(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
  return s.substr(a, b - a);
}
std::string lowered(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}
// Printable ASCII only, at most max characters: the text goes into a debug line.
std::string printable(const std::string& s, size_t max) {
  std::string out;
  for (char c : s) {
    if (out.size() >= max) break;
    out += (c >= 0x20 && c < 0x7f) ? c : '?';
  }
  return out;
}
}  // namespace

void ResponseHead::parse() {
  size_t at = 0;
  bool first = true;
  bool lengthSeen = false;
  while (at < text_.size()) {
    size_t nl = text_.find('\n', at);
    if (nl == std::string::npos) nl = text_.size();
    const std::string line = trimmed(text_.substr(at, nl - at));
    at = nl + 1;
    if (first) {
      first = false;
      // "HTTP/1.1 404 Not Found": three digits after the version, then the reason.
      const size_t sp = line.find(' ');
      if (sp == std::string::npos || line.size() < sp + 4) return;
      int code = 0;
      for (size_t i = sp + 1; i < sp + 4; ++i) {
        if (line[i] < '0' || line[i] > '9') return;
        code = code * 10 + (line[i] - '0');
      }
      if (line.size() > sp + 4 && line[sp + 4] != ' ') return;
      status_ = code;
      reason_ = printable(trimmed(line.size() > sp + 4 ? line.substr(sp + 5) : std::string()), kMaxText);
      http_ = true;
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string name = lowered(trimmed(line.substr(0, colon)));
    const std::string value = trimmed(line.substr(colon + 1));
    if (name == "content-length") {
      long long v = 0;
      bool ok = !value.empty() && value.size() <= 15;
      for (char c : value) ok = ok && c >= '0' && c <= '9' && ((v = v * 10 + (c - '0')), true);
      // Two lengths that disagree: neither can be trusted, read to the close.
      if (!ok || (lengthSeen && v != contentLength_)) {
        contentLength_ = -2;
      } else if (contentLength_ != -2) {
        contentLength_ = v;
      }
      lengthSeen = true;
    } else if (name == "transfer-encoding") {
      chunked_ = chunked_ || lowered(value).find("chunked") != std::string::npos;
    } else if (name == "location" && location_.empty()) {
      location_ = printable(value, kMaxText);
    }
  }
}

long long ResponseHead::bodyLength() const {
  if (!http_) return -1;
  if (status_ == 204 || status_ == 304 || (status_ >= 100 && status_ < 200)) return 0;
  if (chunked_) return -1;  // a length beside a transfer coding counts for nothing
  return contentLength_ >= 0 ? contentLength_ : -1;
}

std::string ResponseHead::failureLine() const {
  if (!http_ || (status_ >= 200 && status_ < 300) || status_ < 100) return {};
  if (status_ >= 300 && status_ < 400 && !location_.empty()) return "redirected to " + location_ + " (not followed)";
  if (status_ < 300) return {};
  return "HTTP " + std::to_string(status_) + (reason_.empty() ? "" : " " + reason_);
}

// ------------------------------------------------------------------------------------- module

namespace {
using P = JPageReaderObj;
static_assert(sizeof P::kOutputTags / sizeof P::kOutputTags[0] == P::kValues, "one output per value");

const JPortTable kInputs{{kSideTop, 0.25, 0.5, portsOf(P::kInputTags)}};
const JPortTable kOutputs{{kSideRight, 0.25, 0.5, portsOf(P::kOutputTags)}};

// The texts live under the texts' lock: the fetch thread reads them, and writes the address once
// it is resolved.
JSettingValue addressOf(const P& m, int) {
  JSettingValue v;
  v.text = m.getAddress();
  return v;
}
void setAddress(P& m, int, const JSettingValue& v) {
  m.texts.locked([&](P::Texts& t) { t.address = v.text; });
}
JSettingValue urlOf(const P& m, int) {
  JSettingValue v;
  v.text = m.getUrl();
  return v;
}
void setUrl(P& m, int, const JSettingValue& v) {
  m.texts.locked([&](P::Texts& t) { t.url = v.text; });
}

// Stored in this order. A change stops the fetch and starts it again at the new place when
// "reload" is up. A port outside 80..5000 is left out by every road, but a missing one reads as
// 0; a missing text keeps what the module holds.
const JSettings kSettings{
    JSetting::custom<P>(JSetting::kText, "hostName/IPaddress", addressOf, setAddress)
        .key("address")
        .init(P::kDefaultAddress)
        .onChange(&P::reopen),
    JSetting::integer("port", &P::port)
        .init(P::kDefaultPort)
        .range(P::kMinPort, P::kMaxPort, JOutOfRange::kIgnore)
        .whenMissing(0)
        .onChange(&P::reopen),
    JSetting::custom<P>(JSetting::kText, "url", urlOf, setUrl).init("/").onChange(&P::reopen),
    // Read by each wait of the fetch: a change needs no restart. Diagrams from before it wait
    // as long as a new module does.
    JSetting::integer("timeout ms", &P::timeoutMs)
        .key("timeoutMs")
        .init(P::kDefaultTimeoutMs)
        .range(0, P::kMaxTimeoutMs, JOutOfRange::kIgnore)
        .whenMissing(P::kDefaultTimeoutMs),
};

bool hasLetter(const JString& s) {
  for (int i = 0; i < s.length(); ++i)
    if (JCharacter::isAlpha(static_cast<unsigned char>(s[i]))) return true;
  return false;
}

// An IPv6 literal, bare or in brackets: "::1", "[::1]", "fe80::1%lo".
bool isIPv6Literal(const JString& s) { return s.str().find(':') != std::string::npos; }
}  // namespace

JPageReaderObj::JPageReaderObj() {
  setPorts(kInputs, kOutputs);
  setSettings(kSettings);
}

JPageReaderObj::JPageReaderObj(const JPageReaderObj& o)
    : JAddObj(o), line(o.line), texts(o.texts), port(o.port), timeoutMs(o.timeoutMs), reloadValue(o.reloadValue) {
  for (int i = 0; i < kValues; ++i) values[i] = o.values[i];
}

JPageReaderObj& JPageReaderObj::operator=(const JPageReaderObj& o) {
  if (this == &o) return *this;
  close();
  JAddObj::operator=(o);
  decoder = PageDecoder();
  line = o.line;
  texts = o.texts;
  port = o.port;
  timeoutMs = o.timeoutMs;
  fetchState = kIdle;
  published = false;
  reloadValue = o.reloadValue;
  for (int i = 0; i < kValues; ++i) values[i] = o.values[i];
  return *this;
}

JPageReaderObj::~JPageReaderObj() { close(); }

JString JPageReaderObj::getAddress() const {
  return texts.locked([](const Texts& t) { return t.address; });
}

JString JPageReaderObj::getUrl() const {
  return texts.locked([](const Texts& t) { return t.url; });
}

// Stops the fetch after a setting changed, so that the next one goes to the new place.
void JPageReaderObj::reopen() {
  const bool reloading = reloadValue != 0;
  close();
  if (reloading) open();
  repaint();
}

void JPageReaderObj::access(int n, JLinkObj&, const JDataType& data) {
  const int i = n - kFirstValue;
  if (data.type() != JIntegerData::id || i < 0 || i >= kValues) return;
  static_cast<const JIntegerData&>(data) = values[i].load();
}

// A nonzero "reload" starts a fetch when none runs; 0 after the values are out makes the module
// ready for the next one. A change while a fetch runs does nothing.
void JPageReaderObj::engine(int n, JLinkObj& link) {
  if (n != kReload) return;
  reloadValue = readInteger(link);
  if (reloadValue != 0) {
    if (fetchState.load() == kIdle) open();
  } else if (fetchState.load() != kIdle && published.load()) {
    close();
  }
}

// --- the fetch ---

void JPageReaderObj::open() {
  JCriticalSection::Lock guard(lock);
  if (fetchState.load() != kIdle) return;
  // The last fetch's values are out; this one's are not, so a 0 meanwhile must not stop it.
  published = false;
  fetcher.start(this);  // refused while a fetch is still resolving
}

// Closing the socket wakes a read at once, and stopping the worker cuts a retry pause short.
// The state goes to idle only once the thread is gone, so that it cannot set it again.
void JPageReaderObj::close() {
  JCriticalSection::Lock guard(lock);
  fetcher.stop([this] { closeSocket(); });
  closeSocket();
  if (fetchState.exchange(kIdle) != kIdle) repaint();
}

void JPageReaderObj::closeSocket() { line.close(); }

JString JPageReaderObj::hostAndPort(const JString& address, int port) {
  const bool bracket = isIPv6Literal(address) && !(address.length() > 0 && address[0] == '[');
  return (bracket ? JString("[") + address + "]" : address) + ":" + JInteger::toJString(port);
}

JString JPageReaderObj::requestFor(const JString& url, const JString& address, int port) {
  return JString("GET ") + url + " HTTP/1.0\r\nHost: " + hostAndPort(address, port) + "\r\n\r\n";
}

std::string JPageReaderObj::secondsText(int ms) {
  std::string s = std::to_string(ms / 1000);
  int rest = ms % 1000;
  if (rest == 0) return s;
  std::string fraction = std::to_string(1000 + rest).substr(1);  // three digits
  while (fraction.back() == '0') fraction.pop_back();
  return s + "." + fraction;
}

// The resolved form replaces the text resolved, not one that an edit stored meanwhile (an edit
// stores the new address before it stops this fetch).
JInetAddress JPageReaderObj::resolve() {
  const JString text = getAddress();
  JInetAddress target;
  JString resolved;
  if (isIPv6Literal(text)) {
    target = JInetAddress::getNumericAddress(text);
    resolved = text;  // as written: the brackets, if any, stay
  } else if (!hasLetter(text)) {
    target = JInetAddress::getAddrByJString(text);
    resolved = target.getAddressJString();
  } else {
    target = JInetAddress::getAnyByName(text);  // an IPv4 address first, as before
    resolved = target.getHostName();
  }
  JCriticalSection::Lock guard(texts.lock);
  if (texts.address == text) texts.address = resolved;
  return target;
}

// The connection is made on a socket of the thread's own and installed under the line's lock
// only when it stands, so that close() never meets a socket half made; a close() that came
// first is seen there and the new connection is dropped. The attempt itself asks every 50 ms
// whether the fetch still runs, so close() never waits for it.
JSocket::ConnectResult JPageReaderObj::connectAndRequest(const JInetAddress& target) {
  if (!fetcher.running()) return JSocket::kGivenUp;
  const int to = port.load();
  JSocket attempt(target, to, true);
  const JSocket::ConnectResult result = attempt.connectFor(timeoutMs.load(), [this] { return fetcher.running(); });
  if (result != JSocket::kConnected) return result;
  const JString request = requestFor(getUrl(), getAddress(), to);
  {
    JCriticalSection::Lock guard(line.lock);
    if (!fetcher.running()) {
      attempt.close();
      return JSocket::kGivenUp;
    }
    line.attach(std::move(attempt));
  }
  line.output.write(request);
  return JSocket::kConnected;
}

// Resolve, connect (retrying a refused connection every 100 ms), request, receive. A name that
// cannot be resolved ends the fetch idle; an attempt that gets no answer in time ends it as a
// fetch that received nothing; a request that cannot be written starts it over after a pause.
// The debug lines say each failure once, and a server that cannot be reached once per outage.
void JPageReaderObj::run() {
  while (fetcher.running()) {
    JInetAddress target;
    const JString name = getAddress();
    try {
      target = resolve();
    } catch (const JException&) {
      JComponent::debug(("cannot resolve " + name.str()).c_str());
      closeSocket();
      fetchState = kIdle;
      repaint();
      return;
    }
    fetchState = kConnecting;
    repaint();
    JSocket::ConnectResult result = JSocket::kRefused;
    try {
      while ((result = connectAndRequest(target)) == JSocket::kRefused) {
        serverDown = true;
        if (!cannotConnect) {
          cannotConnect = true;
          JComponent::debug(
              ("cannot connect to " + hostAndPort(getAddress(), port.load()).str() + "; trying again").c_str());
        }
        if (!fetcher.sleepFor(kRetryMs)) break;
      }
    } catch (const JException&) {
      closeSocket();
      if (fetcher.sleepFor(kRetryMs)) continue;
      repaint();
      return;
    }
    if (result == JSocket::kNoAnswer) {
      cannotConnect = true;
      JComponent::debug(("no answer in " + secondsText(timeoutMs.load()) + " s").c_str());
      fetchState = kReceiving;
      decoder.reset();
      publish();
      closeSocket();
      repaint();
      return;
    }
    if (result != JSocket::kConnected) {  // stopped
      closeSocket();
      repaint();
      return;
    }
    serverDown = false;
    if (cannotConnect) {
      cannotConnect = false;
      JComponent::debug(("connected to " + hostAndPort(getAddress(), port.load()).str() + " again").c_str());
    }
    fetchState = kReceiving;
    repaint();
    receive();
    closeSocket();
    return;
  }
}

// Reads in large blocks until the response ends: the server closes (or resets), the body of a
// Content-Length is in, or nothing comes for "timeout ms". Every byte of the response, head
// included, goes to the decoder; bytes past a Content-Length body are not the page's. A fetch
// stopped by close() publishes nothing.
void JPageReaderObj::receive() {
  decoder.reset();
  head.reset();
  published = false;
  JBlock piece(kReadBytes);
  long long bodyRead = 0;
  for (;;) {
    int want = kReadBytes;
    const long long length = head.complete() ? head.bodyLength() : -1;
    if (length >= 0) {
      if (bodyRead >= length) break;
      want = static_cast<int>(std::min<long long>(want, length - bodyRead));
    }
    try {
      const int limit = timeoutMs.load();
      if (limit > 0 && !line.input.waitForInput(limit)) {
        JComponent::debug(("no answer in " + secondsText(limit) + " s").c_str());
        break;
      }
      line.input.read(piece, want);
    } catch (const JException&) { break; }
    const uint8_t* bytes = piece.data();
    size_t n = static_cast<size_t>(piece.size());
    size_t body = n;
    if (!head.complete()) {
      body = n - head.take(bytes, n);
      if (head.complete()) {
        const std::string failure = head.failureLine();
        if (!failure.empty()) JComponent::debug(failure.c_str());
      }
    }
    const long long total = head.complete() ? head.bodyLength() : -1;
    if (total >= 0 && bodyRead + static_cast<long long>(body) > total) {
      const size_t extra = static_cast<size_t>(bodyRead + static_cast<long long>(body) - total);
      n -= extra;
      body -= extra;
    }
    bodyRead += static_cast<long long>(body);
    decoder.feed(bytes, n);
  }
  if (!fetcher.running()) return;
  decoder.finish();
  publish();
}

void JPageReaderObj::publish() {
  const int n = decoder.count();
  for (int i = 0; i < n; ++i) values[i] = decoder.values[i];
  published = true;
  for (int i = 0; i < n; ++i) broadcast(kFirstValue + i);
}

// --- face ---

void JPageReaderObj::draw(JGraphics& g, int x, int y, int w, int h) {
  const JString where = getAddress() + ":" + JInteger::toJString(port.load());
  drawText(g, JString("WEB"), JRect(x, y + h / 12, w, h / 3));
  drawText(g, JString("READ"), JRect(x, y + h / 3, w, h / 3));
  drawText(g, where, JRect(x, y + 2 * h / 3 - h / 12, w, h / 3));
}

// The host's face, and in its corner a square that shows the fetch: dark red idle, yellow
// connecting, red receiving or received.
void JPageReaderObj::paint(JGraphics& g, double dx, double dy, JRegion& region, double scale) {
  JModuleObj::paint(g, dx, dy, region, scale);
  const JRect inner = getIExtent(dx, dy, scale);
  if (inner.width <= 3 * depth2 || inner.height <= 3 * depth2) return;
  const int state = fetchState.load();
  g.setJColor(state >= kReceiving ? JColor::red : state == kConnecting ? JColor::yellow : JColor::red.darker());
  g.fillRect(inner.x + depth2, inner.y + depth2, depth2, depth2);
}

LOOMWORK_REGISTER(JPageReaderObj)
