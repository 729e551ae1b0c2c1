#include "platform/system_api.h"

namespace quentar {
namespace {

SystemApi& RealApi() {
    static RealSystemApi real;
    return real;
}

SystemApi* g_current = nullptr;

}  // namespace

SystemApi& Sys() { return g_current ? *g_current : RealApi(); }

ScopedSystemApi::ScopedSystemApi(SystemApi& api) : previous_(g_current) { g_current = &api; }
ScopedSystemApi::~ScopedSystemApi() { g_current = previous_; }

}  // namespace quentar
