// The OPC DA 2.0 and OPC Common interfaces across processes: IOPCCommon and IOPCItemProperties
// from client to server, and the callbacks IOPCShutdown and IOPCDataCallback from the server's
// process into a client sink, every argument of every method.
#include "fake_values.h"
#include "opc_error.h"
#include "remote_fake_server.h"
#include "task_block_count.h"
#include "task_memory.h"

#include <gtest/gtest.h>

#include <ocidl.h>

#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

template <class Interface>
ComPtr<Interface> remote_as()
{
    ComPtr<Interface> result;
    EXPECT_HRESULT_SUCCEEDED(remote_server()->QueryInterface(IID_PPV_ARGS(&result)));
    return result;
}

std::vector<std::wstring> take_strings(LPWSTR* strings, DWORD count)
{
    TaskMem<LPWSTR> owner(strings);
    std::vector<std::wstring> all;
    for (DWORD i = 0; strings && i < count; ++i) {
        all.emplace_back(strings[i] ? strings[i] : L"<null>");
        CoTaskMemFree(strings[i]);
    }
    return all;
}

TEST(CommonMarshalling, LocaleClientNameAndErrorStringCross)
{
    auto common = remote_as<IOPCCommon>();
    ASSERT_NE(nullptr, common.Get());
    DWORD count = 0;
    TaskOut<LCID> locales;
    ASSERT_EQ(S_OK, common->QueryAvailableLocaleIDs(&count, locales.out()));
    ASSERT_EQ(std::size(fake::kLocales), count);
    for (DWORD i = 0; i < count; ++i) EXPECT_EQ(fake::kLocales[i], locales[i]);

    EXPECT_EQ(S_OK, common->SetLocaleID(0x804));
    EXPECT_EQ(E_INVALIDARG, common->SetLocaleID(0x407));
    LCID locale = 0;
    ASSERT_EQ(S_OK, common->GetLocaleID(&locale));
    EXPECT_EQ(0x804u, locale);
    ASSERT_EQ(S_OK, common->SetClientName(L"客户 Client"));

    TaskOut<wchar_t> text;
    ASSERT_EQ(S_OK, common->GetErrorString(OPC_E_INVALID_PID, text.out()));
    ASSERT_NE(nullptr, text.get()) << "string out-parameter arrived NULL";
    EXPECT_EQ(std::wstring(fake::kErrorStringPrefix) + L"C0040203 @2052" + fake::kForClient +
                  L"客户 Client",
              text.get());
}

TEST(CommonMarshalling, QueryAvailablePropertiesDeliversEveryArray)
{
    auto properties = remote_as<IOPCItemProperties>();
    ASSERT_NE(nullptr, properties.Get());
    wchar_t item[] = L"温度1";
    DWORD count = 0;
    TaskOut<DWORD> ids;
    LPWSTR* descriptions = nullptr;
    TaskOut<VARTYPE> types;
    ASSERT_EQ(S_OK, properties->QueryAvailableProperties(item, &count, ids.out(), &descriptions,
                                                         types.out()));
    ASSERT_NE(nullptr, descriptions) << "string array arrived NULL";
    ASSERT_EQ(std::size(fake::kPropertyIds), count);
    std::vector<std::wstring> expected;
    for (size_t i = 0; i < count; ++i) expected.push_back(fake::property_description(i, item));
    EXPECT_EQ(expected, take_strings(descriptions, count));
    for (DWORD i = 0; i < count; ++i) {
        EXPECT_EQ(fake::kPropertyIds[i], ids[i]);
        EXPECT_EQ(fake::kPropertyTypes[i], types[i]);
    }
}

TEST(CommonMarshalling, GetItemPropertiesDeliversValuesAndErrors)
{
    auto properties = remote_as<IOPCItemProperties>();
    ASSERT_NE(nullptr, properties.Get());
    wchar_t item[] = L"压力";
    DWORD ids[] = {1, fake::kUnknownProperty, 2, 101};
    TaskOut<VARIANT> values;
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_FALSE, properties->GetItemProperties(item, static_cast<DWORD>(std::size(ids)), ids,
                                                     values.out(), errors.out()));
    ASSERT_NE(nullptr, values.get());
    ASSERT_NE(nullptr, errors.get());
    EXPECT_EQ(VT_I2, values[0].vt);
    EXPECT_EQ(VT_R4, values[0].iVal);
    EXPECT_EQ(VT_EMPTY, values[1].vt);
    EXPECT_EQ(OPC_E_INVALID_PID, errors[1]);
    EXPECT_EQ(VT_R4, values[2].vt);
    EXPECT_FLOAT_EQ(fake::kPropertyValue, values[2].fltVal);
    ASSERT_EQ(VT_BSTR, values[3].vt);
    EXPECT_STREQ((fake::kDescriptionPrefix + std::wstring(item)).c_str(), values[3].bstrVal);
    for (DWORD i : {0u, 2u, 3u}) EXPECT_EQ(S_OK, errors[i]);
    for (DWORD i = 0; i < std::size(ids); ++i) VariantClear(&values[i]);
}

TEST(CommonMarshalling, LookupItemIDsDeliversStringsAndNulls)
{
    auto properties = remote_as<IOPCItemProperties>();
    ASSERT_NE(nullptr, properties.Get());
    wchar_t item[] = L"流量";
    DWORD ids[] = {101, 1, 5000};
    LPWSTR* itemIds = nullptr;
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_FALSE, properties->LookupItemIDs(item, static_cast<DWORD>(std::size(ids)), ids,
                                                 &itemIds, errors.out()));
    ASSERT_NE(nullptr, itemIds) << "string array arrived NULL";
    const std::vector<std::wstring> expected = {L"流量.101", L"<null>", L"流量.5000"};
    EXPECT_EQ(expected, take_strings(itemIds, static_cast<DWORD>(std::size(ids))));
    EXPECT_EQ(S_OK, errors[0]);
    EXPECT_EQ(OPC_E_INVALID_PID, errors[1]);
    EXPECT_EQ(S_OK, errors[2]);
}

// A client sink of both callback interfaces that keeps what arrives.
class RecordingSink : public IOPCShutdown, public IOPCDataCallback {
public:
    struct Items {
        DWORD transaction = 0;
        OPCHANDLE group = 0;
        HRESULT masterQuality = 0;
        HRESULT masterError = 0;
        std::vector<OPCHANDLE> handles;
        std::vector<VARIANT> values;
        std::vector<WORD> qualities;
        std::vector<FILETIME> timestamps;
        std::vector<HRESULT> errors;
    };

    ~RecordingSink()
    {
        for (Items* items : {&dataChange, &readComplete, &writeComplete}) clear(*items);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IOPCShutdown) {
            *ppv = static_cast<IOPCShutdown*>(this);
        } else if (riid == IID_IOPCDataCallback) {
            *ppv = static_cast<IOPCDataCallback*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    // Lives on the test's stack; the count only shows that the proxy lets go of it.
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }

    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) override
    {
        reasons.emplace_back(szReason ? szReason : L"<null>");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup,
                                           HRESULT hrMasterquality, HRESULT hrMastererror,
                                           DWORD dwCount, OPCHANDLE* phClientItems,
                                           VARIANT* pvValues, WORD* pwQualities,
                                           FILETIME* pftTimeStamps, HRESULT* pErrors) override
    {
        record(dataChange, dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
               phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup,
                                             HRESULT hrMasterquality, HRESULT hrMastererror,
                                             DWORD dwCount, OPCHANDLE* phClientItems,
                                             VARIANT* pvValues, WORD* pwQualities,
                                             FILETIME* pftTimeStamps, HRESULT* pErrors) override
    {
        record(readComplete, dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
               phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup,
                                              HRESULT hrMastererr, DWORD dwCount,
                                              OPCHANDLE* pClienthandles, HRESULT* pErrors) override
    {
        record(writeComplete, dwTransid, hGroup, 0, hrMastererr, dwCount, pClienthandles, nullptr,
               nullptr, nullptr, pErrors);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override
    {
        cancelTransaction = dwTransid;
        cancelGroup = hGroup;
        return S_OK;
    }

    ULONG references = 0;
    std::vector<std::wstring> reasons;
    Items dataChange, readComplete, writeComplete;
    DWORD cancelTransaction = 0;
    OPCHANDLE cancelGroup = 0;

private:
    static void clear(Items& items)
    {
        for (VARIANT& value : items.values) VariantClear(&value);
        items = Items{};
    }
    static void record(Items& items, DWORD transaction, OPCHANDLE group, HRESULT quality,
                       HRESULT error, DWORD count, OPCHANDLE* handles, VARIANT* values,
                       WORD* qualities, FILETIME* timestamps, HRESULT* errors)
    {
        clear(items);
        items.transaction = transaction;
        items.group = group;
        items.masterQuality = quality;
        items.masterError = error;
        for (DWORD i = 0; i < count; ++i) {
            items.handles.push_back(handles[i]);
            items.errors.push_back(errors[i]);
            if (values) {
                items.values.emplace_back();
                VariantInit(&items.values.back());
                VariantCopy(&items.values.back(), &values[i]);
            }
            if (qualities) items.qualities.push_back(qualities[i]);
            if (timestamps) items.timestamps.push_back(timestamps[i]);
        }
    }
};

// Advises `sink` at the fake's connection point for `iid`, which calls it back at once.
void advise(REFIID iid, IUnknown* sink)
{
    ComPtr<IConnectionPointContainer> container = remote_as<IConnectionPointContainer>();
    ASSERT_NE(nullptr, container.Get());
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, container->FindConnectionPoint(iid, &point));
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(sink, &cookie));
    EXPECT_EQ(fake::kCookie, cookie);
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
}

TEST(CallbackMarshalling, ShutdownRequestDeliversTheReason)
{
    RecordingSink sink;
    advise(IID_IOPCShutdown, static_cast<IOPCShutdown*>(&sink));
    ASSERT_EQ(1u, sink.reasons.size());
    EXPECT_EQ(fake::kShutdownReason, sink.reasons[0]);
    EXPECT_EQ(0u, sink.references) << "the server's process still holds the sink";
}

void expect_items(const RecordingSink::Items& items, DWORD transaction, bool withValues)
{
    EXPECT_EQ(transaction, items.transaction);
    EXPECT_EQ(fake::kCallbackGroup, items.group);
    EXPECT_EQ(fake::kMasterError, items.masterError);
    ASSERT_EQ(fake::kCallbackCount, items.handles.size());
    for (OPCHANDLE h = 1; h <= fake::kCallbackCount; ++h) {
        SCOPED_TRACE(h);
        EXPECT_EQ(fake::client_handle_of(h), items.handles[h - 1]);
        EXPECT_EQ(fake::callback_error_of(h), items.errors[h - 1]);
        if (!withValues) continue;
        EXPECT_EQ(fake::kMasterQuality, items.masterQuality);
        EXPECT_EQ(fake::quality_of(h), items.qualities[h - 1]);
        const FILETIME stamp = fake::timestamp_of(h);
        EXPECT_EQ(stamp.dwLowDateTime, items.timestamps[h - 1].dwLowDateTime);
        EXPECT_EQ(stamp.dwHighDateTime, items.timestamps[h - 1].dwHighDateTime);
        VARIANT expected;
        fake::initial_value(h, &expected);
        VARIANT arrived = items.values[h - 1];  // VarCmp takes no const; a shallow copy reads it
        EXPECT_EQ(VARCMP_EQ, VarCmp(&expected, &arrived, LOCALE_USER_DEFAULT, 0));
        VariantClear(&expected);
    }
}

TEST(CallbackMarshalling, DataCallbackDeliversEveryArgumentOfEveryMethod)
{
    RecordingSink sink;
    advise(IID_IOPCDataCallback, static_cast<IOPCDataCallback*>(&sink));
    {
        SCOPED_TRACE("OnDataChange");
        expect_items(sink.dataChange, fake::kCallbackTransaction, true);
    }
    {
        SCOPED_TRACE("OnReadComplete");
        expect_items(sink.readComplete, fake::kCallbackTransaction + 1, true);
    }
    {
        SCOPED_TRACE("OnWriteComplete");
        expect_items(sink.writeComplete, fake::kCallbackTransaction + 2, false);
    }
    EXPECT_EQ(fake::kCancelTransaction, sink.cancelTransaction);
    EXPECT_EQ(fake::kCallbackGroup, sink.cancelGroup);
    EXPECT_EQ(0u, sink.references) << "the server's process still holds the sink";
}

// The client's stub unmarshals the callbacks' VARIANT arrays into memory of its own and must
// free it after each call; IOPCItemProperties' [in] property IDs likewise on the server's side.
TEST(CallbackMarshalling, StubsFreeTheInArraysOfTheNewInterfaces)
{
    ASSERT_TRUE(fake::count_task_blocks());
    constexpr LONG kCalls = 20;
    {
        RecordingSink sink;
        const LONG before = fake::live_task_blocks();
        for (LONG i = 0; i < kCalls; ++i)
            advise(IID_IOPCDataCallback, static_cast<IOPCDataCallback*>(&sink));
        EXPECT_LT(fake::live_task_blocks() - before, kCalls)
            << "a block stays behind in the client per callback";
    }
    auto properties = remote_as<IOPCItemProperties>();
    ASSERT_NE(nullptr, properties.Get());
    wchar_t item[] = L"温度1";
    DWORD ids[] = {1, 2};
    expect_server_frees_each_call("IOPCItemProperties", [&] {
        TaskOut<VARIANT> values;
        TaskOut<HRESULT> errors;
        const HRESULT hr = properties->GetItemProperties(item, 2, ids, values.out(), errors.out());
        LPWSTR* itemIds = nullptr;
        TaskOut<HRESULT> lookupErrors;
        properties->LookupItemIDs(item, 2, ids, &itemIds, lookupErrors.out());
        take_strings(itemIds, 2);
        return hr;
    });
}

}  // namespace
