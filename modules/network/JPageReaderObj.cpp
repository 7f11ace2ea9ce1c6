#include "JPageReaderObj.h"

#include <algorithm>
#include <cstring>

// ------------------------------------------------------------------------------------ decoder

void PageDecoder::reset() {
  hexAccumulator = 0;
  bodyFound = false;
  markerPosition = 0;
  valueCount = 0;
  highNibblePending = false;
  gathered_ = 0;
}

int PageDecoder::digitValue(uint8_t c) {
  if (c >= '0' && c <= '@') return c - '0';  // '0'..'9', then ':' .. '@' as 10..16
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

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
    // The first "aa" of the chunk: every "FF" after it that is not the chunk's last two bytes
    // starts a run, decoded to the chunk's end (or until more than seven values are in). The
    // scan goes on at the next byte, so later runs decode some digits again.
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

void PageDecoder::feed(const uint8_t* bytes, int n) {
  if (!bytes) return;
  while (n > 0) {
    const int take = std::min(n, room());
    std::memcpy(chunk_ + gathered_, bytes, static_cast<size_t>(take));
    gathered_ += take;
    bytes += take;
    n -= take;
    if (gathered_ == kChunkBytes) {
      decodeChunk(chunk_, kChunkBytes);
      gathered_ = 0;
    }
  }
}

void PageDecoder::finish() {
  if (gathered_ > 0) decodeChunk(chunk_, gathered_);
  gathered_ = 0;
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
};

bool hasLetter(const JString& s) {
  for (int i = 0; i < s.length(); ++i)
    if (JCharacter::isAlpha(static_cast<unsigned char>(s[i]))) return true;
  return false;
}
}  // namespace

JPageReaderObj::JPageReaderObj() {
  setPorts(kInputs, kOutputs);
  setSettings(kSettings);
}

JPageReaderObj::JPageReaderObj(const JPageReaderObj& o)
    : JAddObj(o), line(o.line), texts(o.texts), port(o.port), reloadValue(o.reloadValue) {
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
  if (fetchState.load() == kIdle) fetcher.start(this);  // refused while a fetch is still resolving
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

JString JPageReaderObj::requestFor(const JString& url, const JString& address, int port) {
  return JString("GET ") + url + " HTTP/1.0\r\nHost: " + address + ":" + JInteger::toJString(port) + "\r\n\r\n";
}

// The resolved form replaces the text resolved, not one that an edit stored meanwhile (an edit
// stores the new address before it stops this fetch).
JInetAddress JPageReaderObj::resolve() {
  const JString text = getAddress();
  JInetAddress target;
  JString resolved;
  if (!hasLetter(text)) {
    target = JInetAddress::getAddrByJString(text);
    resolved = target.getAddressJString();
  } else {
    target = JInetAddress(text);
    resolved = target.getHostName();
  }
  JCriticalSection::Lock guard(texts.lock);
  if (texts.address == text) texts.address = resolved;
  return target;
}

// The connection is made on a socket of the thread's own and installed under the line's lock
// only when it stands, so that close() never meets a socket half made; a close() that came
// first is seen there and the new connection is dropped.
bool JPageReaderObj::connectAndRequest(const JInetAddress& target) {
  if (!fetcher.running()) return false;
  const int to = port.load();
  JSocket attempt(target, to, true);
  attempt.setConnectTimeout(kConnectTimeoutMs);
  if (!attempt.connect()) return false;
  const JString request = requestFor(getUrl(), getAddress(), to);
  {
    JCriticalSection::Lock guard(line.lock);
    if (!fetcher.running()) {
      attempt.close();
      return false;
    }
    line.attach(std::move(attempt));
  }
  line.output.write(request);
  return true;
}

// Resolve, connect (retrying every 100 ms), request, receive. A name that cannot be resolved
// ends the fetch idle; a request that cannot be written starts it over after a pause.
void JPageReaderObj::run() {
  while (fetcher.running()) {
    JInetAddress target;
    try {
      target = resolve();
    } catch (const JException&) {
      closeSocket();
      fetchState = kIdle;
      repaint();
      return;
    }
    fetchState = kConnecting;
    repaint();
    bool sent = false;
    try {
      while (!(sent = connectAndRequest(target))) {
        if (!fetcher.sleepFor(kRetryMs)) break;
      }
    } catch (const JException&) {
      closeSocket();
      if (fetcher.sleepFor(kRetryMs)) continue;
      repaint();
      return;
    }
    if (!sent) {  // stopped
      closeSocket();
      repaint();
      return;
    }
    fetchState = kReceiving;
    repaint();
    receive();
    closeSocket();
    return;
  }
}

// Reads at most what completes the current 50-byte chunk, so the decoder sees the same chunks
// however the network cuts the response. The end of the response (or a broken connection)
// publishes; a fetch stopped by close() publishes nothing.
void JPageReaderObj::receive() {
  decoder.reset();
  published = false;
  JBlock piece(PageDecoder::kChunkBytes);
  for (;;) {
    try {
      line.input.read(piece, decoder.room());
    } catch (const JException&) {
      if (!fetcher.running()) return;
      decoder.finish();
      publish();
      return;
    }
    decoder.feed(piece.data(), piece.size());
  }
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
