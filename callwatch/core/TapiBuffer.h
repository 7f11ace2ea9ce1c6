#pragma once
// One variable-size telephony structure (total, needed and used size first) and the getter that
// fills it. The fetch grows the buffer until the structure fits, then trims it to what was used.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "base/TapiDefs.h"

class CTapiBuffer {
public:
  enum class Kind { None, LineDevCaps, CallInfo, NewCalls, LineID, PhoneDevCaps, PhoneID };
  using Getter = std::function<LONG(VARHEADER* buffer)>;

  static constexpr DWORD kFirstSize = 512;
  static constexpr DWORD kMostSize = 1u << 20;  // no structure of ours comes near

  // The growable fetch with any getter; the buffer is empty after a failure.
  LONG Fetch(Kind kind, const Getter& getter);

  LONG FetchLineDevCaps(HLINEAPP app, DWORD device, DWORD version);
  LONG FetchCallInfo(HCALL call);
  LONG FetchNewCalls(HLINE line, DWORD addressID, DWORD select);
  LONG FetchLineID(HLINE line, DWORD addressID, HCALL call, DWORD select, const char* deviceClass);
  LONG FetchPhoneDevCaps(HPHONEAPP app, DWORD device, DWORD version);
  LONG FetchPhoneID(HPHONE phone, const char* deviceClass);

  Kind GetKind() const { return m_kind; }
  size_t Size() const { return m_size; }
  bool Empty() const { return m_size == 0; }
  // The fixed part, nullptr when the buffer is too short to hold it.
  template <typename T>
  const T* As() const {
    return m_size >= sizeof(T) ? reinterpret_cast<const T*>(m_storage.data()) : nullptr;
  }
  // A text in the variable part without its terminator, "" when it lies outside the buffer.
  std::string TextAt(DWORD offset, DWORD size) const;
  // A 32-bit word in the variable part; false when it lies outside.
  bool WordAt(DWORD offset, DWORD* word) const;

private:
  Kind m_kind = Kind::None;
  std::vector<DWORD> m_storage;  // words keep the structure aligned
  size_t m_size = 0;             // bytes of it in use
};
