#include "app/instance_claim.h"

#include <objbase.h>
#include <sddl.h>

#include <cwchar>
#include <memory>

#include "server_identity.h"

namespace {

// Wine's activation looks for the class object about once a second, and gives its client up
// when the copy it started ends within the first of those waits.
constexpr DWORD kActivationRecheckMs = 1500;

constexpr size_t kObjectNameSize = 96;

struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};
struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};

// Only the current user and SYSTEM may open the named objects: no process of another account
// in the session (a service, a program run as another user) can hold the claim or announce a
// class object, which would make every copy end. Null when the user cannot be found: the
// objects then get the default security.
std::unique_ptr<void, LocalFreer> OwnerOnlySecurity()
{
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return nullptr;
    const std::unique_ptr<void, HandleCloser> token(opened);
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } owner;
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, &owner, sizeof owner, &size)) return nullptr;
    wchar_t* sidText = nullptr;
    if (!ConvertSidToStringSidW(owner.user.User.Sid, &sidText)) return nullptr;
    const std::unique_ptr<void, LocalFreer> sid(sidText);
    // Protected, so that nothing is inherited: full access for the user and for SYSTEM only.
    wchar_t descriptorText[256];
    std::swprintf(descriptorText, 256, L"D:P(A;;GA;;;%ls)(A;;GA;;;SY)", sidText);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(descriptorText, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return nullptr;
    }
    return std::unique_ptr<void, LocalFreer>(descriptor);
}

// "Local\\Parhelionix OPCServer {class identifier} " followed by `what`.
void ObjectName(const wchar_t* what, wchar_t (&name)[kObjectNameSize])
{
    wchar_t clsid[40] = L"";
    StringFromGUID2(CLSID_ParhelionixOPCServer, clsid, 40);
    std::swprintf(name, kObjectNameSize, L"Local\\Parhelionix OPCServer %ls %ls", clsid, what);
}

}  // namespace

InstanceClaim::~InstanceClaim()
{
    Release();
}

bool InstanceClaim::Take(bool startedByCom, DWORD waitMs)
{
    Release();
    const std::unique_ptr<void, LocalFreer> descriptor = OwnerOnlySecurity();
    SECURITY_ATTRIBUTES security{sizeof security, descriptor.get(), FALSE};
    wchar_t claimName[kObjectNameSize];
    wchar_t classObjectName[kObjectNameSize];
    ObjectName(L"serving", claimName);
    ObjectName(L"class object", classObjectName);
    m_claim = CreateMutexW(&security, FALSE, claimName);
    m_classObject = CreateEventW(&security, TRUE, FALSE, classObjectName);
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
