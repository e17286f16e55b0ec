#include "tests/opc/datachange/stream_test_group.h"

#include <gtest/gtest.h>

#include "opc/group/group_object.h"

IDataObject* StreamTestGroup::Data()
{
    if (!data_) {
        EXPECT_EQ(S_OK, Items()->QueryInterface(IID_PPV_ARGS(&data_)));
    }
    return data_.Get();
}

IOPCAsyncIO* StreamTestGroup::Async()
{
    if (!async_) {
        EXPECT_EQ(S_OK, Items()->QueryInterface(IID_PPV_ARGS(&async_)));
    }
    return async_.Get();
}

IOPCAsyncIO2* StreamTestGroup::Async2()
{
    if (!async2_) {
        EXPECT_EQ(S_OK, Items()->QueryInterface(IID_PPV_ARGS(&async2_)));
    }
    return async2_.Get();
}

IOPCAsyncIO3* StreamTestGroup::Async3()
{
    if (!async3_) {
        EXPECT_EQ(S_OK, Items()->QueryInterface(IID_PPV_ARGS(&async3_)));
    }
    return async3_.Get();
}

IConnectionPoint* StreamTestGroup::CallbackPoint()
{
    if (!point_) {
        ComPtr<IConnectionPointContainer> container;
        EXPECT_EQ(S_OK, Items()->QueryInterface(IID_PPV_ARGS(&container)));
        if (container) {
            EXPECT_EQ(S_OK, container->FindConnectionPoint(IID_IOPCDataCallback, &point_));
        }
    }
    return point_.Get();
}

HRESULT StreamTestGroup::Connect(IUnknown* sink, DWORD* cookie)
{
    DWORD ignored = 0;
    return CallbackPoint()->Advise(sink, cookie ? cookie : &ignored);
}

HRESULT StreamTestGroup::Advise(CLIPFORMAT format, IAdviseSink* sink)
{
    FORMATETC formatEtc{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    DWORD connection = 0;
    return Data()->DAdvise(&formatEtc, ADVF_PRIMEFIRST, sink, &connection);
}

void StreamTestGroup::Pass(int32_t periodMs, const FILETIME& cycleTime)
{
    Object().RunUpdatePass(periodMs, cycleTime);
}
