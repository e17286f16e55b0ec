#include "opc/server/server_capacity.h"

#include <algorithm>
#include <iterator>

#include "diagnostics/support_trace.h"

namespace {

ServerCapacity g_capacity = kDefaultServerCapacity;

// `wanted` brought into 1..`largest`; a value outside leaves a trace line naming its setting.
int WithinRange(DWORD wanted, int largest, const char* setting)
{
    const int kept = static_cast<int>(std::clamp<DWORD>(wanted, 1, static_cast<DWORD>(largest)));
    if (static_cast<DWORD>(kept) != wanted) {
        SUPPORT_TRACE(TraceClient{}, S_OK, "setting %s = %lu is outside 1..%d: %d is used",
                      setting, static_cast<unsigned long>(wanted), largest, kept);
    }
    return kept;
}

DWORD SettingOrDefault(const char* setting, int fallback)
{
    // The names are plain ASCII, kept narrow for the trace's lines.
    wchar_t name[32] = {};
    for (size_t i = 0; setting[i] && i + 1 < std::size(name); ++i) name[i] = setting[i];
    DWORD value = static_cast<DWORD>(fallback);
    ReadProductSetting(name, value);
    return value;
}

}  // namespace

const ServerCapacity& CurrentServerCapacity()
{
    return g_capacity;
}

ServerCapacity SetServerCapacity(DWORD maxClients, DWORD maxGroupsPerClient)
{
    g_capacity.maxClients =
        WithinRange(maxClients, kLargestServerCapacity.maxClients, kMaxClientsSetting);
    g_capacity.maxGroupsPerClient = WithinRange(
        maxGroupsPerClient, kLargestServerCapacity.maxGroupsPerClient, kMaxGroupsPerClientSetting);
    return g_capacity;
}

void LoadServerCapacity()
{
    const ServerCapacity capacity = SetServerCapacity(
        SettingOrDefault(kMaxClientsSetting, kDefaultServerCapacity.maxClients),
        SettingOrDefault(kMaxGroupsPerClientSetting, kDefaultServerCapacity.maxGroupsPerClient));
    SUPPORT_TRACE(TraceClient{}, S_OK, "serving at most %d clients (%s), %d groups each (%s)",
                  capacity.maxClients, kMaxClientsSetting, capacity.maxGroupsPerClient,
                  kMaxGroupsPerClientSetting);
}
