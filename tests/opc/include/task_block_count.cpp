#include "task_block_count.h"

#include <objbase.h>

namespace fake {
namespace {

LONG liveBlocks = 0;

class CountingSpy : public IMallocSpy {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = riid == IID_IUnknown || riid == IID_IMallocSpy ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    // Static object: COM's references do not decide its life.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T cbRequest) override { return cbRequest; }
    void* STDMETHODCALLTYPE PostAlloc(void* pActual) override
    {
        if (pActual) ++liveBlocks;
        return pActual;
    }
    void* STDMETHODCALLTYPE PreFree(void* pRequest, BOOL fSpyed) override
    {
        if (pRequest && fSpyed) --liveBlocks;
        return pRequest;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* pRequest, SIZE_T cbRequest, void** ppNewRequest,
                                        BOOL fSpyed) override
    {
        // A block moves: counted as one before and after, unless it comes into or leaves being.
        if (!pRequest) ++liveBlocks;
        if (pRequest && fSpyed && cbRequest == 0) --liveBlocks;
        *ppNewRequest = pRequest;
        return cbRequest;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* pActual, BOOL) override { return pActual; }
    void* STDMETHODCALLTYPE PreGetSize(void* pRequest, BOOL) override { return pRequest; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T cbActual, BOOL) override { return cbActual; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* pRequest, BOOL) override { return pRequest; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int fActual) override { return fActual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

}  // namespace

bool count_task_blocks()
{
    static CountingSpy spy;
    static const bool counting = SUCCEEDED(CoRegisterMallocSpy(&spy));
    return counting;
}

LONG live_task_blocks()
{
    return liveBlocks;
}

}  // namespace fake
