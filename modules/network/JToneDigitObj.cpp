#include "JToneDigitObj.h"

#include <atomic>
#include <cstdlib>
#include <string>

#include "base/JClock.h"

namespace {
using T = JToneDigitObj;

const JPortTable kInputs{{kSideTop, 0.25, 0.5, portsOf(T::kInputTags)}};
const JPortTable kOutputs{{kSideRight, 0.25, 0.5, portsOf(T::kOutputTags)}};

// The reader takes a new port or address after the sender it serves. A port outside 3000..8000
// is left out by every road; a diagram without "port" reads it as 0, which listens on a port the
// system picks. An empty listen address is every interface; "127.0.0.1" keeps other machines
// out.
const JSettings kSettings{
    JSetting::integer("port", &T::port)
        .init(T::kDefaultPort)
        .range(T::kMinPort, T::kMaxPort, JOutOfRange::kIgnore)
        .whenMissing(0),
    JSetting::text("listen address", &T::listenAddress)
        .key("listenAddress")
        .init("")
        .whenMissing("")
        .note("empty listens on every interface; `127.0.0.1` (or `localhost`) keeps the receiver to this "
              "machine."),
};

// The keypad as a telephone shows it: rows top to bottom, keys left to right.
const char kKeypad[4][3] = {{'1', '2', '3'}, {'4', '5', '6'}, {'7', '8', '9'}, {'*', '0', '#'}};

// Every digit counts wherever a read cuts the stream, so reads are large: a read of a few bytes
// costs a system call each, and a sender pouring bytes would hold its turn far longer.
constexpr int kReadBytes = 4096;
// How long the door waits for a sender, and the reader for a waiting one, before they look again
// at whether to go on (stop() also wakes them at once) and at the silence of the one served.
constexpr int kAcceptPollMs = 100;
// The host's streams never hand back an empty read; should one do so regardless, the connection
// is given up rather than read in a tight loop for ever.
constexpr int kMaxEmptyReads = 100;

std::atomic<int> silenceLimitForTests{0};

// "127.0.0.1:40312": who a debug line speaks of.
std::string senderName(const JSocket& s) {
  return s.getInetAddress().getAddressJString().str() + ":" + std::to_string(s.getPort());
}

// A setting's text quoted in a debug line, control bytes written as \xNN so that none reaches
// the terminal.
std::string quoted(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string durationText(int ms) {
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}
}  // namespace

// --- senders waiting for their turn ---

WaitingSenders& WaitingSenders::operator=(const WaitingSenders& o) {
  if (this != &o) closeAll();
  return *this;
}

void WaitingSenders::push(JSocket&& sender) {
  {
    std::lock_guard<std::mutex> g(mutex_);
    senders_.push_back(std::move(sender));
  }
  changed_.notify_all();
}

bool WaitingSenders::take(JSocket& sender, int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  const unsigned wakes = wakes_;
  changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return !senders_.empty() || wakes_ != wakes; });
  if (senders_.empty()) return false;
  sender = std::move(senders_.front());
  senders_.pop_front();
  return true;
}

void WaitingSenders::wake() {
  {
    std::lock_guard<std::mutex> g(mutex_);
    ++wakes_;
  }
  changed_.notify_all();
}

int WaitingSenders::size() const {
  std::lock_guard<std::mutex> g(mutex_);
  return static_cast<int>(senders_.size());
}

void WaitingSenders::closeAll() {
  std::deque<JSocket> closing;
  {
    std::lock_guard<std::mutex> g(mutex_);
    closing.swap(senders_);
    ++wakes_;
  }
  changed_.notify_all();
  for (auto& s : closing) s.close();  // unread bytes make it a reset the sender sees
}

// --- the silence limit ---

void JToneDigitObj::setSilenceLimitForTests(int ms) { silenceLimitForTests.store(ms > 0 ? ms : 0); }

int JToneDigitObj::silenceLimitMs() {
  const int forced = silenceLimitForTests.load();
  if (forced > 0) return forced;
  static const int fromEnvironment = [] {
    const char* text = std::getenv("LOOMWORK_TONE_SILENCE_MS");
    if (!text || !*text) return 0;
    char* end = nullptr;
    const long ms = std::strtol(text, &end, 10);
    return *end == '\0' && ms > 0 && ms <= 3600 * 1000 ? static_cast<int>(ms) : 0;
  }();
  return fromEnvironment > 0 ? fromEnvironment : kSilenceLimitMs;
}

JToneDigitObj::JToneDigitObj() {
  setPorts(kInputs, kOutputs);
  setSettings(kSettings);
}

JToneDigitObj::~JToneDigitObj() { close(); }

// --- outputs ---

void JToneDigitObj::access(int n, JLinkObj&, const JDataType& data) {
  if (data.type() != JIntegerData::id) return;
  const auto& out = static_cast<const JIntegerData&>(data);
  if (n >= 0 && n < kKeys) {
    out = digitLevels[n].load();
  } else if (n == kDigitValue) {
    out = lastDigit.load();
  }
}

// --- the reader thread ---

void JToneDigitObj::startup() {
  if (reader.isAlive()) return;  // already listening
  connected.store(0);
  open();
}

void JToneDigitObj::open() {
  if (connected.load() == 0) reader.start(this);
}

// Closing the sockets wakes the reader in a read or waiting for a sender, and the door in an
// accept; both end within a poll's pause at most. A sender taken in but not yet served sees its
// connection reset.
void JToneDigitObj::close() {
  reader.stop([this] { closeSocket(); });
  door.stop();
  closeSocket();
  repaint();
}

// A port or address that cannot be listened on ends the reader (until the next startup) with a
// debug line of why. The door runs only while the reader listens.
void JToneDigitObj::run() {
  auto failed = [this] {
    door.stop();
    closeSocket();
    repaint();
  };
  try {
    openSocket();
  } catch (const JException&) {
    failed();
    throw;
  }
  door.start(this, [this] { admitSenders(); });
  while (reader.running()) {
    repaint();
    while (!connectSocket()) {
      if (!reader.running()) break;
    }
    if (connected.load() == 0) break;
    repaint();
    processInputStream();
    endTurn();
    if (!reader.running() || !listenedElsewhere()) continue;
    // Senders already let in on the old port keep their turn; then the new one listens.
    door.stop();
    JSocket sender;
    while (line.server.accept(sender, 0)) waiting.push(std::move(sender));
    try {
      openSocket();
    } catch (const JException&) {
      failed();
      throw;
    }
    door.start(this, [this] { admitSenders(); });
  }
  door.stop();
  repaint();
}

void JToneDigitObj::openSocket() {
  const int listenPort = port.load();
  const std::string address = listenAddress.get().str();
  JInetAddress bindTo;  // 0.0.0.0: every interface
  if (!address.empty()) {
    try {
      bindTo = JInetAddress(JString(address));
    } catch (const JException&) { throw JSocketException("listen: unknown listen address " + quoted(address)); }
  }
  JCriticalSection::Lock guard(line.lock);
  line.server = JServerSocket(listenPort);
  line.server.setBindAddress(bindTo);
  line.port = listenPort;
  line.address = address;
  if (!line.server.listen(kListenBacklog)) {
    line.boundPort.store(-1);
    if (address.empty()) throw JSocketException("listen: " + line.server.lastError());
    throw JSocketException("listen: " + quoted(address) + " port " + std::to_string(listenPort) + ": " +
                           line.server.lastError());
  }
  line.boundPort.store(line.server.getLocalPort());
  lastDigit.store(-1);
}

bool JToneDigitObj::listenedElsewhere() const {
  const int wantPort = port.load();
  const std::string wantAddress = listenAddress.get().str();
  JCriticalSection::Lock guard(line.lock);
  return line.port != wantPort || line.address != wantAddress;
}

// The next sender in the order they connected, taken from the door's queue.
bool JToneDigitObj::connectSocket() {
  JSocket next;
  if (!waiting.take(next, kAcceptPollMs)) return false;
  JCriticalSection::Lock guard(line.lock);
  if (!reader.running()) return false;  // next closes as it goes: a reset the sender sees
  line.attach(std::move(next));
  heardAt.store(JClock::millis());
  connected.store(1);
  return true;
}

// The sender served leaves; as before the next one, no digit has been heard from it yet.
void JToneDigitObj::endTurn() {
  JCriticalSection::Lock guard(line.lock);
  line.socket.close();
  connected.store(0);
  lastDigit.store(-1);
}

void JToneDigitObj::closeSocket() {
  {
    JCriticalSection::Lock guard(line.lock);
    line.close();
    connected.store(0);
  }
  waiting.closeAll();
}

// The door: every sender that connects joins the queue at once, so none waits where closing the
// listening socket could reset it; while one is served, the newcomer is told who holds the
// receiver. A full queue leaves the next ones in the system's listen queue.
void JToneDigitObj::admitSenders() {
  const int silenceMs = silenceLimitMs();
  bool full = false;
  while (door.running()) {
    closeSilentSender(silenceMs);
    const int before = waiting.size();
    if (before >= kMaxWaiting) {
      if (!full) JComponent::debugf("%d senders wait; the next ones wait to be let in", before);
      full = true;
      door.sleepFor(kAcceptPollMs);
      continue;
    }
    full = false;
    JSocket sender;
    if (!line.server.accept(sender, kAcceptPollMs)) {
      if (!line.server.isListening()) door.sleepFor(kAcceptPollMs);  // closed: stop() comes next
      continue;
    }
    const std::string newcomer = senderName(sender);
    std::string holder;
    {
      JCriticalSection::Lock guard(line.lock);
      if (connected.load() != 0) holder = senderName(line.socket);
    }
    waiting.push(std::move(sender));
    if (!holder.empty()) {
      JComponent::debugf("%s waits: %s holds the receiver", newcomer.c_str(), holder.c_str());
    } else if (before > 0) {
      JComponent::debugf("%s waits behind %d other sender%s", newcomer.c_str(), before, before == 1 ? "" : "s");
    }
  }
}

// Closing the connection ends the reader's read; its turn ends as if the sender had left.
void JToneDigitObj::closeSilentSender(int limitMs) {
  if (connected.load() == 0 || waiting.size() == 0) return;
  std::string silent;
  {
    JCriticalSection::Lock guard(line.lock);
    if (connected.load() == 0 || JClock::millis() - heardAt.load() < limitMs) return;
    silent = senderName(line.socket);
    line.socket.close();
  }
  JComponent::debugf("%s closed: no digit for %s while another sender waits", silent.c_str(),
                     durationText(limitMs).c_str());
}

// The bytes are one stream: every digit character is a key press, in order, wherever the reads
// happen to cut the messages. The 'a', 'b' and 0 of each message, tone letters and any other
// byte are passed over. Nothing here holds a lock: a broadcast may wait for room in the host's
// queue, and close() must be able to get in meanwhile.
void JToneDigitObj::processInputStream() {
  JBlock block(kReadBytes);
  int emptyReads = 0;
  while (connected.load() != 0) {
    try {
      line.input.read(block);
    } catch (const JException&) {
      connected.store(0);
      break;
    }
    if (block.isEmpty()) {
      JComponent::debugf("got data, bad length");
      int last = lastDigit.load();
      JComponent::debugf("got '%c'", last >= 0 ? static_cast<char>(last) : '?');
      if (++emptyReads >= kMaxEmptyReads) connected.store(0);
      continue;
    }
    emptyReads = 0;
    for (int i = 0; i < block.size(); ++i)
      if (keyIndexOf(block[i]) >= 0) hearDigit(block[i]);
  }
}

int JToneDigitObj::keyIndexOf(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c == '*') return kStar;
  if (c == '#') return kPound;
  return -1;
}

// The code first, then the key's level, then every other level that was up goes down: a
// receiver of the levels alone sees the new key before the old one falls.
void JToneDigitObj::hearDigit(int c) {
  int k = keyIndexOf(c);
  if (k < 0) return;
  heardAt.store(JClock::millis());
  lastDigit.store(c);
  broadcast(kDigitValue);
  digitLevels[k].store(kLevelOn);
  broadcast(k);
  for (int j = 0; j < kKeys; ++j) {
    if (j == k || digitLevels[j].load() == 0) continue;
    digitLevels[j].store(0);
    broadcast(j);
  }
  repaint();
}

// --- face ---

void JToneDigitObj::draw(JGraphics& g, int x, int y, int w, int h) {
  if (connected.load() == 0) {
    g.setJColor(JColor::red);
    drawText(g, JString("DTMF"), JRect(x, y, w, h));
    return;
  }
  const int keyWidth = (w - 12) / 3, keyHeight = (h - 15) / 4;
  const int lit = lastDigit.load();
  for (int row = 0; row < 4; ++row) {
    for (int col = 0; col < 3; ++col) {
      g.setJColor(kKeypad[row][col] == lit ? JColor::green : JColor::red);
      g.fillRect(x + 1 + col * (keyWidth + 3), y + 1 + row * (keyHeight + 3), keyWidth, keyHeight);
    }
  }
}

LOOMWORK_REGISTER(JToneDigitObj)
