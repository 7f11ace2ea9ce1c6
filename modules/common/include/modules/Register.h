#pragma once
// Registers a module class when its library is loaded: one temporary instance calls Register()
// and the returned prototype is kept in a library global.
#define LOOMWORK_REGISTER(ClassName)    \
  namespace {                           \
  JObject* registered##ClassName = [] { \
    ClassName temporary;                \
    return temporary.Register();        \
  }();                                  \
  }
