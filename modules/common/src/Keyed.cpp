#include "modules/Keyed.h"

std::string keyOf(const char* prefix, int index) { return std::string(prefix) + std::to_string(index); }

void putIntegers(JOutputStream& os, const char* prefix, const int* values, int count) {
  for (int i = 0; i < count; ++i) JObject::putInteger(os, keyOf(prefix, i).c_str(), values[i]);
}

void getIntegers(const JDictionary& dict, const char* prefix, int* values, int count) {
  for (int i = 0; i < count; ++i) values[i] = JObject::getInteger(dict, keyOf(prefix, i).c_str(), 0);
}

void putFlags(JOutputStream& os, const char* prefix, const bool* values, int count) {
  for (int i = 0; i < count; ++i) putFlag(os, keyOf(prefix, i).c_str(), values[i]);
}

void getFlags(const JDictionary& dict, const char* prefix, bool* values, int count) {
  for (int i = 0; i < count; ++i) values[i] = getFlag(dict, keyOf(prefix, i).c_str());
}
