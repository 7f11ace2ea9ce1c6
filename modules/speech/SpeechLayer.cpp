#include "SpeechLayer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/JComponent.h"

namespace speech {

// --- texts ---

namespace {
bool isWordChar(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '\'' || c >= 0x80; }
}  // namespace

std::string normalise(const std::string& text) {
  std::string out;
  std::string word;
  auto flush = [&] {
    // Apostrophes only count inside a word: quotes around it are punctuation.
    size_t b = word.find_first_not_of('\'');
    size_t e = word.find_last_not_of('\'');
    if (b != std::string::npos) {
      if (!out.empty()) out += ' ';
      out += word.substr(b, e - b + 1);
    }
    word.clear();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if (c == '(' && !word.empty()) {
      // "the(2)": an alternative pronunciation of "the".
      size_t close = text.find(')', i);
      bool mark = close != std::string::npos && close > i + 1;
      for (size_t k = i + 1; mark && k < close; ++k) mark = text[k] >= '0' && text[k] <= '9';
      if (mark) {
        i = close;
        continue;
      }
    }
    if (isWordChar(c)) {
      word += static_cast<char>(c);
    } else {
      flush();
    }
  }
  flush();
  return out;
}

std::vector<std::string> wordsOf(const std::string& normalised) {
  std::vector<std::string> words;
  std::istringstream in(normalised);
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

// --- grammar ---

const char* const GrammarCompiler::kDigitWords[10] = {"zero", "one", "two",   "three", "four",
                                                      "five", "six", "seven", "eight", "nine"};

bool GrammarCompiler::compile(const std::string& text, std::string& why) {
  compiled_ = false;
  digits_ = false;
  phrases_.clear();
  if (text.size() > kMaxText) {
    why = "grammar text longer than " + std::to_string(kMaxText) + " bytes";
    return false;
  }
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  if (lines.size() > static_cast<size_t>(kMaxLines)) {
    why = "grammar text of more than " + std::to_string(kMaxLines) + " lines";
    return false;
  }
  if (lines.empty() || lines[0] != "[(Commands)]") {
    why = "grammar text does not start with [(Commands)]";
    return false;
  }
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    if (l.empty()) continue;
    if (l == "=<0..9>") {
      digits_ = true;
      continue;
    }
    size_t eq = l.find('=');
    bool numbered = eq > 0 && eq != std::string::npos && eq <= 4;
    for (size_t k = 0; numbered && k < eq; ++k) numbered = l[k] >= '0' && l[k] <= '9';
    if (!numbered) {
      why = "grammar line " + std::to_string(i + 1) + " not understood: " + l.substr(0, 40);
      return false;
    }
    int command = std::stoi(l.substr(0, eq));
    std::string words = normalise(l.substr(eq + 1));
    if (words.empty()) {
      why = "phrase " + std::to_string(command) + " has no words";
      return false;
    }
    phrases_.push_back({command, words});
  }
  compiled_ = true;
  return true;
}

std::vector<std::string> GrammarCompiler::words() const {
  std::vector<std::string> all;
  auto add = [&](const std::string& w) {
    for (const auto& a : all)
      if (a == w) return;
    all.push_back(w);
  };
  if (digits_)
    for (const char* d : kDigitWords) add(d);
  for (const auto& p : phrases_)
    for (const auto& w : wordsOf(p.words)) add(w);
  return all;
}

std::string GrammarCompiler::jsgf() const {
  std::vector<std::string> alternatives;
  if (digits_)
    for (const char* d : kDigitWords) alternatives.emplace_back(d);
  for (const auto& p : phrases_) alternatives.push_back(p.words);
  if (alternatives.empty()) return std::string();
  std::string g = "#JSGF V1.0;\ngrammar commands;\npublic <command> = ";
  for (size_t i = 0; i < alternatives.size(); ++i) {
    if (i) g += " | ";
    g += alternatives[i];
  }
  g += ";\n";
  return g;
}

bool GrammarCompiler::parse(const std::string& utterance, int& command, std::string& parseText,
                            bool& hasParseText) const {
  if (!compiled_) return false;
  const std::string said = normalise(utterance);
  if (said.empty()) return false;
  if (digits_) {
    for (int d = 0; d < 10; ++d) {
      if (said == kDigitWords[d]) {
        command = 0;
        parseText = std::to_string(d);
        hasParseText = true;
        return true;
      }
    }
  }
  for (const auto& p : phrases_) {
    if (said == p.words) {
      command = p.command;
      parseText.clear();
      hasParseText = false;
      return true;
    }
  }
  return false;
}

// --- engines in use ---

SpeechEngines& realEngines();  // RealEngines.cpp

namespace {
std::atomic<SpeechEngines*> installed{nullptr};
}

SpeechEngines& engines() {
  SpeechEngines* e = installed.load();
  return e ? *e : realEngines();
}

void installEngines(SpeechEngines* e) { installed.store(e); }

// --- the speech queue ---

SpeechQueue::SpeechQueue(JObject* owner) : owner_(owner) {}

SpeechQueue::~SpeechQueue() { stop(); }

bool SpeechQueue::start() {
  try {
    return worker_.start(owner_, [this] { run(); }) || worker_.isAlive();
  } catch (const std::exception&) {
    return false;  // no thread to be had
  }
}

bool SpeechQueue::registerAudio(std::shared_ptr<AudioDestination> audio) {
  if (!audio) return false;
  std::lock_guard<std::mutex> g(mutex_);
  audio_.push_back(std::move(audio));
  return true;
}

bool SpeechQueue::addVoice(const std::string& name, std::unique_ptr<Synthesizer> engine) {
  if (!engine || name.empty()) return false;
  std::lock_guard<std::mutex> g(mutex_);
  voices_[name] = std::shared_ptr<Synthesizer>(std::move(engine));
  return true;
}

bool SpeechQueue::hasVoice(const std::string& name) const {
  std::lock_guard<std::mutex> g(mutex_);
  return voices_.count(name) != 0;
}

bool SpeechQueue::speak(const std::string& text, const std::string& voice, int number) {
  if (text.empty()) return false;
  {
    std::lock_guard<std::mutex> g(mutex_);
    if (stopped_ || !worker_.isAlive() || voices_.count(voice) == 0 || pending_.size() >= kMaxPending) return false;
    // Cut at a character boundary: a UTF-8 sequence is never split.
    size_t n = std::min(text.size(), kMaxText);
    while (n < text.size() && n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    pending_.push_back({text.substr(0, n), voice, number});
  }
  changed_.notify_all();
  return true;
}

bool SpeechQueue::waitIdle(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return pending_.empty() && !busy_; });
}

void SpeechQueue::stop() {
  {
    std::lock_guard<std::mutex> g(mutex_);
    stopped_ = true;
  }
  worker_.stop([this] { changed_.notify_all(); });
  size_t dropped = 0;
  {
    std::lock_guard<std::mutex> g(mutex_);
    dropped = pending_.size();
    pending_.clear();
    busy_ = false;
  }
  changed_.notify_all();
  if (dropped) JComponent::debugf("%zu queued texts not spoken", dropped);
}

void SpeechQueue::run() {
  for (;;) {
    Item item;
    std::shared_ptr<Synthesizer> voice;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stopped_ || !pending_.empty(); });
      if (stopped_) return;
      item = std::move(pending_.front());
      pending_.pop_front();
      auto it = voices_.find(item.voice);
      if (it != voices_.end()) voice = it->second;
      busy_ = true;
    }
    std::string why;
    if (voice && !voice->speak(item.text, why)) JComponent::debugf("speaking: %s", why.c_str());
    {
      std::lock_guard<std::mutex> g(mutex_);
      busy_ = false;
    }
    changed_.notify_all();
  }
}

// --- samples ---

std::vector<int16_t> resample(const std::vector<int16_t>& in, int from, int to) {
  if (from <= 0 || to <= 0 || from == to || in.empty()) return in;
  constexpr int kHalf = 16;  // taps on each side
  const double pi = 3.14159265358979323846;
  const double step = static_cast<double>(from) / to;
  const double cutoff = 0.95 * std::min(1.0, 1.0 / step);  // of the input's Nyquist frequency
  const size_t outCount = static_cast<size_t>(static_cast<double>(in.size()) / step);
  std::vector<int16_t> out(outCount);
  for (size_t i = 0; i < outCount; ++i) {
    const double t = static_cast<double>(i) * step;
    const long centre = static_cast<long>(t);
    double sum = 0, weights = 0;
    for (long k = centre - kHalf + 1; k <= centre + kHalf; ++k) {
      const double x = t - static_cast<double>(k);
      const double arg = pi * cutoff * x;
      const double sinc = std::abs(x) < 1e-9 ? 1.0 : std::sin(arg) / arg;
      const double window = 0.5 + 0.5 * std::cos(pi * x / kHalf);
      const double w = cutoff * sinc * (std::abs(x) < kHalf ? window : 0.0);
      weights += w;
      if (k >= 0 && k < static_cast<long>(in.size())) sum += w * in[static_cast<size_t>(k)];
    }
    // Normalised by the weights: a constant signal stays constant, also near the ends.
    const double v = sum / (weights != 0 ? weights : 1);
    out[i] = static_cast<int16_t>(std::max(-32768.0, std::min(32767.0, std::round(v))));
  }
  return out;
}

// --- WAVE files ---

namespace {
void put16(std::string& s, unsigned v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& s, unsigned long v) {
  put16(s, static_cast<unsigned>(v & 0xFFFF));
  put16(s, static_cast<unsigned>((v >> 16) & 0xFFFF));
}
unsigned get16(const std::string& s, size_t at) {
  return static_cast<unsigned char>(s[at]) | (static_cast<unsigned>(static_cast<unsigned char>(s[at + 1])) << 8);
}
unsigned long get32(const std::string& s, size_t at) {
  return get16(s, at) | (static_cast<unsigned long>(get16(s, at + 2)) << 16);
}
constexpr size_t kMaxWaveBytes = 256u << 20;
}  // namespace

bool writeWave(const std::string& path, const std::vector<int16_t>& samples, int rate, std::string& why) {
  const unsigned long data = samples.size() * 2;
  std::string h = "RIFF";
  put32(h, 36 + data);
  h += "WAVEfmt ";
  put32(h, 16);
  put16(h, 1);  // PCM
  put16(h, 1);  // mono
  put32(h, static_cast<unsigned long>(rate));
  put32(h, static_cast<unsigned long>(rate) * 2);
  put16(h, 2);
  put16(h, 16);
  h += "data";
  put32(h, data);
  std::string body;
  body.reserve(data);
  for (int16_t s : samples) put16(body, static_cast<uint16_t>(s));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    why = path + ": " + std::strerror(errno);
    return false;
  }
  out << h << body;
  out.close();
  if (!out) {
    why = path + ": write failed";
    return false;
  }
  return true;
}

bool parseWave(const std::string& b, std::vector<int16_t>& samples, int& rate, std::string& why) {
  if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) {
    why = "not a RIFF WAVE file";
    return false;
  }
  bool haveFormat = false;
  size_t at = 12;
  while (at + 8 <= b.size()) {
    const std::string id = b.substr(at, 4);
    unsigned long size = get32(b, at + 4);
    size_t body = at + 8;
    size_t avail = b.size() - body;
    if (id == "fmt ") {
      if (size < 16 || size > avail) {
        why = "bad fmt chunk";
        return false;
      }
      unsigned format = get16(b, body), channels = get16(b, body + 2), bits = get16(b, body + 14);
      rate = static_cast<int>(get32(b, body + 4));
      if (format != 1 || channels != 1 || bits != 16) {
        why = "not 16-bit mono PCM (format " + std::to_string(format) + ", " + std::to_string(channels) +
              " channels, " + std::to_string(bits) + " bits)";
        return false;
      }
      haveFormat = true;
    } else if (id == "data") {
      if (!haveFormat) {
        why = "data before fmt";
        return false;
      }
      // A recorder that never finished its header leaves the size too large: take what is there.
      size_t n = std::min<size_t>(size, avail) / 2;
      samples.resize(n);
      for (size_t i = 0; i < n; ++i) samples[i] = static_cast<int16_t>(get16(b, body + 2 * i));
      return true;
    }
    if (size > avail) break;
    at = body + size + (size & 1);
  }
  why = haveFormat ? "no data chunk" : "no fmt chunk";
  return false;
}

bool readWave(const std::string& path, std::vector<int16_t>& samples, int& rate, std::string& why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = path + ": " + std::strerror(errno);
    return false;
  }
  std::string bytes;
  char buf[65536];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    bytes.append(buf, static_cast<size_t>(in.gcount()));
    if (bytes.size() > kMaxWaveBytes) {
      why = path + ": larger than " + std::to_string(kMaxWaveBytes >> 20) + " MiB";
      return false;
    }
  }
  if (!parseWave(bytes, samples, rate, why)) {
    why = path + ": " + why;
    return false;
  }
  return true;
}

}  // namespace speech
