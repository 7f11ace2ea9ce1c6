#pragma once
// JVoiceOutObj ("TTS"): speaks one of ten stored phrases when its number arrives at "phrase",
// while "enabled" is nonzero, with the voice "MALE" or "FEMALE" as isMale says.
//
// The speech queue with its two voices is held once per library: the last instance to enable
// builds the queue all instances speak through, and a zero at any instance's "enabled" removes
// it. The queue speaks on a thread of its own, so the host thread never waits for a phrase.
#include "modules/Module.h"

namespace speech {
class SpeechEngines;
}

class JVoiceOutObj : public JAddObj {
public:
  // Ports: the tags, once; the index names follow from them.
  static constexpr const char* kInputTags[] = {"phrase", "enabled"};
  static constexpr int kPhrase = portIndex(kInputTags, "phrase");  // which phrase to speak
  static constexpr int kEnabled = portIndex(kInputTags, "enabled");
  static constexpr int kPhrases = 10;
  static constexpr int kSpeakerNumber = 42;  // the caller's mark handed to the queue with each text
  static constexpr int kMaxSpokenChars = 1023;

  JVoiceOutObj();
  JVoiceOutObj(const JVoiceOutObj&) = default;
  JVoiceOutObj& operator=(const JVoiceOutObj&) = default;
  ~JVoiceOutObj() override;  // the queue stops first when this instance built it

  // --- host operations (properties and persistence come from the settings table) ---
  const char* className() const override { return "JVoiceOutObj"; }
  JObject* clone() const override { return new JVoiceOutObj(*this); }
  void close() override;
  void draw(JGraphics& g, int x, int y, int w, int h) override;
  void engine(int n, JLinkObj& link) override;

  // --- own operations ---
  bool createAndPopulateQueue();
  // The library-wide queue: whether one exists, and waiting until it has spoken everything.
  static bool hasQueue();
  static bool waitQueueIdle(int ms);
  // The engines this instance builds the queue with; nullptr (the default): espeak-ng. Not
  // owned; copies keep them.
  void useEngines(speech::SpeechEngines* engines) { engines_ = engines; }

  // --- fields (initial values of the settings in the settings table) ---
  int phraseIndex = 0;
  int enabled = 0;
  JString phrases[kPhrases];
  int isMale;

private:
  speech::SpeechEngines& engines() const;

  speech::SpeechEngines* engines_ = nullptr;
};
