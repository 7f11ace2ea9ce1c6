#pragma once
// Persistence helpers that keep a module's keys in the order its description writes them: flags
// as 0 or 1, and keyed arrays whose element i is stored under prefix + i in decimal ("min0",
// "minX-3").
#include <string>

#include "base/JObject.h"

inline void putFlag(JOutputStream& os, const char* key, bool flag) { JObject::putInteger(os, key, flag ? 1 : 0); }
// A missing key reads as false; any nonzero value as true.
inline bool getFlag(const JDictionary& dict, const char* key) { return JObject::getInteger(dict, key, 0) != 0; }

std::string keyOf(const char* prefix, int index);
void putIntegers(JOutputStream& os, const char* prefix, const int* values, int count);
void getIntegers(const JDictionary& dict, const char* prefix, int* values, int count);  // missing: 0
void putFlags(JOutputStream& os, const char* prefix, const bool* values, int count);
void getFlags(const JDictionary& dict, const char* prefix, bool* values, int count);  // nonzero: true
template <class T>
void putObjects(JOutputStream& os, const char* prefix, const T* values, int count) {
  for (int i = 0; i < count; ++i) JObject::putObject(os, keyOf(prefix, i).c_str(), values[i]);
}
template <class T>
void getObjects(const JDictionary& dict, const char* prefix, T* values, int count) {  // missing: kept
  for (int i = 0; i < count; ++i) JObject::getObject(dict, keyOf(prefix, i).c_str(), values[i]);
}
