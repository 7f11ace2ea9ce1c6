#pragma once
// The provider's call functions: what the program learns of a call and does with it.
#include "base/TapiDefs.h"
#include "platform/Exchange.h"

EXPORT LONG lineGetCallInfoA(HCALL handle, LINECALLINFO* info);
