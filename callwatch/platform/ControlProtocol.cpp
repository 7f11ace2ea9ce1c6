#include "platform/ControlProtocol.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseMs(const std::string& text, int most, int* value) {
  if (text.empty() || text.size() > 9) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > most) return false;
  *value = v;
  return true;
}

bool ValidDigits(const std::string& digits) {
  for (char c : digits)
    if (!((c >= '0' && c <= '9') || c == '*' || c == '#' || (c >= 'A' && c <= 'D'))) return false;
  return true;
}

}  // namespace

std::string PercentEncode(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c <= ' ' || c == '%' || c == '=' || c >= 0x7F) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool PercentDecode(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *out += text[i];
      continue;
    }
    if (text.size() - i < 3) return false;
    int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return false;
    *out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

bool ParseCallRequest(const std::string& line, CCallRequest* request, std::string* error) {
  *request = CCallRequest{};
  if (line.size() > kMostControlLine) {
    *error = "request too long";
    return false;
  }
  std::vector<std::string> words;
  std::string word;
  for (char c : line) {
    if (c == ' ') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else if (c == '\n' || c == '\r' || c == '\0') {
      *error = "control characters in the request";
      return false;
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  if (words.empty() || words[0] != "call") {
    *error = "unknown request";
    return false;
  }
  bool haveLine = false;
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string& w = words[i];
    const size_t eq = w.find('=');
    const std::string key = w.substr(0, eq);
    const std::string shown = key.substr(0, 32);  // an error line stays short
    std::string value;
    if (eq != std::string::npos && !PercentDecode(w.substr(eq + 1), &value)) {
      *error = "bad escape in " + shown;
      return false;
    }
    const bool hasValue = eq != std::string::npos;
    bool ok = true;
    if (key == "blocked" && !hasValue) request->blocked = true;
    else if (key == "outbound" && !hasValue) request->outbound = true;
    else if (key == "answer-elsewhere" && !hasValue) request->answerElsewhere = true;
    else if (key == "line" && hasValue) ok = haveLine = ParseMs(value, 1000, &request->line);
    else if (key == "name" && hasValue) ok = (request->name = value).size() <= kMostCallerText;
    else if (key == "number" && hasValue) ok = (request->number = value).size() <= kMostCallerText;
    else if (key == "rings" && hasValue) ok = ParseMs(value, kMostRings, &request->rings);
    else if (key == "ring-ms" && hasValue) ok = ParseMs(value, kMostMs, &request->ringMs);
    else if (key == "digit-ms" && hasValue) ok = ParseMs(value, kMostMs, &request->digitMs);
    else if (key == "hangup-ms" && hasValue) ok = ParseMs(value, kMostMs, &request->hangupMs);
    else if (key == "audio" && hasValue) ok = !(request->audio = value).empty() && value[0] == '/';
    else if (key == "digits" && hasValue) ok = (request->digits = value).size() <= kMostDigits && ValidDigits(value);
    else {
      *error = "unknown field " + shown;
      return false;
    }
    if (!ok) {
      *error = "bad value for " + shown;
      return false;
    }
  }
  if (!haveLine) {
    *error = "no line given";
    return false;
  }
  return true;
}

std::string FormatCallRequest(const CCallRequest& r) {
  std::ostringstream out;
  out << "call line=" << r.line;
  if (!r.name.empty()) out << " name=" << PercentEncode(r.name);
  if (!r.number.empty()) out << " number=" << PercentEncode(r.number);
  if (r.blocked) out << " blocked";
  if (r.outbound) out << " outbound";
  if (r.answerElsewhere) out << " answer-elsewhere";
  out << " rings=" << r.rings << " ring-ms=" << r.ringMs;
  if (!r.audio.empty()) out << " audio=" << PercentEncode(r.audio);
  if (!r.digits.empty()) out << " digits=" << PercentEncode(r.digits);
  out << " digit-ms=" << r.digitMs << " hangup-ms=" << r.hangupMs;
  return out.str();
}

std::string ControlSocketPath() {
  if (const char* env = std::getenv("PHONESIM_SOCKET"); env && *env) return env;
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) return std::string(run) + "/phonesim.sock";
  return "/tmp/phonesim-" + std::to_string(::getuid()) + ".sock";
}

bool ControlSocketInUse(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool live = ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(probe);
  return live;
}
