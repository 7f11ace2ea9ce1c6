#include "platform/Requests.h"

#include <cstdio>
#include <cstdlib>
#include <string>

EXPORT LONG tapiGetLocationInfoA(char* countryCode, char* cityCode) {
  if (!countryCode || !cityCode) return TAPIERR_REQUESTFAILED;
  std::string country = "1", city = "425";
  if (const char* env = std::getenv("PHONESIM_LOCATION")) {
    // "COUNTRY,CITY"; an empty value means no location service.
    std::string text = env;
    if (text.empty()) return TAPIERR_REQUESTFAILED;
    const size_t comma = text.find(',');
    country = text.substr(0, comma);
    city = comma == std::string::npos ? "" : text.substr(comma + 1);
  }
  // Both buffers hold 8 bytes.
  std::snprintf(countryCode, 8, "%s", country.c_str());
  std::snprintf(cityCode, 8, "%s", city.c_str());
  return 0;
}

EXPORT LONG tapiRequestMakeCallA(const char* destAddress, const char*, const char*, const char*) {
  if (!destAddress || !*destAddress) return TAPIERR_INVALDESTADDRESS;
  return TAPIERR_NOREQUESTRECIPIENT;  // the simulated exchange has no dialler
}
