#include "JGeoFixObj.h"

#include <algorithm>
#include <climits>
#include <utility>
#include <cstring>

namespace {
const JPortTable kInputs{{kSideLeft, 0.1, 0.8, portsOf(JGeoFixObj::kInputTags, 0, 1, {JBytesData::id})},
                         {kSideTop, 0.1, 0.8, portsOf(JGeoFixObj::kInputTags, 1, 1)}};
const JPortTable kOutputs{
    {kSideRight, 0.25, 0.5, portsOf(JGeoFixObj::kOutputTags, {JStringData::id, JStringData::id, JIntegerData::id})}};

// Off by default, so that a diagram saved before the setting existed reads only "$GP" as it did.
const JSettings kSettings{
    JSetting::integer("any talker", &JGeoFixObj::anyTalker)
        .key("anyTalker")
        .init(0)
        .range(0, 1, JOutOfRange::kIgnore)
        .note("set it to 1 for a receiver that uses more than one satellite system (sentences that start "
              "`$GN`, `$GL`, `$GA`, `$GB`, `$GQ` or `$BD`): their GLL and GSV are read, and the satellites "
              "in view are the total over all systems, once per report cycle. Leave it at 0 for a GPS-only "
              "`$GP` receiver, or to keep an older diagram's behaviour."),
};

// The talkers of the satellite systems: GPS, several systems together, GLONASS, Galileo, BeiDou
// (GB and BD), QZSS.
constexpr const char* kTalkers[] = {"GP", "GN", "GL", "GA", "GB", "GQ", "BD"};

bool startsWith(const char* s, int n, const char* prefix) {
  const int p = static_cast<int>(std::strlen(prefix));
  return n >= p && std::memcmp(s, prefix, static_cast<size_t>(p)) == 0;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // NMEA writes capitals: a small letter is a flipped bit
}

// The field that starts at s[at]: its digits as a number, or -1 when it holds anything else (or
// nothing). A field ends at ',', '*' or the sentence's end.
int fieldNumber(const char* s, int n, int at) {
  long long v = 0;
  int i = at;
  for (; i < n && s[i] >= '0' && s[i] <= '9'; ++i)
    if (v <= INT_MAX) v = v * 10 + (s[i] - '0');
  if (i == at || (i < n && s[i] != ',' && s[i] != '*') || v > INT_MAX) return -1;
  return static_cast<int>(v);
}

// The index just past the next ',' at or after s[at]; n when there is none.
int nextField(const char* s, int n, int at) {
  const void* comma = at < n ? std::memchr(s + at, ',', static_cast<size_t>(n - at)) : nullptr;
  return comma ? static_cast<int>(static_cast<const char*>(comma) - s) + 1 : n;
}
}  // namespace

JGeoFixObj::JGeoFixObj() {
  setPorts(kInputs, kOutputs);
  setSettings(kSettings);
  color = JStringData::color;
}

bool JGeoFixObj::outputAllowed(int) { return true; }

void JGeoFixObj::access(int n, JLinkObj&, const JDataType& data) {
  if (n == kLatitude || n == kLongitude) {
    if (data.type() == JStringData::id) static_cast<const JStringData&>(data) = n == kLatitude ? latitude : longitude;
  } else if (data.type() == JIntegerData::id) {
    static_cast<const JIntegerData&>(data) = satellites;
  }
}

void JGeoFixObj::engine(int n, JLinkObj& link) {
  if (n == kBytes) {
    // Bytes delivered from within this module's own broadcasts (a wire that loops back) wait
    // until the block being assembled is done, and follow it.
    if (assembling_) {
      JBlock looped;
      link.access(JBlockData(looped));
      pending_.append(looped);
      return;
    }
    assembling_ = true;
    // The block's bytes are the text's characters, NULs included (the host's JString keeps them).
    link.access(JBlockData(incoming_));
    assemble(incoming_.data(), incoming_.size());
    while (!pending_.isEmpty()) {
      std::swap(incoming_, pending_);
      pending_.resize(0);
      assemble(incoming_.data(), incoming_.size());
    }
    assembling_ = false;
  } else if (n == kDebug) {
    debug = readInteger(link);
  }
}

// --- the line assembler ---

// A CR, an LF or both end a line; empty lines are skipped. A line longer than the buffer is
// dropped whole, up to its line end, and the sentences after it are read as usual (the
// description's assembler lost the rest of the block, and with it valid sentences).
void JGeoFixObj::assemble(const uint8_t* bytes, int size) {
  if (lineLength < 0 || lineLength > kLineMax) lineLength = 0;
  // The length is kept in a local and the line terminated only where it is read: at a line end
  // and when the block is done.
  int length = lineLength;
  for (int i = 0; i < size; ++i) {
    const char c = static_cast<char>(bytes[i]);
    if (c != '\n' && c != '\r') {
      if (droppingLine) continue;
      if (length >= kLineMax) {  // a 200th character: the line does not fit
        droppingLine = true;
        length = 0;
        continue;
      }
      line[length++] = c;
      continue;
    }
    if (droppingLine) {
      droppingLine = false;
    } else if (length != 0) {
      line[length] = '\0';
      lineLength = length;
      handleLine();
    }
    length = 0;
  }
  lineLength = length;
  line[length] = '\0';
}

// --- checksums ---

void JGeoFixObj::handleLine() {
  if (checksumOf(line, lineLength) == Checksum::kWrong) {
    ++droppedSentences;
    if (debug != 0) JComponent::debug(("bad checksum: " + escaped(line, lineLength)).c_str());
    return;
  }
  if (debug != 0) JComponent::debug(static_cast<const char*>(line));
  handleSentence();
}

// The checksum covers the characters between the leading '$' (or '!') and the first '*'. A line
// with a '*' that does not start with either lost its start (a receiver plugged in mid-sentence,
// a dropped byte): it is not a sentence whose checksum could be right.
JGeoFixObj::Checksum JGeoFixObj::checksumOf(const char* text, int length) {
  const void* found = std::memchr(text, '*', static_cast<size_t>(length));
  if (!found) return Checksum::kNone;
  const int star = static_cast<int>(static_cast<const char*>(found) - text);
  if (length - star != 3 || (text[0] != '$' && text[0] != '!')) return Checksum::kWrong;
  const int high = hexValue(text[star + 1]), low = hexValue(text[star + 2]);
  if (high < 0 || low < 0) return Checksum::kWrong;
  unsigned sum = 0;
  for (int i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(text[i]);
  return static_cast<int>(sum) == high * 16 + low ? Checksum::kRight : Checksum::kWrong;
}

std::string JGeoFixObj::escaped(const char* text, int length) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c >= 0x7F || c == '\\') {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// --- sentences ---

void JGeoFixObj::handleSentence() {
  // The sentence is the text of the line: a NUL received inside it ends it there.
  const char* s = line;
  int n = static_cast<int>(strnlen(line, kLineSize - 1));
  if (anyTalker == 0) {
    if (startsWith(s, n, "$GP")) {
      s += 3;
      n -= 3;
    }
    if (startsWith(s, n, "GSV")) {
      satellites = numberAt(s, n, kSatellitesIndex);
      broadcast(kSatellites);
    } else if (startsWith(s, n, "GLL")) {
      readPosition(s, n);
    }
    return;
  }
  char talker[3] = "";
  if (n >= 3 && s[0] == '$') {
    for (const char* t : kTalkers) {
      if (s[1] == t[0] && s[2] == t[1]) {
        talker[0] = t[0];
        talker[1] = t[1];
        s += 3;
        n -= 3;
        break;
      }
    }
  }
  if (startsWith(s, n, "GSV")) {
    readSequence(s, n, talker);
    return;
  }
  // Any other sentence ends the cycle: the receiver has moved on to its next messages.
  endCycle();
  if (startsWith(s, n, "GLL")) readPosition(s, n);
}

// --- satellites in view, any talker ---

// A receiver reports either one sequence per satellite system, each with that system's count,
// or one sequence whose message numbers run on across the systems' talkers, each message with
// the total. A message continues the sequence before it when it has the same message count and
// satellites in view and a later number; any other message begins a sequence. A sequence begun
// by a talker (and signal) that already began one of this cycle starts the next cycle.
void JGeoFixObj::readSequence(const char* s, int n, const char* talker) {
  if (n < 4 || s[3] != ',') return;
  const int totalAt = 4, messageAt = nextField(s, n, totalAt), countAt = nextField(s, n, messageAt);
  const int total = fieldNumber(s, n, totalAt), number = fieldNumber(s, n, messageAt);
  if (total < 1 || number < 1 || number > total || countAt >= n) return;
  const int count = std::max(0, numberAt(s, n, countAt));
  // NMEA 4.10 adds a signal field after the satellites' groups of four fields: a receiver then
  // sends one sequence per signal of each system, and a satellite seen on two signals is one
  // satellite.
  int fields = 0;
  int end = n;
  if (const void* star = std::memchr(s, '*', static_cast<size_t>(n)))
    end = static_cast<int>(static_cast<const char*>(star) - s);
  for (int i = 3; i < end; ++i) fields += s[i] == ',';
  const char signal = fields > 3 && (fields - 3) % 4 == 1 ? s[end - 1] : '\0';

  if (cycleSize > 0) {
    Sequence& last = cycle[cycleSize - 1];
    if (total == last.total && count == last.count && number > last.last) {
      last.last = number;
      return;
    }
  }
  bool repeated = cycleSize == kMaxSequences;
  for (int k = 0; k < cycleSize && !repeated; ++k)
    repeated = std::strcmp(cycle[k].talker, talker) == 0 && cycle[k].signal == signal;
  if (repeated) endCycle();
  Sequence& added = cycle[cycleSize++];
  std::memcpy(added.talker, talker, sizeof added.talker);
  added.signal = signal;
  added.total = total;
  added.last = number;
  added.count = count;
}

// The total of the cycle: each talker's count (its largest over its signals), summed.
void JGeoFixObj::endCycle() {
  if (cycleSize == 0) return;
  long long sum = 0;
  for (int k = 0; k < cycleSize; ++k) {
    bool counted = false;
    int largest = cycle[k].count;
    for (int j = 0; j < cycleSize; ++j) {
      if (std::strcmp(cycle[j].talker, cycle[k].talker) != 0) continue;
      if (j < k) counted = true;
      largest = std::max(largest, cycle[j].count);
    }
    if (!counted) sum += largest;
  }
  cycleSize = 0;
  satellites = saturate(sum);
  broadcast(kSatellites);
}

int JGeoFixObj::numberAt(const char* s, int n, int at) {
  if (at >= n) return 0;
  int i = at;
  while (i < n && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  long long v = 0;
  for (; i < n && s[i] >= '0' && s[i] <= '9'; ++i) {
    if (v <= INT_MAX) v = v * 10 + (s[i] - '0');
  }
  if (negative) v = -v;
  return saturate(v);
}

// Fields: latitude, N or S, longitude, E or W, then others that are not read.
// A receiver without a fix sends the fields empty ($GPGLL,,,,,,V,N): nothing is published.
void JGeoFixObj::readPosition(const char* s, int n) {
  int i = 4, k = 0;
  if (i >= n || s[i] == ',') return;
  if (!copyField(s, n, i, latitudeText, k)) return;
  if (i + 3 >= n || s[i + 3] == ',') return;
  latitudeText[k] = ' ';
  latitudeText[k + 1] = i + 1 < n ? s[i + 1] : '\0';
  latitudeText[k + 2] = '\0';
  latitude = JString(static_cast<const char*>(latitudeText));
  broadcast(kLatitude);

  i += 3;
  if (!copyField(s, n, i, longitudeText, k)) return;
  longitudeText[k] = ' ';
  longitudeText[k + 1] = i + 1 < n ? s[i + 1] : '\0';
  longitudeText[k + 2] = '\0';
  longitude = JString(static_cast<const char*>(longitudeText));
  broadcast(kLongitude);
}

// ddmm.mmmm becomes dd mm.mmmm: at each '.', the two characters before it move one place to the
// right, a blank takes the place of the first and the '.' follows them. Positions in front of
// the buffer (a field with fewer than two characters before its '.') are neither written nor
// read: a blank stands for what would come from there.
bool JGeoFixObj::copyField(const char* s, int n, int& i, char* text, int& k) {
  k = 0;
  text[0] = '\0';
  for (;;) {
    if (i >= n) return false;  // the sentence ends inside the field
    const char c = s[i];
    if (c == ',') return true;
    text[k] = c;
    ++i;
    ++k;
    if (i > kMaxFieldIndex || k > kMaxFieldText) return false;
    if (c == '.') {
      text[k - 1] = k - 2 >= 0 ? text[k - 2] : ' ';
      if (k - 2 >= 0) text[k - 2] = k - 3 >= 0 ? text[k - 3] : ' ';
      if (k - 3 >= 0) text[k - 3] = ' ';
      text[k] = '.';
      ++k;
    }
    text[k] = '\0';
  }
}

// --- face ---

void JGeoFixObj::draw(JGraphics& g, int x, int y, int w, int h) { drawText(g, JString("GPS"), JRect(x, y, w, h)); }

LOOMWORK_REGISTER(JGeoFixObj)
