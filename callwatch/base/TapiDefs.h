#pragma once
// The telephony interface as Callwatch and the telephony provider share it: handles, result
// codes, message numbers, flags, the variable-size structures and the signatures of the functions
// the provider exports. Values follow the interface Callwatch was written for where it relies on
// them; the rest are this provider's own.
#include <cstddef>
#include <cstdint>

using LONG = int32_t;
using DWORD = uint32_t;
using HLINEAPP = uint32_t;
using HLINE = uint32_t;
using HCALL = uint32_t;
using HPHONEAPP = uint32_t;
using HPHONE = uint32_t;

// Results: negative = error, positive = asynchronous request ID.
constexpr LONG kErr(uint32_t code) { return static_cast<LONG>(code); }
constexpr LONG LINEERR_BADDEVICEID = kErr(0x80000002);
constexpr LONG LINEERR_INCOMPATIBLEAPIVERSION = kErr(0x8000000C);
constexpr LONG LINEERR_INVALAPPHANDLE = kErr(0x80000015);
constexpr LONG LINEERR_INVALCALLHANDLE = kErr(0x80000018);
constexpr LONG LINEERR_INVALCALLSTATE = kErr(0x8000001C);
constexpr LONG LINEERR_INVALADDRESSID = kErr(0x8000001D);
constexpr LONG LINEERR_INVALDEVICECLASS = kErr(0x80000023);
constexpr LONG LINEERR_INVALLINEHANDLE = kErr(0x8000002B);
constexpr LONG LINEERR_INVALPARAM = kErr(0x80000032);
constexpr LONG LINEERR_INVALPOINTER = kErr(0x80000035);
constexpr LONG LINEERR_INVALPRIVSELECT = kErr(0x80000036);
constexpr LONG LINEERR_NOMEM = kErr(0x80000044);
constexpr LONG LINEERR_NOTOWNER = kErr(0x80000046);
constexpr LONG LINEERR_OPERATIONFAILED = kErr(0x80000048);
constexpr LONG LINEERR_OPERATIONUNAVAIL = kErr(0x80000049);
constexpr LONG LINEERR_STRUCTURETOOSMALL = kErr(0x8000004D);
constexpr LONG LINEERR_UNINITIALIZED = kErr(0x80000050);
constexpr LONG PHONEERR_BADDEVICEID = kErr(0x90000002);
constexpr LONG PHONEERR_INVALPHONEHANDLE = kErr(0x9000001A);
constexpr LONG PHONEERR_INVALHOOKSWITCHMODE = kErr(0x90000016);
constexpr LONG PHONEERR_INVALPRIVILEGE = kErr(0x9000001E);
constexpr LONG PHONEERR_OPERATIONFAILED = kErr(0x9000002B);
constexpr LONG PHONEERR_STRUCTURETOOSMALL = kErr(0x9000002F);
constexpr LONG TAPIERR_NOREQUESTRECIPIENT = -2;
constexpr LONG TAPIERR_REQUESTQUEUEFULL = -3;
constexpr LONG TAPIERR_INVALDESTADDRESS = -4;
constexpr LONG TAPIERR_REQUESTFAILED = -16;

constexpr DWORD kTapiVersionLow = 0x00010003;
constexpr DWORD kTapiVersionHigh = 0x00020000;

// Line messages.
enum : DWORD {
  LINE_ADDRESSSTATE = 0,
  LINE_CALLINFO = 1,
  LINE_CALLSTATE = 2,
  LINE_CLOSE = 3,
  LINE_DEVSPECIFIC = 4,
  LINE_DEVSPECIFICFEATURE = 5,
  LINE_GATHERDIGITS = 6,
  LINE_GENERATE = 7,
  LINE_LINEDEVSTATE = 8,
  LINE_MONITORDIGITS = 9,
  LINE_MONITORMEDIA = 10,
  LINE_MONITORTONE = 11,
  LINE_REPLY = 12,
  LINE_REQUEST = 13,
  PHONE_BUTTON = 14,
  PHONE_CLOSE = 15,
  PHONE_DEVSPECIFIC = 16,
  PHONE_REPLY = 17,
  PHONE_STATE = 18,
  LINE_CREATE = 19,
  PHONE_CREATE = 20,
  LINE_AGENTSPECIFIC = 21,
  LINE_AGENTSTATUS = 22,
  LINE_APPNEWCALL = 23,
  LINE_PROXYREQUEST = 24,
  LINE_REMOVE = 25,
  PHONE_REMOVE = 26,
};

enum : DWORD {
  LINECALLSTATE_IDLE = 0x1,
  LINECALLSTATE_OFFERING = 0x2,
  LINECALLSTATE_ACCEPTED = 0x4,
  LINECALLSTATE_DIALTONE = 0x8,
  LINECALLSTATE_DIALING = 0x10,
  LINECALLSTATE_RINGBACK = 0x20,
  LINECALLSTATE_BUSY = 0x40,
  LINECALLSTATE_SPECIALINFO = 0x80,
  LINECALLSTATE_CONNECTED = 0x100,
  LINECALLSTATE_PROCEEDING = 0x200,
  LINECALLSTATE_ONHOLD = 0x400,
  LINECALLSTATE_CONFERENCED = 0x800,
  LINECALLSTATE_ONHOLDPENDCONF = 0x1000,
  LINECALLSTATE_ONHOLDPENDTRANSFER = 0x2000,
  LINECALLSTATE_DISCONNECTED = 0x4000,
  LINECALLSTATE_UNKNOWN = 0x8000,
};
enum : DWORD {
  LINECALLORIGIN_OUTBOUND = 0x1,
  LINECALLORIGIN_INTERNAL = 0x2,
  LINECALLORIGIN_EXTERNAL = 0x4,
  LINECALLORIGIN_UNKNOWN = 0x10,
  LINECALLORIGIN_UNAVAIL = 0x20,
  LINECALLORIGIN_CONFERENCE = 0x40,
  LINECALLORIGIN_INBOUND = 0x80,
};
enum : DWORD {
  LINECALLPARTYID_BLOCKED = 0x1,
  LINECALLPARTYID_OUTOFAREA = 0x2,
  LINECALLPARTYID_NAME = 0x4,
  LINECALLPARTYID_ADDRESS = 0x8,
  LINECALLPARTYID_PARTIAL = 0x10,
  LINECALLPARTYID_UNKNOWN = 0x20,
  LINECALLPARTYID_UNAVAIL = 0x40,
};
enum : DWORD {
  LINECALLPRIVILEGE_NONE = 0x1,
  LINECALLPRIVILEGE_MONITOR = 0x2,
  LINECALLPRIVILEGE_OWNER = 0x4,
};
enum : DWORD {
  LINEMEDIAMODE_UNKNOWN = 0x2,
  LINEMEDIAMODE_INTERACTIVEVOICE = 0x4,
  LINEMEDIAMODE_AUTOMATEDVOICE = 0x8,
};
enum : DWORD { LINEDEVSTATE_RINGING = 0x4, LINEDEVSTATE_ALL = 0x1FFFFFF };
constexpr DWORD LINEADDRESSSTATE_ALL = 0x1FF;
enum : DWORD { LINECALLINFOSTATE_CALLERID = 0x8000 };
enum : DWORD { LINEDIGITMODE_PULSE = 0x1, LINEDIGITMODE_DTMF = 0x2, LINEDIGITMODE_DTMFEND = 0x4 };
enum : DWORD { LINECALLSELECT_LINE = 0x1, LINECALLSELECT_ADDRESS = 0x2, LINECALLSELECT_CALL = 0x4 };
enum : DWORD { LINEDISCONNECTMODE_NORMAL = 0x1 };
enum : DWORD { LINEINITIALIZEEXOPTION_USEHIDDENWINDOW = 0x1 };
enum : DWORD { STRINGFORMAT_ASCII = 0x1, STRINGFORMAT_BINARY = 0x4 };

enum : DWORD { PHONEPRIVILEGE_MONITOR = 0x1, PHONEPRIVILEGE_OWNER = 0x2 };
enum : DWORD {
  PHONEHOOKSWITCHDEV_HANDSET = 0x1,
  PHONEHOOKSWITCHDEV_SPEAKER = 0x2,
  PHONEHOOKSWITCHDEV_HEADSET = 0x4,
};
enum : DWORD {
  PHONEHOOKSWITCHMODE_ONHOOK = 0x1,
  PHONEHOOKSWITCHMODE_MIC = 0x2,
  PHONEHOOKSWITCHMODE_SPEAKER = 0x4,
  PHONEHOOKSWITCHMODE_MICSPEAKER = 0x8,
};
constexpr DWORD PHONESTATE_ALL = 0xFFFFFF;

// Every variable-size structure starts with these three sizes (in bytes); its texts and lists
// follow the fixed part, found by offset and size.
struct VARHEADER {
  DWORD dwTotalSize, dwNeededSize, dwUsedSize;
};

struct LINEINITIALIZEEXPARAMS {
  DWORD dwTotalSize, dwNeededSize, dwUsedSize;
  DWORD dwOptions;
  uintptr_t hEvent;
  DWORD dwCompletionKey;
};
using PHONEINITIALIZEEXPARAMS = LINEINITIALIZEEXPARAMS;

struct LINEEXTENSIONID {
  DWORD dwExtensionID0, dwExtensionID1, dwExtensionID2, dwExtensionID3;
};
using PHONEEXTENSIONID = LINEEXTENSIONID;

struct LINEDEVCAPS {
  DWORD dwTotalSize, dwNeededSize, dwUsedSize;
  DWORD dwProviderInfoSize, dwProviderInfoOffset;
  DWORD dwSwitchInfoSize, dwSwitchInfoOffset;
  DWORD dwPermanentLineID;
  DWORD dwLineNameSize, dwLineNameOffset;
  DWORD dwStringFormat;
  DWORD dwAddressModes, dwNumAddresses;
  DWORD dwBearerModes, dwMaxRate, dwMediaModes;
  DWORD dwReserved[24];
};

// The fixed part is 324 bytes, as the call-state handling fetches it.
struct LINECALLINFO {
  DWORD dwTotalSize, dwNeededSize, dwUsedSize;
  HLINE hLine;
  DWORD dwLineDeviceID, dwAddressID, dwBearerMode, dwRate, dwMediaMode, dwAppSpecific;
  DWORD dwCallID, dwRelatedCallID, dwCallParamFlags, dwCallStates;
  DWORD dwMonitorDigitModes, dwMonitorMediaModes;
  DWORD DialParams[4];
  DWORD dwOrigin, dwReason, dwCompletionID, dwNumOwners, dwNumMonitors, dwCountryCode, dwTrunk;
  DWORD dwCallerIDFlags, dwCallerIDSize, dwCallerIDOffset, dwCallerIDNameSize, dwCallerIDNameOffset;
  DWORD dwCalledIDFlags, dwCalledIDSize, dwCalledIDOffset, dwCalledIDNameSize, dwCalledIDNameOffset;
  DWORD dwConnectedIDFlags, dwConnectedIDSize, dwConnectedIDOffset, dwConnectedIDNameSize, dwConnectedIDNameOffset;
  DWORD dwRedirectionIDFlags, dwRedirectionIDSize, dwRedirectionIDOffset, dwRedirectionIDNameSize,
      dwRedirectionIDNameOffset;
  DWORD dwRedirectingIDFlags, dwRedirectingIDSize, dwRedirectingIDOffset, dwRedirectingIDNameSize,
      dwRedirectingIDNameOffset;
  DWORD dwAppNameSize, dwAppNameOffset;
  DWORD dwDisplayableAddressSize, dwDisplayableAddressOffset;
  DWORD dwCalledPartySize, dwCalledPartyOffset;
  DWORD dwCommentSize, dwCommentOffset;
  DWORD dwDisplaySize, dwDisplayOffset;
  DWORD dwUserUserInfoSize, dwUserUserInfoOffset;
  DWORD dwHighLevelCompSize, dwHighLevelCompOffset;
  DWORD dwLowLevelCompSize, dwLowLevelCompOffset;
  DWORD dwChargingInfoSize, dwChargingInfoOffset;
  DWORD dwTerminalModesSize, dwTerminalModesOffset;
  DWORD dwDevSpecificSize, dwDevSpecificOffset;
  DWORD dwCallTreatment;
  DWORD dwCallDataSize, dwCallDataOffset;
  DWORD dwSendingFlowspecSize, dwSendingFlowspecOffset;
  DWORD dwReceivingFlowspecSize, dwReceivingFlowspecOffset;
};
static_assert(sizeof(LINECALLINFO) == 324, "the fixed call information is 324 bytes");

struct LINECALLLIST {
  DWORD dwTotalSize, dwNeededSize, dwUsedSize;
  DWORD dwCallsNumEntries, dwCallsSize, dwCallsOffset;
};

struct VARSTRING {
  DWORD dwTotalSize, dwNeededSize, dwUsedSize;
  DWORD dwStringFormat, dwStringSize, dwStringOffset;
};

struct PHONECAPS {
  DWORD dwTotalSize, dwNeededSize, dwUsedSize;
  DWORD dwProviderInfoSize, dwProviderInfoOffset;
  DWORD dwPhoneInfoSize, dwPhoneInfoOffset;
  DWORD dwPermanentPhoneID;
  DWORD dwPhoneNameSize, dwPhoneNameOffset;
  DWORD dwStringFormat;
  DWORD dwPhoneStates;
  DWORD dwHookSwitchDevs;
  DWORD dwHandsetHookSwitchModes, dwSpeakerHookSwitchModes, dwHeadsetHookSwitchModes;
  DWORD dwReserved[16];
};

using LINECALLBACK = void (*)(DWORD hDevice, DWORD dwMessage, uintptr_t dwCallbackInstance, uintptr_t dwParam1,
                              uintptr_t dwParam2, uintptr_t dwParam3);
using PHONECALLBACK = LINECALLBACK;

// The provider's exported functions, looked up by these names.
extern "C" {
using lineInitializeExA_t = LONG (*)(HLINEAPP*, void* instance, LINECALLBACK, const char* appName, DWORD* numDevs,
                                     DWORD* apiVersion, LINEINITIALIZEEXPARAMS*);
using lineNegotiateAPIVersion_t = LONG (*)(HLINEAPP, DWORD device, DWORD low, DWORD high, DWORD* version,
                                           LINEEXTENSIONID*);
using lineShutdown_t = LONG (*)(HLINEAPP);
using lineOpenA_t = LONG (*)(HLINEAPP, DWORD device, HLINE*, DWORD apiVersion, DWORD extVersion,
                             uintptr_t callbackInstance, DWORD privileges, DWORD mediaModes, const void* callParams);
using lineClose_t = LONG (*)(HLINE);
using lineSetStatusMessages_t = LONG (*)(HLINE, DWORD lineStates, DWORD addressStates);
using lineGetDevCapsA_t = LONG (*)(HLINEAPP, DWORD device, DWORD apiVersion, DWORD extVersion, LINEDEVCAPS*);
using lineGetNewCalls_t = LONG (*)(HLINE, DWORD addressID, DWORD select, LINECALLLIST*);
using lineGetCallInfoA_t = LONG (*)(HCALL, LINECALLINFO*);
using lineGetIDA_t = LONG (*)(HLINE, DWORD addressID, HCALL, DWORD select, VARSTRING*, const char* deviceClass);
using lineGetNumRings_t = LONG (*)(HLINE, DWORD addressID, DWORD* numRings);
using lineSetNumRings_t = LONG (*)(HLINE, DWORD addressID, DWORD numRings);
using lineAnswer_t = LONG (*)(HCALL, const char* userUserInfo, DWORD size);
using lineDrop_t = LONG (*)(HCALL, const char* userUserInfo, DWORD size);
using lineDeallocateCall_t = LONG (*)(HCALL);
using lineMonitorDigits_t = LONG (*)(HCALL, DWORD digitModes);
using phoneInitializeExA_t = LONG (*)(HPHONEAPP*, void* instance, PHONECALLBACK, const char* appName, DWORD* numDevs,
                                      DWORD* apiVersion, PHONEINITIALIZEEXPARAMS*);
using phoneNegotiateAPIVersion_t = LONG (*)(HPHONEAPP, DWORD device, DWORD low, DWORD high, DWORD* version,
                                            PHONEEXTENSIONID*);
using phoneShutdown_t = LONG (*)(HPHONEAPP);
using phoneOpen_t = LONG (*)(HPHONEAPP, DWORD device, HPHONE*, DWORD apiVersion, DWORD extVersion,
                             uintptr_t callbackInstance, DWORD privilege);
using phoneClose_t = LONG (*)(HPHONE);
using phoneSetStatusMessages_t = LONG (*)(HPHONE, DWORD phoneStates, DWORD buttonModes, DWORD buttonStates);
using phoneGetDevCapsA_t = LONG (*)(HPHONEAPP, DWORD device, DWORD apiVersion, DWORD extVersion, PHONECAPS*);
using phoneGetIDA_t = LONG (*)(HPHONE, VARSTRING*, const char* deviceClass);
using phoneSetHookSwitch_t = LONG (*)(HPHONE, DWORD hookSwitchDevs, DWORD mode);
using tapiGetLocationInfoA_t = LONG (*)(char* countryCode, char* cityCode);
using tapiRequestMakeCallA_t = LONG (*)(const char* destAddress, const char* appName, const char* calledParty,
                                        const char* comment);
}
