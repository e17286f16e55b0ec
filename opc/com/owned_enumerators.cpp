#include "opc/com/owned_enumerators.h"

#include <objbase.h>
#include <wrl/client.h>

#include <algorithm>
#include <new>
#include <vector>

namespace {

struct OwnedEnumerator {
    IUnknown* enumerator;
    IUnknown* owner;
};

std::vector<OwnedEnumerator> g_enumerators;

}  // namespace

void RecordOwnedEnumerator(IUnknown* enumerator, IUnknown* owner)
{
    try {
        g_enumerators.push_back(OwnedEnumerator{enumerator, owner});
    } catch (const std::bad_alloc&) {
    }
}

void ForgetOwnedEnumerator(IUnknown* enumerator)
{
    g_enumerators.erase(std::remove_if(g_enumerators.begin(), g_enumerators.end(),
                                       [enumerator](const OwnedEnumerator& entry) {
                                           return entry.enumerator == enumerator;
                                       }),
                        g_enumerators.end());
}

void DisconnectEnumeratorsOf(IUnknown* owner)
{
    // Disconnecting releases references, which may destroy enumerators and change the list:
    // the owner's are held first, then disconnected.
    std::vector<Microsoft::WRL::ComPtr<IUnknown>> held;
    for (const OwnedEnumerator& entry : g_enumerators) {
        if (entry.owner != owner) continue;
        try {
            held.emplace_back(entry.enumerator);
        } catch (const std::bad_alloc&) {
            break;  // the rest stay connected, as before this reclaim
        }
    }
    for (const auto& enumerator : held) CoDisconnectObject(enumerator.Get(), 0);
}
