#pragma once
// A telephone number split into country code, area code and local number, written back in three
// forms: canonical ("+1 (425) 5550123", for the log and the telephony interface), displayable and
// dialable (letters turned into keypad digits). Missing codes come from the telephony location.
#include <optional>
#include <string>

class CPhoneNumber {
public:
  using Text = std::optional<std::string>;
  // Fills the 8-byte country and city code buffers; negative when there is no location.
  using LocationLookup = long (*)(char* countryCode, char* cityCode);

  // One digit per letter A to Z.
  static const char* const kKeypadLetters;

  CPhoneNumber();
  virtual ~CPhoneNumber();

  virtual Text GetCanonical();
  virtual Text GetDisplayable();
  // Built once: later requests return the first result whatever table they pass.
  virtual Text GetDialable(const char* letterTable);
  virtual void SetFromText(const char* text);
  virtual void SetFromParts(int countryCode, const char* areaCode, const char* localNumber);
  virtual void SetFromParts(const char* countryCode, const char* areaCode, const char* localNumber);
  virtual void SetFromCanonical(const char* text);

  const Text& CountryCode() const { return m_country; }
  const Text& AreaCode() const { return m_area; }
  const Text& LocalNumber() const { return m_local; }

  // Where set-from-text finds the location; the telephony library's by default.
  static void SetLocationLookup(LocationLookup lookup);

private:
  void Clear();
  void DropForms();

  Text m_country, m_area, m_local;
  Text m_canonical, m_displayable, m_dialable;
  bool m_canonicalBuilt = false, m_displayableBuilt = false, m_dialableBuilt = false;
};
