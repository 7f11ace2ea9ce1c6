// CPhoneNumber's reading of caller-ID and typed numbers: any text, with or without a location,
// gives forms that hold together and never reads past what it was given.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/PhoneNumber.h"

namespace {
// A location that fills both 8-byte buffers to the brim, terminator or not.
char g_country[8], g_city[8];
bool g_haveLocation = false;
long Location(char* country, char* city) {
  if (!g_haveLocation) return -1;
  std::memcpy(country, g_country, 8);
  std::memcpy(city, g_city, 8);
  return 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CPhoneNumber::SetLocationLookup(&Location);
  // First byte: whether there is a location; the next 16: its codes; the rest: the text.
  g_haveLocation = size > 0 && (data[0] & 1);
  for (int i = 0; i < 8; ++i) {
    g_country[i] = size > 1u + i ? static_cast<char>(data[1 + i]) : '1';
    g_city[i] = size > 9u + i ? static_cast<char>(data[9 + i]) : '2';
  }
  const std::string text = size > 17 ? std::string(reinterpret_cast<const char*>(data) + 17, size - 17) : std::string();
  CPhoneNumber number;
  number.SetFromText(text.c_str());
  auto canonical = number.GetCanonical();
  if (canonical && ((*canonical)[0] != '+' || !number.CountryCode() || !number.LocalNumber())) std::abort();
  auto displayable = number.GetDisplayable();
  if (!displayable && (number.CountryCode() || number.AreaCode() || number.LocalNumber())) std::abort();
  auto dialable = number.GetDialable(CPhoneNumber::kKeypadLetters);
  if (dialable) {
    for (char c : *dialable)
      if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) std::abort();
    if (dialable->size() != (canonical ? canonical->size() : displayable->size())) std::abort();
  }
  // Parts never come from outside the text and the location.
  if (number.LocalNumber() && number.LocalNumber()->size() > text.size()) std::abort();
  number.SetFromCanonical(text.c_str());
  number.GetCanonical();
  number.GetDisplayable();
  return 0;
}
