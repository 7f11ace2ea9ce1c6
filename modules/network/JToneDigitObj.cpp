#include "JToneDigitObj.h"

#include <cstdarg>
#include <cstdio>

namespace {
using T = JToneDigitObj;

const JPortTable kInputs{{kSideTop, 0.25, 0.5, portsOf(T::kInputTags)}};
const JPortTable kOutputs{{kSideRight, 0.25, 0.5, portsOf(T::kOutputTags)}};

// The reader takes a new port the next time it listens, that is after the current sender. A port
// outside 3000..8000 is left out by every road; a diagram without "port" reads it as 0, which
// listens on a port the system picks.
const JSettings kSettings{
    JSetting::integer("port", &T::port)
        .init(T::kDefaultPort)
        .range(T::kMinPort, T::kMaxPort, JOutOfRange::kIgnore)
        .whenMissing(0),
};

// The keypad as a telephone shows it: rows top to bottom, keys left to right.
const char kKeypad[4][3] = {{'1', '2', '3'}, {'4', '5', '6'}, {'7', '8', '9'}, {'*', '0', '#'}};

constexpr int kReadBytes = 10;
constexpr int kAcceptPollMs = 100;
// The host's streams never hand back an empty read; should one do so regardless, the connection
// is given up rather than read in a tight loop for ever.
constexpr int kMaxEmptyReads = 100;
}  // namespace

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

// Closing the sockets wakes the reader in a read; an accept poll sees the stop within its pause.
void JToneDigitObj::close() {
  reader.stop([this] { closeSocket(); });
  closeSocket();
  repaint();
}

// A port that cannot be listened on ends the reader (until the next startup) with a debug line
// of why.
void JToneDigitObj::run() {
  while (reader.running()) {
    try {
      openSocket();
    } catch (const JException&) {
      closeSocket();
      repaint();
      throw;
    }
    connected.store(0);
    repaint();
    try {
      while (connected.load() == 0 && !connectSocket()) {
        if (!reader.sleepFor(kAcceptPollMs)) break;
      }
    } catch (const JException&) {
      closeSocket();
      repaint();
      throw;
    }
    if (connected.load() != 0) {
      repaint();
      processInputStream();
    }
    closeSocket();
  }
  repaint();
}

void JToneDigitObj::openSocket() {
  JCriticalSection::Lock guard(line.lock);
  if (!line.listen(port.load(), 1)) throw JSocketException("listen: " + line.server.lastError());
  lastDigit.store(-1);
}

bool JToneDigitObj::connectSocket() {
  JCriticalSection::Lock guard(line.lock);
  if (!reader.running() || !line.accept()) return false;  // accepting stops listening: one sender at a time
  connected.store(1);
  return true;
}

void JToneDigitObj::closeSocket() {
  JCriticalSection::Lock guard(line.lock);
  line.close();
  connected.store(0);
}

// The bytes are one stream: every digit character is a key press, in order, wherever the reads
// happen to cut the messages. The 'a', 'b' and 0 of each message, tone letters and any other
// byte are passed over.
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
