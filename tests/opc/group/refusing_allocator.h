// The task allocator seam: while one of these lives, the server's task allocator refuses every
// block from the given one on (counted from 1), as a client asking for more than the process
// can hold would meet; everything else goes to the real task allocator.
#pragma once

#include <objbase.h>

#include "opc/com/task_memory.h"

class RefusingAllocator final : public IMalloc {
public:
    explicit RefusingAllocator(int firstRefused = 1) : firstRefused_(firstRefused)
    {
        CoGetMalloc(MEMCTX_TASK, &real_);
        saved_ = g_taskAllocator;
        g_taskAllocator = this;
    }
    ~RefusingAllocator()
    {
        g_taskAllocator = saved_;
        real_->Release();
    }
    RefusingAllocator(const RefusingAllocator&) = delete;
    RefusingAllocator& operator=(const RefusingAllocator&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid != IID_IUnknown && riid != IID_IMalloc) return E_NOINTERFACE;
        *ppv = static_cast<IMalloc*>(this);
        return S_OK;
    }
    // Lives on the test's stack: the counts are not kept.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    void* STDMETHODCALLTYPE Alloc(SIZE_T cb) override
    {
        return ++allocations_ >= firstRefused_ ? nullptr : real_->Alloc(cb);
    }
    void* STDMETHODCALLTYPE Realloc(void* pv, SIZE_T cb) override { return real_->Realloc(pv, cb); }
    void STDMETHODCALLTYPE Free(void* pv) override { real_->Free(pv); }
    SIZE_T STDMETHODCALLTYPE GetSize(void* pv) override { return real_->GetSize(pv); }
    int STDMETHODCALLTYPE DidAlloc(void* pv) override { return real_->DidAlloc(pv); }
    void STDMETHODCALLTYPE HeapMinimize() override { real_->HeapMinimize(); }

private:
    int firstRefused_;
    int allocations_ = 0;
    IMalloc* real_ = nullptr;
    IMalloc* saved_ = nullptr;
};
