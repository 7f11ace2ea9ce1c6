#include "core/PhoneNumber.h"

#include <cctype>
#include <cstring>

#include "core/TapiBinding.h"

const char* const CPhoneNumber::kKeypadLetters = "22233344455566677778889999";

namespace {

CPhoneNumber::LocationLookup g_lookup = nullptr;

CPhoneNumber::Text NonEmpty(const char* text) {
  if (!text || !*text) return std::nullopt;
  return std::string(text);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

CPhoneNumber::CPhoneNumber() = default;
CPhoneNumber::~CPhoneNumber() = default;

void CPhoneNumber::SetLocationLookup(LocationLookup lookup) { g_lookup = lookup; }

void CPhoneNumber::DropForms() {
  m_canonical.reset();
  m_displayable.reset();
  m_dialable.reset();
  m_canonicalBuilt = m_displayableBuilt = m_dialableBuilt = false;
}

void CPhoneNumber::Clear() {
  m_country.reset();
  m_area.reset();
  m_local.reset();
  DropForms();
}

CPhoneNumber::Text CPhoneNumber::GetCanonical() {
  if (!m_canonicalBuilt) {
    m_canonicalBuilt = true;
    if (m_country && m_local)
      m_canonical = m_area ? "+" + *m_country + " (" + *m_area + ") " + *m_local : "+" + *m_country + " " + *m_local;
  }
  return m_canonical;
}

CPhoneNumber::Text CPhoneNumber::GetDisplayable() {
  if (!m_displayableBuilt) {
    m_displayableBuilt = true;
    if (m_country || m_area || m_local) {
      std::string text;
      if (m_country) text += *m_country + " ";
      if (m_area) text += "(" + *m_area + ") ";
      if (m_local) text += *m_local;
      m_displayable = text;
    }
  }
  return m_displayable;
}

CPhoneNumber::Text CPhoneNumber::GetDialable(const char* letterTable) {
  if (!m_dialableBuilt) {
    m_dialableBuilt = true;
    Text form = GetCanonical();
    if (!form) form = GetDisplayable();
    if (form && letterTable) {
      for (char& c : *form) {
        int upper = std::toupper(static_cast<unsigned char>(c));
        if (upper >= 'A' && upper <= 'Z') c = letterTable[upper - 'A'];
      }
    }
    m_dialable = form;
  }
  return m_dialable;
}

void CPhoneNumber::SetFromText(const char* text) {
  Clear();
  if (!text || !*text) return;
  if (text[0] == '+') {
    SetFromCanonical(text);
    return;
  }
  const size_t length = std::strlen(text);
  size_t digits = 0;
  size_t firstDigits[5] = {0, 0, 0, 0, 0};
  for (size_t i = 0; i < length; ++i) {
    if (!IsDigit(text[i])) continue;
    if (digits < 5) firstDigits[digits] = i;
    ++digits;
  }
  if (digits > 5) {
    char country[8] = {0}, city[8] = {0};
    LocationLookup lookup = g_lookup ? g_lookup : TapiGetLocationInfo;
    if (lookup(country, city) >= 0) {
      country[7] = city[7] = 0;  // the buffers are the caller's bound, whatever was written
      m_country = NonEmpty(country);
      m_area = NonEmpty(city);
    }
  }
  size_t skipped = 0;
  if (digits == 11 && text[firstDigits[0]] == '1') {
    m_country = "1";
    skipped = 1;
  }
  if (digits - skipped == 10 && m_country && *m_country == "1") {
    m_area = std::string{text[firstDigits[skipped]], text[firstDigits[skipped + 1]], text[firstDigits[skipped + 2]]};
    skipped += 3;
  }
  if (digits > skipped) m_local = std::string(text + firstDigits[skipped]);
}

void CPhoneNumber::SetFromParts(int countryCode, const char* areaCode, const char* localNumber) {
  SetFromParts(std::to_string(countryCode).c_str(), areaCode, localNumber);
}

void CPhoneNumber::SetFromParts(const char* countryCode, const char* areaCode, const char* localNumber) {
  Clear();
  m_country = NonEmpty(countryCode);
  m_area = NonEmpty(areaCode);
  m_local = NonEmpty(localNumber);
}

void CPhoneNumber::SetFromCanonical(const char* text) {
  Clear();
  if (!text || text[0] != '+') return;
  const char* p = text + 1;
  const char* start = p;
  while (IsDigit(*p)) ++p;
  if (p > start) m_country = std::string(start, p);
  if (*p) ++p;  // the separator after the country code
  if (*p == '(') {
    start = ++p;
    while (IsDigit(*p)) ++p;
    if (p > start) m_area = std::string(start, p);
    for (int i = 0; i < 2 && *p; ++i) ++p;  // ")" and the separator after it
  }
  if (*p) m_local = std::string(p);
}
