#include "core/TapiBuffer.h"

#include <cstring>
#include <new>

#include "core/TapiBinding.h"

LONG CTapiBuffer::Fetch(Kind kind, const Getter& getter) {
  m_kind = kind;
  m_storage.clear();
  m_size = 0;
  std::vector<DWORD> buffer;
  DWORD size = kFirstSize;
  LONG result = LINEERR_NOMEM;
  for (;;) {
    try {
      buffer.assign((size + 3) / 4, 0);
    } catch (const std::bad_alloc&) { return LINEERR_NOMEM; }
    auto* header = reinterpret_cast<VARHEADER*>(buffer.data());
    header->dwTotalSize = size;
    result = getter(header);
    const DWORD needed = header->dwNeededSize;
    const bool tooSmall = result == LINEERR_STRUCTURETOOSMALL || (result >= 0 && needed > header->dwTotalSize);
    if (!tooSmall) break;
    // A getter that asks for no more than it had would otherwise be asked forever.
    DWORD next = needed > size ? needed : size * 2;
    if (next > kMostSize) return LINEERR_NOMEM;
    size = next;
  }
  if (result < 0) return result;
  auto* header = reinterpret_cast<VARHEADER*>(buffer.data());
  DWORD used = header->dwUsedSize;
  if (used == 0 || used > size) used = size;
  // Trim to what the structure uses.
  buffer.resize((used + 3) / 4);
  buffer.shrink_to_fit();
  m_storage.swap(buffer);
  m_size = used;
  return result;
}

std::string CTapiBuffer::TextAt(DWORD offset, DWORD size) const {
  if (size == 0 || offset > m_size || size > m_size - offset) return "";
  const char* start = reinterpret_cast<const char*>(m_storage.data()) + offset;
  // The size counts the terminator; a NUL inside the text is kept (and made visible or safe
  // where the text is shown or names a file), so that it cannot hide what follows it.
  while (size > 0 && start[size - 1] == 0) --size;
  return std::string(start, size);
}

bool CTapiBuffer::WordAt(DWORD offset, DWORD* word) const {
  if (offset > m_size || m_size - offset < 4) return false;
  std::memcpy(word, reinterpret_cast<const unsigned char*>(m_storage.data()) + offset, 4);
  return true;
}

LONG CTapiBuffer::FetchLineDevCaps(HLINEAPP app, DWORD device, DWORD version) {
  return Fetch(Kind::LineDevCaps, [&](VARHEADER* h) {
    return tapi::lineGetDevCapsA(app, device, version, 0, reinterpret_cast<LINEDEVCAPS*>(h));
  });
}

LONG CTapiBuffer::FetchCallInfo(HCALL call) {
  return Fetch(Kind::CallInfo,
               [&](VARHEADER* h) { return tapi::lineGetCallInfoA(call, reinterpret_cast<LINECALLINFO*>(h)); });
}

LONG CTapiBuffer::FetchNewCalls(HLINE line, DWORD addressID, DWORD select) {
  return Fetch(Kind::NewCalls, [&](VARHEADER* h) {
    return tapi::lineGetNewCalls(line, addressID, select, reinterpret_cast<LINECALLLIST*>(h));
  });
}

LONG CTapiBuffer::FetchLineID(HLINE line, DWORD addressID, HCALL call, DWORD select, const char* deviceClass) {
  return Fetch(Kind::LineID, [&](VARHEADER* h) {
    return tapi::lineGetIDA(line, addressID, call, select, reinterpret_cast<VARSTRING*>(h), deviceClass);
  });
}

LONG CTapiBuffer::FetchPhoneDevCaps(HPHONEAPP app, DWORD device, DWORD version) {
  return Fetch(Kind::PhoneDevCaps, [&](VARHEADER* h) {
    return tapi::phoneGetDevCapsA(app, device, version, 0, reinterpret_cast<PHONECAPS*>(h));
  });
}

LONG CTapiBuffer::FetchPhoneID(HPHONE phone, const char* deviceClass) {
  return Fetch(Kind::PhoneID,
               [&](VARHEADER* h) { return tapi::phoneGetIDA(phone, reinterpret_cast<VARSTRING*>(h), deviceClass); });
}
