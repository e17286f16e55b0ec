#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <thread>

// An advise sink or a data callback in an apartment of its own thread, reached through a proxy
// as a client's sink is; the apartment can end, as a client's does when its process ends.
template <class Sink>
class SinkInOtherApartment {
public:
    SinkInOtherApartment() : thread_([this] { Serve(); })
    {
        WaitForSingleObject(ready_, 10000);
        CoGetInterfaceAndReleaseStream(marshalled_, IID_PPV_ARGS(&proxy_));
    }
    ~SinkInOtherApartment()
    {
        proxy_.Reset();
        End();
        CloseHandle(ready_);
    }
    SinkInOtherApartment(const SinkInOtherApartment&) = delete;
    SinkInOtherApartment& operator=(const SinkInOtherApartment&) = delete;

    IUnknown* Proxy() const { return proxy_.Get(); }
    // The sink itself: set its hooks before the first call reaches it, look at what it kept
    // only from its own thread (its hooks) or after End().
    Sink& Served() { return sink_; }
    void End()
    {
        if (!thread_.joinable()) return;
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }

private:
    void Serve()
    {
        CoInitialize(nullptr);
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before a post
        threadId_ = GetCurrentThreadId();
        CoMarshalInterThreadInterfaceInStream(IID_IUnknown, &sink_, &marshalled_);
        SetEvent(ready_);
        while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
        CoDisconnectObject(&sink_, 0);
        CoUninitialize();
    }

    Sink sink_;
    HANDLE ready_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DWORD threadId_ = 0;
    IStream* marshalled_ = nullptr;
    Microsoft::WRL::ComPtr<IUnknown> proxy_;
    std::thread thread_;  // last: it starts once the members it uses are made
};
