#include <olectl.h>
#include <gtest/gtest.h>

#include <memory>
#include <utility>

#include "tests/opc/datachange/recording_sink.h"
#include "tests/opc/datachange/stream_test_group.h"
#include "tests/opc/group/test_tags.h"

namespace {

// An object that is no advise sink.
class NotASink final : public IAdviseSink {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    void STDMETHODCALLTYPE OnDataChange(FORMATETC*, STGMEDIUM*) override {}
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
    void STDMETHODCALLTYPE OnSave() override {}
    void STDMETHODCALLTYPE OnClose() override {}
};

// A client's sink that, asked for IAdviseSink by DAdvise, first advises another sink of the
// same format on the same group.
class SinkAdvisingFirst final : public IAdviseSink {
public:
    SinkAdvisingFirst(IDataObject* data, IAdviseSink* other) : data_(data), other_(other) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        if (IDataObject* data = std::exchange(data_, nullptr)) {
            FORMATETC format{DataFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
            DWORD token = 0;
            EXPECT_EQ(S_OK, data->DAdvise(&format, 0, other_, &token));
        }
        *ppv = static_cast<IAdviseSink*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    void STDMETHODCALLTYPE OnDataChange(FORMATETC*, STGMEDIUM*) override {}
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
    void STDMETHODCALLTYPE OnSave() override {}
    void STDMETHODCALLTYPE OnClose() override {}

    ULONG refs = 0;

private:
    IDataObject* data_;
    IAdviseSink* other_;
};

TEST(DataObject, AnAdviseMadeWhileTheSinkIsAskedForKeepsTheSlot)
{
    RecordingSink first;
    TestTags tags;
    StreamTestGroup group;
    SinkAdvisingFirst second(group.Data(), &first);
    FORMATETC data{DataFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    DWORD token = 0;
    EXPECT_EQ(CONNECT_E_ADVISELIMIT, group.Data()->DAdvise(&data, 0, &second, &token));
    EXPECT_EQ(0u, second.refs) << "the refused sink is not kept";
    EXPECT_EQ(1u, first.refs());
}

TEST(DataObject, AdviseRefusalsAndTokens)
{
    RecordingSink sink;
    NotASink notASink;
    TestTags tags;
    StreamTestGroup group;
    FORMATETC data{DataFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    FORMATETC text{CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    // Medium, aspect and flags are not looked at.
    FORMATETC timeAsStream{DataTimeFormat(), nullptr, DVASPECT_ICON, 3, TYMED_ISTREAM};
    DWORD token = 0;
    const struct {
        FORMATETC* format;
        IAdviseSink* sink;
        DWORD* token;
        HRESULT result;
    } cases[] = {
        {&data, &sink, nullptr, E_POINTER},
        {&data, nullptr, &token, E_POINTER},
        {nullptr, &sink, &token, E_POINTER},
        {&text, &sink, &token, DV_E_FORMATETC},
        {&data, &notASink, &token, E_NOINTERFACE},
        {&data, &sink, &token, S_OK},
        {&data, &sink, &token, CONNECT_E_ADVISELIMIT},
        {&timeAsStream, &sink, &token, S_OK},
    };
    for (const auto& c : cases) {
        token = 0;
        EXPECT_EQ(c.result, group.Data()->DAdvise(c.format, ADVF_ONLYONCE, c.sink, c.token));
        if (c.result == S_OK) {
            EXPECT_EQ(c.format->cfFormat, token);
        }
    }
    EXPECT_EQ(2u, sink.refs());
    EXPECT_TRUE(sink.streams.empty()) << "nothing is sent at registration";

    // Another group hands out the same token.
    StreamTestGroup other(group.Server(), L"Other");
    EXPECT_EQ(S_OK, other.Data()->DAdvise(&data, 0, &sink, &token));
    EXPECT_EQ(DataFormat(), token);

    EXPECT_EQ(S_OK, group.Data()->DUnadvise(DataFormat()));
    EXPECT_EQ(OLE_E_NOCONNECTION, group.Data()->DUnadvise(DataFormat()));
    EXPECT_EQ(OLE_E_NOCONNECTION, group.Data()->DUnadvise(CF_TEXT));
    EXPECT_EQ(OLE_E_NOCONNECTION, group.Data()->DUnadvise(WriteCompleteFormat()));
    EXPECT_EQ(S_OK, group.Data()->DAdvise(&data, 0, &sink, &token)) << "advise again";
}

TEST(DataObject, TheGroupsEndReleasesEverySinkOnce)
{
    RecordingSink sinks[3];
    TestTags tags;
    {
        auto group = std::make_unique<StreamTestGroup>();
        const CLIPFORMAT formats[] = {DataFormat(), DataTimeFormat(), WriteCompleteFormat()};
        for (int i = 0; i < 3; ++i) ASSERT_EQ(S_OK, group->Advise(formats[i], &sinks[i]));
        // The part shares the group's identity and count.
        ComPtr<IUnknown> identity, viaData;
        ASSERT_EQ(S_OK, group->Items()->QueryInterface(IID_PPV_ARGS(&identity)));
        ASSERT_EQ(S_OK, group->Data()->QueryInterface(IID_PPV_ARGS(&viaData)));
        EXPECT_EQ(identity.Get(), viaData.Get());
    }
    for (const RecordingSink& sink : sinks) EXPECT_EQ(0u, sink.refs());
}

}  // namespace
