#pragma once
// JVoiceCommandObj ("VoiceCommands"): spoken commands to outputs. Up to ten phrases, each with an
// output that is 1 while it was the last thing recognised, and the spoken digits 0 to 9, whose
// value goes to output 0. Enabling the module writes the phrases and the digit rule into a
// grammar text, has the recognizer load it, and from then on every finished utterance becomes a
// code (the digit, or 100 + i for phrase i) that selects the output to change.
//
// The recognizer, its grammar and the phrase sink are held once per library and shared by every
// instance: the instance that started the recognizer gets its results, a zero at any instance's
// "enabled" stops it. Utterances are decoded on a listening thread; their codes are applied on
// the host thread.
#include <memory>

#include "modules/Module.h"

namespace speech {
class SpeechEngines;
}

class JVoiceCommandObj : public JAddObj {
public:
  // Ports: the tags, once; the index names follow from them. Output kFirstPhrase + i is phrase
  // i + 1's.
  static constexpr const char* kInputTags[] = {"enabled"};
  static constexpr const char* kOutputTags[] = {"word",     "phrase 1", "phrase 2", "phrase 3", "phrase 4", "phrase 5",
                                                "phrase 6", "phrase 7", "phrase 8", "phrase 9", "phrase 10"};
  static constexpr int kEnabled = portIndex(kInputTags, "enabled");
  static constexpr int kWord = portIndex(kOutputTags, "word");
  static constexpr int kFirstPhrase = portIndex(kOutputTags, "phrase 1");
  static constexpr int kPhrases = 10;
  static constexpr int kFirstPhraseCode = 101;
  static constexpr int kLineChars = 100;  // one grammar line, newline included
  static constexpr int kGrammarChars = 1100;
  static constexpr int kMaxPhraseChars = 95;  // what fits a line after "110=" and the newline
  static constexpr int kParseChars = 128;
  // Utterances scoring below the reject level are dropped; 0 takes everything heard.
  static constexpr int kDefaultRejectLevel = 60;

  JVoiceCommandObj();
  JVoiceCommandObj(const JVoiceCommandObj&) = default;
  JVoiceCommandObj& operator=(const JVoiceCommandObj&) = default;
  ~JVoiceCommandObj() override;  // the recognizer stops first when this instance started it

  // --- host operations (properties and persistence come from the settings table) ---
  const char* className() const override { return "JVoiceCommandObj"; }
  JObject* clone() const override { return new JVoiceCommandObj(*this); }
  void close() override;
  void draw(JGraphics& g, int x, int y, int w, int h) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  void engine(int n, JLinkObj& link) override;

  // --- own operations ---
  std::unique_ptr<JString> createGrammar();
  void gotData(int code);
  // A finished utterance's code, handed to the host thread (at once when not in a diagram).
  void deliver(int code);

  // The library-wide recognizer: whether its grammar is loaded, whether it listens, and which
  // instance gets its results (nullptr when stopped).
  static bool recognizerRunning();
  static bool listening();
  static const JVoiceCommandObj* resultsGoTo();
  // Waits up to ms for the listening thread to end (its input ended); true when it has.
  static bool waitListenerDone(int ms);
  // The engines this instance starts the recognizer with; nullptr (the default): espeak-ng and
  // PocketSphinx. Not owned; copies keep them.
  void useEngines(speech::SpeechEngines* engines) { engines_ = engines; }

  // --- fields (initial values of the settings in the settings table) ---
  int enabled = 0;
  JString phrases[kPhrases];
  int digitsEnabled;
  int phraseActive[kPhrases] = {};
  JAtomic<int> debug;        // also read by the listening thread
  JAtomic<int> rejectLevel;  // 0..100, also read by the listening thread

private:
  bool startRecognizer();  // true when the grammar is loaded and may be activated
  speech::SpeechEngines& engines() const;

  speech::SpeechEngines* engines_ = nullptr;
};
