// Phone numbers: the three forms, text with and without a location, canonical text, parts.
#include <gtest/gtest.h>

#include <cstring>

#include "core/PhoneNumber.h"

namespace {

// Locations the tests put in place of the telephony location.
const char* g_country = nullptr;
const char* g_city = nullptr;
int g_lookups = 0;
long Location(char* country, char* city) {
  ++g_lookups;
  if (!g_country) return -1;
  std::strncpy(country, g_country, 7);
  std::strncpy(city, g_city, 7);
  return 0;
}

class PhoneNumberTest : public ::testing::Test {
protected:
  void SetUp() override {
    CPhoneNumber::SetLocationLookup(&Location);
    at(nullptr, nullptr);
  }
  void TearDown() override { CPhoneNumber::SetLocationLookup(nullptr); }
  void at(const char* country, const char* city) {
    g_country = country;
    g_city = city;
    g_lookups = 0;
  }
  CPhoneNumber number;
};

using Text = CPhoneNumber::Text;

TEST_F(PhoneNumberTest, ElevenDigitsStartingWithOneSplitIntoCountryAreaAndLocal) {
  at("44", "20");  // the leading 1 wins over the location
  number.SetFromText("14255550123");
  EXPECT_EQ(number.CountryCode(), Text("1"));
  EXPECT_EQ(number.AreaCode(), Text("425"));
  EXPECT_EQ(number.LocalNumber(), Text("5550123"));
  EXPECT_EQ(number.GetCanonical(), Text("+1 (425) 5550123"));
  EXPECT_EQ(number.GetDisplayable(), Text("1 (425) 5550123"));
}

TEST_F(PhoneNumberTest, TenDigitsTakeTheAreaOnlyInCountryOne) {
  at("1", "206");
  number.SetFromText("(425) 555-0123");
  EXPECT_EQ(number.CountryCode(), Text("1"));
  EXPECT_EQ(number.AreaCode(), Text("425"));
  EXPECT_EQ(number.LocalNumber(), Text("555-0123"));
  EXPECT_EQ(number.GetCanonical(), Text("+1 (425) 555-0123"));

  at("44", "20");
  number.SetFromText("(425) 555-0123");
  EXPECT_EQ(number.CountryCode(), Text("44"));
  EXPECT_EQ(number.AreaCode(), Text("20"));
  EXPECT_EQ(number.LocalNumber(), Text("425) 555-0123"));
}

TEST_F(PhoneNumberTest, LocationFillsShortNumbersButNotFiveDigitOnes) {
  at("1", "425");
  number.SetFromText("5550123");
  EXPECT_EQ(g_lookups, 1);
  EXPECT_EQ(number.GetCanonical(), Text("+1 (425) 5550123"));

  number.SetFromText("12345");
  EXPECT_EQ(g_lookups, 1);  // five digits: the location is not asked
  EXPECT_EQ(number.CountryCode(), std::nullopt);
  EXPECT_EQ(number.GetCanonical(), std::nullopt);
  EXPECT_EQ(number.GetDisplayable(), Text("12345"));

  at(nullptr, nullptr);  // no location service: no codes, no canonical form
  number.SetFromText("5550123");
  EXPECT_EQ(number.CountryCode(), std::nullopt);
  EXPECT_EQ(number.AreaCode(), std::nullopt);
  EXPECT_EQ(number.GetCanonical(), std::nullopt);
  EXPECT_EQ(number.GetDisplayable(), Text("5550123"));
}

TEST_F(PhoneNumberTest, CanonicalTextParsesBackIntoItsParts) {
  number.SetFromText("+1 (425) 5550123");
  EXPECT_EQ(number.CountryCode(), Text("1"));
  EXPECT_EQ(number.AreaCode(), Text("425"));
  EXPECT_EQ(number.LocalNumber(), Text("5550123"));
  EXPECT_EQ(number.GetCanonical(), Text("+1 (425) 5550123"));

  number.SetFromCanonical("+44 2079460000");
  EXPECT_EQ(number.CountryCode(), Text("44"));
  EXPECT_EQ(number.AreaCode(), std::nullopt);
  EXPECT_EQ(number.LocalNumber(), Text("2079460000"));
  EXPECT_EQ(number.GetCanonical(), Text("+44 2079460000"));
  EXPECT_EQ(g_lookups, 0);

  // Cut short anywhere: parts as far as they go, never past the end.
  for (const char* text : {"+", "+1", "+1 ", "+1 (", "+1 (42", "+1 (425)", "+1 (425) "}) {
    number.SetFromCanonical(text);
    EXPECT_EQ(number.LocalNumber(), std::nullopt) << text;
  }
}

TEST_F(PhoneNumberTest, DialableFormTurnsLettersIntoKeypadDigitsOnce) {
  number.SetFromText("+1 (425) 555-CALL");
  EXPECT_EQ(number.GetDialable(CPhoneNumber::kKeypadLetters), Text("+1 (425) 555-2255"));
  // Built once: a later request without a table gives the same text.
  EXPECT_EQ(number.GetDialable(nullptr), Text("+1 (425) 555-2255"));

  number.SetFromParts("", "", "flowers");  // no canonical form: the displayable one is dialled
  EXPECT_EQ(number.GetDialable(CPhoneNumber::kKeypadLetters), Text("3569377"));
  number.SetFromParts("", "", "wxyz abc");
  EXPECT_EQ(number.GetDialable(nullptr), Text("wxyz abc"));
}

TEST_F(PhoneNumberTest, TextsWithoutDigitsGiveNoFormAtAll) {
  at("1", "425");
  for (const char* text : {"", "none", "--"}) {
    number.SetFromText(text);
    EXPECT_EQ(number.GetCanonical(), std::nullopt) << text;
    EXPECT_EQ(number.GetDisplayable(), std::nullopt) << text;
    EXPECT_EQ(number.GetDialable(CPhoneNumber::kKeypadLetters), std::nullopt) << text;
  }
  number.SetFromText(nullptr);
  EXPECT_EQ(number.GetDisplayable(), std::nullopt);
}

TEST_F(PhoneNumberTest, PartsReplaceEverythingAndFormsFollowThem) {
  number.SetFromParts(44, "20", "7946 0000");
  EXPECT_EQ(number.GetCanonical(), Text("+44 (20) 7946 0000"));
  EXPECT_EQ(number.GetDisplayable(), Text("44 (20) 7946 0000"));
  number.SetFromParts("1", "", "5550123");  // an empty area stays absent
  EXPECT_EQ(number.AreaCode(), std::nullopt);
  EXPECT_EQ(number.GetCanonical(), Text("+1 5550123"));
  EXPECT_EQ(number.GetDisplayable(), Text("1 5550123"));
  number.SetFromParts("", "425", "");
  EXPECT_EQ(number.GetCanonical(), std::nullopt);
  EXPECT_EQ(number.GetDisplayable(), Text("(425) "));
}

}  // namespace
