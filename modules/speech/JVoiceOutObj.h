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
  static constexpr int kPhrases = 10;
  static constexpr int kSpeakerNumber = 42;  // the caller's mark handed to the queue with each text
  static constexpr int kMaxSpokenChars = 1023;

  JVoiceOutObj();
  JVoiceOutObj(const JVoiceOutObj&) = default;
  JVoiceOutObj& operator=(const JVoiceOutObj&) = default;
  ~JVoiceOutObj() override;  // the queue stops first when this instance built it

  // --- host operations ---
  void writeContent(JOutputStream& os) override;
  void readContent(JDictionary& dict) override;
  const char* className() const override { return "JVoiceOutObj"; }
  JObject* clone() const override { return new JVoiceOutObj(*this); }
  void close() override;
  JArray getProperties() override;
  bool updateProperty(JProperty& p) override;
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

  // --- fields ---
  int phraseIndex = 0;
  int enabled = 0;
  JString phrases[kPhrases];
  int isMale = 1;

private:
  speech::SpeechEngines& engines() const;

  speech::SpeechEngines* engines_ = nullptr;
};
