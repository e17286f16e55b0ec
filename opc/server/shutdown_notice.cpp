#include "opc/server/shutdown_notice.h"

#include <objbase.h>
#include <wrl/client.h>

#include <memory>
#include <new>
#include <vector>

#include "opc/com/error_text.h"
#include "opc/server/server_object.h"
#include "opc/server/server_table.h"
#include "opc_da.h"

using Microsoft::WRL::ComPtr;

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using ThreadHandle = std::unique_ptr<void, HandleCloser>;

// Notices whose call has not come back yet.
LONG g_pendingNotices = 0;

// What a notice thread needs; the thread owns it.
struct RemoteNotice {
    ComPtr<IStream> marshalledSink;
    const wchar_t* reason;
    // Shared with the caller, which may have stopped waiting when a frozen client answers.
    std::shared_ptr<LONG> answered;
};

DWORD WINAPI NoticeThread(void* parameter)
{
    const std::unique_ptr<RemoteNotice> notice(static_cast<RemoteNotice*>(parameter));
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        InterlockedDecrement(&g_pendingNotices);
        return 1;
    }
    {
        ComPtr<IOPCShutdown> sink;
        if (SUCCEEDED(CoGetInterfaceAndReleaseStream(notice->marshalledSink.Detach(),
                                                     IID_PPV_ARGS(&sink))) &&
            SUCCEEDED(sink->ShutdownRequest(notice->reason))) {
            InterlockedIncrement(notice->answered.get());
        }
    }
    InterlockedDecrement(&g_pendingNotices);
    CoUninitialize();
    return 0;
}

// Starts a thread that calls `sink` (a proxy) with `reason`; null when it cannot be had, and
// then the marshalled reference is given back.
ThreadHandle StartRemoteNotice(IOPCShutdown* sink, const wchar_t* reason,
                               const std::shared_ptr<LONG>& answered)
{
    ComPtr<IStream> marshalled;
    if (FAILED(CoMarshalInterThreadInterfaceInStream(IID_IOPCShutdown, sink, &marshalled)))
        return nullptr;
    std::unique_ptr<RemoteNotice> notice(new (std::nothrow)
                                             RemoteNotice{marshalled, reason, answered});
    InterlockedIncrement(&g_pendingNotices);
    HANDLE thread =
        notice ? CreateThread(nullptr, 0, NoticeThread, notice.get(), 0, nullptr) : nullptr;
    if (!thread) {
        InterlockedDecrement(&g_pendingNotices);
        CoReleaseMarshalData(marshalled.Get());
        return nullptr;
    }
    notice.release();
    return ThreadHandle(thread);
}

struct Notice {
    ComPtr<IOPCShutdown> sink;
    const wchar_t* reason;
};

}  // namespace

bool ShutdownNoticePending()
{
    return InterlockedCompareExchange(&g_pendingNotices, 0, 0) != 0;
}

const wchar_t* ShutdownReason(LCID locale)
{
    return locale == kChineseLocale ? L"OPC 服务器正在关闭。" : L"The OPC server is shutting down.";
}

int NotifyClientsOfShutdown(DWORD waitMs)
{
    // The sinks are taken, each with a reference of its own, before any is called: a client
    // called back may release its server object or unadvise while the others wait.
    std::vector<Notice> notices;
    try {
        ServerObject* servers[kServerTableEntries];
        const int count = ListServers(servers);
        for (int i = 0; i < count; ++i) {
            ConnectionPoint* point = servers[i]->OutgoingConnection();
            ComPtr<IOPCShutdown> sink = point ? point->ConnectedSink<IOPCShutdown>() : nullptr;
            if (sink) notices.push_back({sink, ShutdownReason(servers[i]->LocaleId())});
        }
    } catch (const std::bad_alloc&) {
        // The sinks taken so far get their notice.
    }

    std::shared_ptr<LONG> answered;
    try {
        answered = std::make_shared<LONG>(0);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    std::vector<ThreadHandle> threads;
    for (Notice& notice : notices) {
        // Only a proxy answers IClientSecurity: the sink lives in another apartment.
        ComPtr<IClientSecurity> proxy;
        if (FAILED(notice.sink.As(&proxy))) {
            if (SUCCEEDED(notice.sink->ShutdownRequest(notice.reason)))
                InterlockedIncrement(answered.get());
            continue;
        }
        ThreadHandle thread = StartRemoteNotice(notice.sink.Get(), notice.reason, answered);
        if (!thread) continue;
        try {
            threads.push_back(std::move(thread));
        } catch (const std::bad_alloc&) {
            // That thread runs on without being waited for.
        }
    }

    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (const ThreadHandle& thread : threads) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        HANDLE handle = thread.get();
        DWORD index = 0;
        // Serves the COM calls of the clients while it waits.
        CoWaitForMultipleHandles(0, left, 1, &handle, &index);
    }
    return static_cast<int>(InterlockedCompareExchange(answered.get(), 0, 0));
}
