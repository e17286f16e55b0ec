#include "app/instance_claim.h"

namespace {

constexpr wchar_t kClaimName[] = L"Parhelionix OPCServer serving";
constexpr wchar_t kClassObjectName[] = L"Parhelionix OPCServer class object";
// Wine's activation looks for the class object about once a second, and gives its client up
// when the copy it started ends within the first of those waits.
constexpr DWORD kActivationRecheckMs = 1500;

}  // namespace

InstanceClaim::~InstanceClaim()
{
    Release();
}

bool InstanceClaim::Take(bool startedByCom, DWORD waitMs)
{
    Release();
    m_claim = CreateMutexW(nullptr, FALSE, kClaimName);
    m_classObject = CreateEventW(nullptr, TRUE, FALSE, kClassObjectName);
    // Without the named objects nothing can tell another copy: serve, as every copy once did.
    if (!m_claim || !m_classObject) return true;
    DWORD taken = WaitForSingleObject(m_claim, 0);
    if (taken == WAIT_TIMEOUT && startedByCom) {
        HANDLE handles[] = {m_classObject, m_claim};
        taken = WaitForMultipleObjects(2, handles, FALSE, waitMs);
        if (taken == WAIT_OBJECT_0) {
            Sleep(kActivationRecheckMs);
            return false;
        }
        // The holder ended: its claim is this copy's now.
        if (taken == WAIT_OBJECT_0 + 1 || taken == WAIT_ABANDONED_0 + 1) taken = WAIT_OBJECT_0;
    }
    m_held = taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED;
    // A holder that ended without withdrawing left the announcement behind.
    if (m_held) ResetEvent(m_classObject);
    return m_held;
}

void InstanceClaim::AnnounceClassObject()
{
    if (m_held) SetEvent(m_classObject);
}

void InstanceClaim::WithdrawClassObject()
{
    if (m_held) ResetEvent(m_classObject);
}

void InstanceClaim::Release()
{
    if (m_held) {
        ResetEvent(m_classObject);
        ReleaseMutex(m_claim);
        m_held = false;
    }
    if (m_claim) CloseHandle(m_claim);
    if (m_classObject) CloseHandle(m_classObject);
    m_claim = nullptr;
    m_classObject = nullptr;
}
