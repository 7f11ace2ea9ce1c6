#pragma once
// What a module's header includes: the module base with its port tables, wire reading, the
// signal scale, keyed persistence, registration, and for threaded modules the worker, copyable
// atomics and guarded values.
#include "base/JAtomic.h"
#include "base/JGuarded.h"
#include "base/JWorker.h"
#include "loom/JModuleObj.h"
#include "loom/JPorts.h"
#include "loom/JWire.h"
#include "modules/Keyed.h"
#include "modules/Register.h"
#include "modules/Signal.h"
