#include "opc/datachange/sink_calls.h"

#include <gtest/gtest.h>

#include <vector>

#include "opc/datachange/stream_formats.h"
#include "stream_bytes.h"

namespace {

// A client's sink that keeps what OnDataChange was given while the call lasts.
class RecordingSink : public IAdviseSink {
public:
    FORMATETC format{};
    STGMEDIUM medium{};
    std::vector<BYTE> bytes;
    int calls = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = riid == IID_IUnknown || riid == IID_IAdviseSink ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    void STDMETHODCALLTYPE OnDataChange(FORMATETC* f, STGMEDIUM* m) override
    {
        ++calls;
        format = *f;
        medium = *m;
        const auto* start = static_cast<const BYTE*>(GlobalLock(m->hGlobal));
        bytes.assign(start, start + GlobalSize(m->hGlobal));
        GlobalUnlock(m->hGlobal);
    }
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
    void STDMETHODCALLTYPE OnSave() override {}
    void STDMETHODCALLTYPE OnClose() override {}
};

TEST(StreamCall, HandsTheBlockOverAsHGlobalContentAndTellsNothing)
{
    StreamBlock block = BuildWriteCompleteStream(1, 2, {{3, S_OK}});
    ASSERT_TRUE(block);
    const HGLOBAL handle = block.get();
    RecordingSink sink;
    StreamCall call(static_cast<CLIPFORMAT>(0xC123), false, std::move(block));
    EXPECT_EQ(24u, call.Bytes());
    bool told = true;
    EXPECT_EQ(S_OK, call.MakeOn(sink, told));
    EXPECT_FALSE(told) << "OnDataChange returns nothing";
    ASSERT_EQ(1, sink.calls);
    EXPECT_EQ(0xC123, sink.format.cfFormat);
    EXPECT_EQ(nullptr, sink.format.ptd);
    EXPECT_EQ(static_cast<DWORD>(DVASPECT_CONTENT), sink.format.dwAspect);
    EXPECT_EQ(-1, sink.format.lindex);
    EXPECT_EQ(static_cast<DWORD>(TYMED_HGLOBAL), sink.format.tymed);
    EXPECT_EQ(static_cast<DWORD>(TYMED_HGLOBAL), sink.medium.tymed);
    EXPECT_EQ(handle, sink.medium.hGlobal);
    EXPECT_EQ(nullptr, sink.medium.pUnkForRelease);
    EXPECT_EQ(24u, sink.bytes.size());
    EXPECT_EQ(1u, At<DWORD>(sink.bytes, 0));
}

}  // namespace
