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
