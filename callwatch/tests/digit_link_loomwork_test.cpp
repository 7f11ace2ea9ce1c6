// End to end: Callwatch's digit link sending to a JToneDigitObj in a harness.
#include "JToneDigitObj.h"
#include "testing/Harness.h"
#include "tests/DigitLinkFixture.h"

namespace {

class DigitLinkToLoomworkTest : public DigitLinkFixture {
protected:
  void SetUp() override {
    DigitLinkFixture::SetUp();
    receiver.port = 0;
    receiver.startup();
    ASSERT_TRUE(harness.runUntil([&] { return receiver.listeningPort() > 0; }, 2000));
    link.Setup().port = receiver.listeningPort();
    writeConnectFile("127.0.0.1\r\n");
  }

  // The character codes the receiver broadcast, in order.
  std::string heard() {
    std::string codes;
    for (const auto& b : harness.broadcastsOf(receiver))
      if (b.output == JToneDigitObj::kDigitValue) codes += static_cast<char>(b.value.integer());
    return codes;
  }

  JTestHarness harness;
  JToneDigitObj& receiver = harness.place<JToneDigitObj>("dtmf");
};

TEST_F(DigitLinkToLoomworkTest, EveryDigitArrivesAsItsKeysOutputInOrder) {
  const std::string digits = "0123456789*#550#*";
  // Each code is followed by its key's level going up; the key before it then goes down.
  Outputs expected;
  int previous = -1;
  for (char c : digits) {
    int k = JToneDigitObj::keyIndexOf(c);
    expected.emplace_back(JToneDigitObj::kDigitValue, static_cast<int>(c));
    expected.emplace_back(k, 65535);
    if (previous >= 0 && previous != k) expected.emplace_back(previous, 0);
    previous = k;
  }
  for (char c : digits) link.SendDigitToLoomwork(c);
  // The last digit's levels follow its code: wait for every broadcast, not only the codes.
  ASSERT_TRUE(harness.runUntil([&] { return harness.outputsOf(receiver).size() >= expected.size(); }, 3000));
  EXPECT_EQ(heard(), digits);
  EXPECT_EQ(harness.outputsOf(receiver), expected);
  EXPECT_TRUE(pauses.empty());
}

TEST_F(DigitLinkToLoomworkTest, ToneLettersAreCarriedButNotHeardAndANewCallIsHeardToo) {
  for (char c : std::string("1A2")) link.SendDigitToLoomwork(c);
  ASSERT_TRUE(harness.runUntil([&] { return heard().size() >= 2; }, 3000));
  link.EndDataToLoomwork();  // the call ends; the receiver listens again
  ASSERT_TRUE(harness.runUntil([&] { return receiver.listeningPort() > 0; }, 3000));

  // With port 0 the receiver listens anew on another port.
  link.Setup().port = receiver.listeningPort();
  link.SendDigitToLoomwork('3');
  // The code goes out before the key's level: wait for the level too.
  auto levelUp = [&] {
    for (const auto& b : harness.broadcastsOf(receiver))
      if (b.output == 3 && b.value.integer() == 65535) return true;
    return false;
  };
  ASSERT_TRUE(harness.runUntil([&] { return heard().size() >= 3 && levelUp(); }, 3000));
  EXPECT_EQ(heard(), "123");
  EXPECT_EQ(harness.readInt(receiver, 3), 65535);
}

}  // namespace
