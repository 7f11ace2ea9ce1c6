#pragma once
// The provider's request functions: the location the phone numbers are completed from, and the
// dialler (which the simulated exchange does not have).
#include "base/TapiDefs.h"
#include "platform/Exchange.h"

EXPORT LONG tapiGetLocationInfoA(char* countryCode, char* cityCode);
EXPORT LONG tapiRequestMakeCallA(const char* destAddress, const char*, const char*, const char*);
