#include "SpeechGrammar.h"

#include <sstream>

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

}  // namespace speech
