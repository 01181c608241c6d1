// A module that uses the hub through its header, as a plug-in does.
#include "olvaro/api.h"

extern "C" void* probe_b_instance() { return fwk::Singleton<kestrum::Data>::getInstance(); }
extern "C" void probe_b_set(const char* name, long value) { KS_SetVariantLong(name, value); }
extern "C" long probe_b_get(const char* name) { return KS_GetVariantLong(name); }
