#include "JGeoFixObj.h"

#include <climits>
#include <utility>
#include <cstring>

namespace {
const JPortTable kInputs{{kSideLeft, 0.1, 0.8, portsOf(JGeoFixObj::kInputTags, 0, 1, {JBytesData::id})},
                         {kSideTop, 0.1, 0.8, portsOf(JGeoFixObj::kInputTags, 1, 1)}};
const JPortTable kOutputs{
    {kSideRight, 0.25, 0.5, portsOf(JGeoFixObj::kOutputTags, {JStringData::id, JStringData::id, JIntegerData::id})}};

bool startsWith(const char* s, int n, const char* prefix) {
  const int p = static_cast<int>(std::strlen(prefix));
  return n >= p && std::memcmp(s, prefix, static_cast<size_t>(p)) == 0;
}
}  // namespace

JGeoFixObj::JGeoFixObj() {
  setPorts(kInputs, kOutputs);
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
  for (int i = 0; i < size; ++i) {
    const char c = static_cast<char>(bytes[i]);
    if (c != '\n' && c != '\r') {
      if (droppingLine) continue;
      if (lineLength >= kLineMax) {  // a 200th character: the line does not fit
        droppingLine = true;
        lineLength = 0;
        line[0] = '\0';
        continue;
      }
      line[lineLength++] = c;
      line[lineLength] = '\0';
      continue;
    }
    if (droppingLine) {
      droppingLine = false;
    } else if (lineLength != 0) {
      if (debug != 0) JComponent::debug(static_cast<const char*>(line));
      handleSentence();
    }
    lineLength = 0;
    line[0] = '\0';
  }
}

// --- sentences ---

void JGeoFixObj::handleSentence() {
  // The sentence is the text of the line: a NUL received inside it ends it there.
  const char* s = line;
  int n = static_cast<int>(strnlen(line, kLineSize - 1));
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
void JGeoFixObj::readPosition(const char* s, int n) {
  int i = 4, k = 0;
  if (!copyField(s, n, i, latitudeText, k)) return;
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
