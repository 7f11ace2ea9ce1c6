#include "PlayerFile.h"

#include "base/JString.h"
#include "loom/JWire.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

bool parseOutputTypes(const std::string& letters, std::vector<int>& types, std::string& error) {
  types.clear();
  if (letters.empty()) {
    error = "no outputs: write one letter (i, s or b) per output";
    return false;
  }
  if (letters.size() > static_cast<size_t>(kMaxPlayerOutputs)) {
    error = "at most " + std::to_string(kMaxPlayerOutputs) + " outputs";
    return false;
  }
  for (char c : letters) {
    switch (c) {
      case 'i': types.push_back(JIntegerData::id); break;
      case 's': types.push_back(JStringData::id); break;
      case 'b': types.push_back(JBytesData::id); break;
      default: error = "output type '" + escapeForMessage(std::string(1, c)) + "' is not one of i, s, b"; return false;
    }
  }
  return true;
}

bool parsePlayerText(const std::string& text, const std::vector<int>& types, std::vector<PlayerEvent>& events,
                     std::string& error) {
  events.clear();
  size_t pos = 0;
  long long lineNo = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string::npos ? text.size() : nl;
    ++lineNo;
    // Messages quote the file's fields, which may hold anything: escaped for the terminal.
    auto fail = [&](const std::string& what) {
      error = escapeForMessage("line " + std::to_string(lineNo) + ": " + what);
      events.clear();
      return false;
    };
    if (end - pos > kMaxPlayerLine) return fail("line longer than " + std::to_string(kMaxPlayerLine) + " bytes");
    std::string line = text.substr(pos, end - pos);
    pos = nl == std::string::npos ? text.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;

    size_t c1 = line.find(',');
    size_t c2 = c1 == std::string::npos ? std::string::npos : line.find(',', c1 + 1);
    if (c2 == std::string::npos) return fail("expected TIME_MS,OUTPUT,VALUE");
    long long t, out;
    if (!parseDecimal(line.substr(0, c1), 0, 1000LL * 3600 * 24 * 365, t))
      return fail("bad time \"" + line.substr(0, c1) + "\"");
    if (!parseDecimal(line.substr(c1 + 1, c2 - c1 - 1), 0, static_cast<long long>(types.size()) - 1, out))
      return fail("bad output \"" + line.substr(c1 + 1, c2 - c1 - 1) + "\" (the player has " +
                  std::to_string(types.size()) + " outputs)");
    JWireValue v;
    std::string why;
    if (!parseWireValue(line.substr(c2 + 1), types[static_cast<size_t>(out)], v, why)) return fail(why);
    events.push_back(PlayerEvent{t, static_cast<int>(out), std::move(v)});
  }
  return true;
}
