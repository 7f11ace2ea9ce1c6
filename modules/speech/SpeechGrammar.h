#pragma once
// The command recognizer's grammar: the grammar text the module writes, read and checked, turned
// into JSGF for the recognizer, and what the recognizer heard mapped back to a command.
#include <cstddef>
#include <string>
#include <vector>

namespace speech {

// A text as the recognizer matches it: lower case, punctuation dropped, words split at blanks and
// joined by one space. An apostrophe inside a word is kept ("don't"); a pronunciation mark that
// PocketSphinx puts after a word ("the(2)") is dropped.
std::string normalise(const std::string& text);
std::vector<std::string> wordsOf(const std::string& normalised);

// The grammar text of the command recognizer, read and checked: a header line "[(Commands)]",
// at most one digits line "=<0..9>" and numbered phrase lines "N=text". Digits are spoken as the
// words "zero" to "nine".
class GrammarCompiler {
public:
  static constexpr int kMaxLines = 64;
  static constexpr size_t kMaxText = 4096;

  struct Phrase {
    int command;
    std::string words;  // normalised
  };

  // False with the reason when the text is not such a grammar. A phrase line without words is
  // refused: nothing could ever match it.
  bool compile(const std::string& text, std::string& why);
  bool compiled() const { return compiled_; }

  // Every word the grammar uses, once each, in order of first use.
  std::vector<std::string> words() const;
  // The grammar in JSGF for PocketSphinx: one public rule of every digit word and phrase.
  std::string jsgf() const;
  // The command an utterance stands for. A digit gives command 0 and the digit as parse text; a
  // phrase gives its line number and no parse text (hasParseText false). False when the
  // utterance is nothing in the grammar.
  bool parse(const std::string& utterance, int& command, std::string& parseText, bool& hasParseText) const;

  bool digits() const { return digits_; }
  const std::vector<Phrase>& phrases() const { return phrases_; }

  static const char* const kDigitWords[10];

private:
  bool compiled_ = false;
  bool digits_ = false;
  std::vector<Phrase> phrases_;
};

}  // namespace speech
