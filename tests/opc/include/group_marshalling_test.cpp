// The group interfaces across processes: IOPCGroupStateMgt, IOPCPublicGroupStateMgt,
// IOPCSyncIO, IOPCAsyncIO, IOPCItemMgt and IEnumOPCItemAttributes, every argument of every method.
#include "fake_values.h"
#include "opc_error.h"
#include "remote_fake_server.h"
#include "task_memory.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

// The per-entry results of a list call, freed with it.
std::vector<HRESULT> take_errors(HRESULT* errors, DWORD count)
{
    TaskMem<HRESULT> owner(errors);
    return errors ? std::vector<HRESULT>(errors, errors + count) : std::vector<HRESULT>{};
}

class GroupMarshalling : public ::testing::Test {
protected:
    void SetUp() override
    {
        state = add_remote_group(L"组 under test", &hServer);
        ASSERT_NE(nullptr, state.Get());
    }
    void TearDown() override { remote_server()->RemoveGroup(hServer, TRUE); }

    template <class Interface>
    ComPtr<Interface> as()
    {
        ComPtr<Interface> result;
        EXPECT_HRESULT_SUCCEEDED(state.As(&result));
        return result;
    }

    ComPtr<IOPCGroupStateMgt> state;
    OPCHANDLE hServer = 0;
};

TEST_F(GroupMarshalling, SetStateSendsOnlyTheGivenFields)
{
    DWORD rate = 250;
    BOOL active = FALSE;
    DWORD revised = 0;
    ASSERT_EQ(S_OK, state->SetState(&rate, &revised, &active, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(250u, revised);
    GroupStateSeen seen = get_state(state.Get());
    EXPECT_EQ(250u, seen.rate);
    EXPECT_EQ(FALSE, seen.active);
    EXPECT_EQ(-480, seen.bias) << "null pointers leave fields alone";

    LONG bias = 60;
    FLOAT deadband = 0.75f;
    DWORD lcid = 0x409;
    OPCHANDLE hClient = 0xC11E;
    ASSERT_EQ(S_OK, state->SetState(nullptr, &revised, nullptr, &bias, &deadband, &lcid, &hClient));
    seen = get_state(state.Get());
    EXPECT_EQ(250u, seen.rate);
    EXPECT_EQ(60, seen.bias);
    EXPECT_FLOAT_EQ(0.75f, seen.deadband);
    EXPECT_EQ(0x409u, seen.lcid);
    EXPECT_EQ(0xC11Eu, seen.hClient);
}

TEST_F(GroupMarshalling, SetNameAndCloneGroup)
{
    ASSERT_EQ(S_OK, state->SetName(L"新名字 renamed"));
    EXPECT_EQ(L"新名字 renamed", get_state(state.Get()).name);

    ComPtr<IOPCGroupStateMgt> clone;
    ASSERT_EQ(S_OK, state->CloneGroup(L"克隆", IID_IOPCGroupStateMgt,
                                      reinterpret_cast<IUnknown**>(clone.GetAddressOf())));
    ASSERT_NE(nullptr, clone.Get());
    const GroupStateSeen seen = get_state(clone.Get());
    EXPECT_EQ(L"克隆", seen.name);
    EXPECT_EQ(hServer + 1, seen.hServer);
}

TEST_F(GroupMarshalling, PublicGroupStateMgt)
{
    auto publicState = as<IOPCPublicGroupStateMgt>();
    ASSERT_NE(nullptr, publicState.Get());
    BOOL isPublic = TRUE;
    ASSERT_EQ(S_OK, publicState->GetState(&isPublic));
    EXPECT_EQ(FALSE, isPublic);
    ASSERT_EQ(S_OK, publicState->MoveToPublic());
    ASSERT_EQ(S_OK, publicState->GetState(&isPublic));
    EXPECT_EQ(TRUE, isPublic);
}

TEST_F(GroupMarshalling, SyncReadDeliversStatesAndErrors)
{
    auto sync = as<IOPCSyncIO>();
    OPCHANDLE handles[] = {3, 4, 5, fake::kBadHandle};  // R4, BOOL, BSTR, unknown
    TaskOut<OPCITEMSTATE> states;
    HRESULT* errors = nullptr;
    ASSERT_EQ(S_FALSE, sync->Read(OPC_DS_DEVICE, 4, handles, states.out(), &errors));
    EXPECT_EQ((std::vector<HRESULT>{S_OK, S_OK, S_OK, OPC_E_INVALIDHANDLE}),
              take_errors(errors, 4));
    ASSERT_NE(nullptr, states.get());
    for (int i = 0; i < 3; ++i) {
        const OPCITEMSTATE& s = states[i];
        const OPCHANDLE h = handles[i];
        EXPECT_EQ(fake::client_handle_of(h), s.hClient);
        const FILETIME stamp = fake::timestamp_of(h);
        EXPECT_EQ(0, CompareFileTime(&stamp, &s.ftTimeStamp));
        EXPECT_EQ(fake::quality_of(h), s.wQuality);
        ScopedVariant expected;
        fake::initial_value(h, expected.get());
        expect_value(*expected, s.vDataValue, "initial value");
    }
    for (int i = 0; i < 4; ++i) VariantClear(&states[i].vDataValue);

    EXPECT_EQ(E_INVALIDARG,
              sync->Read(static_cast<OPCDATASOURCE>(7), 1, handles, states.out(), &errors))
        << "the data source arrives";
}

TEST_F(GroupMarshalling, SyncWriteValuesReadBackIntact)
{
    auto sync = as<IOPCSyncIO>();
    OPCHANDLE handles[] = {20, 21, 22, fake::kBadHandle};
    VARIANT values[4];
    for (auto& v : values) VariantInit(&v);
    values[0].vt = VT_BSTR;
    values[0].bstrVal = SysAllocString(L"写入的中文 text");
    values[1].vt = VT_R4;
    values[1].fltVal = -12.25f;
    values[2].vt = VT_BOOL;
    values[2].boolVal = VARIANT_FALSE;
    values[3].vt = VT_R4;
    HRESULT* errors = nullptr;
    ASSERT_EQ(S_FALSE, sync->Write(4, handles, values, &errors));
    EXPECT_EQ((std::vector<HRESULT>{S_OK, S_OK, S_OK, OPC_E_INVALIDHANDLE}),
              take_errors(errors, 4));

    TaskOut<OPCITEMSTATE> states;
    ASSERT_EQ(S_OK, sync->Read(OPC_DS_CACHE, 3, handles, states.out(), &errors));
    take_errors(errors, 3);
    for (int i = 0; i < 3; ++i) {
        expect_value(values[i], states[i].vDataValue, "written value");
        VariantClear(&states[i].vDataValue);
    }
    for (auto& v : values) VariantClear(&v);
}

TEST_F(GroupMarshalling, AsyncReadWriteRefreshCancel)
{
    auto async = as<IOPCAsyncIO>();
    OPCHANDLE handles[] = {1, fake::kBadHandle, 2};
    DWORD transaction = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(S_FALSE, async->Read(0x42, OPC_DS_CACHE, 3, handles, &transaction, &errors));
    EXPECT_EQ((std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, S_OK}), take_errors(errors, 3));
    EXPECT_EQ(fake::read_transaction(0x42, 3), transaction);

    VARIANT values[2];
    for (auto& v : values) VariantInit(&v);
    values[0].vt = VT_R4;
    values[0].fltVal = 3.5f;
    values[1].vt = VT_BSTR;
    values[1].bstrVal = SysAllocString(L"异步");
    ASSERT_EQ(S_OK, async->Write(0x43, 2, handles + 2, values, &transaction, &errors));
    EXPECT_EQ((std::vector<HRESULT>{S_OK, S_OK}), take_errors(errors, 2));
    EXPECT_EQ(fake::write_transaction(0x43, 2), transaction);

    auto sync = as<IOPCSyncIO>();
    OPCHANDLE written[] = {2};
    TaskOut<OPCITEMSTATE> states;
    ASSERT_EQ(S_OK, sync->Read(OPC_DS_CACHE, 1, written, states.out(), &errors));
    take_errors(errors, 1);
    expect_value(values[0], states[0].vDataValue, "asynchronously written value");
    VariantClear(&states[0].vDataValue);
    for (auto& v : values) VariantClear(&v);

    ASSERT_EQ(S_OK, async->Refresh(0x44, OPC_DS_DEVICE, &transaction));
    EXPECT_EQ(fake::refresh_transaction(0x44, OPC_DS_DEVICE), transaction);
    EXPECT_EQ(S_OK, async->Cancel(transaction));
    EXPECT_EQ(E_FAIL, async->Cancel(transaction + 1));
}

// Two definitions: a valid one with a blob and access path, and one without item ID.
struct ItemDefinitions {
    BYTE blob[3] = {1, 2, 3};
    wchar_t accessPath[8] = L"路径";
    wchar_t itemId[8] = L"温度1";
    wchar_t empty[1] = L"";
    OPCITEMDEF defs[2] = {};
    ItemDefinitions()
    {
        defs[0] = {accessPath, itemId, TRUE, 0x501, 3, blob, VT_BSTR, 0};
        defs[1] = {accessPath, empty, FALSE, 0x502, 0, nullptr, VT_EMPTY, 0};
    }
};

// Frees the blobs of a result array along with it.
std::vector<OPCITEMRESULT> take_results(OPCITEMRESULT* results, DWORD count,
                                        std::vector<std::vector<BYTE>>& blobs)
{
    TaskMem<OPCITEMRESULT> owner(results);
    std::vector<OPCITEMRESULT> copy(results, results + count);
    for (auto& r : copy) {
        blobs.emplace_back(r.pBlob, r.pBlob + (r.pBlob ? r.dwBlobSize : 0));
        CoTaskMemFree(r.pBlob);
        r.pBlob = nullptr;
    }
    return copy;
}

TEST_F(GroupMarshalling, AddItemsDeliversResultsWithBlobs)
{
    auto items = as<IOPCItemMgt>();
    ItemDefinitions d;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(S_FALSE, items->AddItems(2, d.defs, &results, &errors));
    EXPECT_EQ((std::vector<HRESULT>{S_OK, OPC_E_INVALIDITEMID}), take_errors(errors, 2));
    std::vector<std::vector<BYTE>> blobs;
    const auto r = take_results(results, 2, blobs);
    EXPECT_EQ(fake::kFirstItemHandle, r[0].hServer);
    EXPECT_EQ(VT_BSTR, r[0].vtCanonicalDataType);
    EXPECT_EQ(OPC_READABLE | OPC_WRITEABLE, r[0].dwAccessRights);
    EXPECT_EQ(4u, r[0].dwBlobSize);
    EXPECT_EQ((std::vector<BYTE>{1, 2, 3, fake::kBlobMark}), blobs[0]);
    EXPECT_EQ(0u, r[1].dwBlobSize);
}

TEST_F(GroupMarshalling, ValidateItemsSendsBlobsOnlyWhenAsked)
{
    auto items = as<IOPCItemMgt>();
    ItemDefinitions d;
    for (const BOOL blobUpdate : {FALSE, TRUE}) {
        SCOPED_TRACE(blobUpdate);
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        ASSERT_EQ(S_FALSE, items->ValidateItems(2, d.defs, blobUpdate, &results, &errors));
        EXPECT_EQ((std::vector<HRESULT>{S_OK, OPC_E_INVALIDITEMID}), take_errors(errors, 2));
        std::vector<std::vector<BYTE>> blobs;
        const auto r = take_results(results, 2, blobs);
        EXPECT_EQ(0u, r[0].hServer);
        EXPECT_EQ(blobUpdate ? (std::vector<BYTE>{1, 2, 3, fake::kBlobMark}) : std::vector<BYTE>{},
                  blobs[0]);
    }
}

// Every record the enumerator still holds, strings and blobs copied out and freed.
struct AttributesSeen {
    std::wstring accessPath, itemId;
    BOOL active;
    OPCHANDLE hClient, hServer;
    DWORD rights;
    std::vector<BYTE> blob;
    VARTYPE requested, canonical;
    OPCEUTYPE euType;
    std::vector<double> euRange;
};

std::vector<AttributesSeen> next_attributes(IEnumOPCItemAttributes* attributes, ULONG celt,
                                            HRESULT expected)
{
    OPCITEMATTRIBUTES* records = nullptr;
    ULONG fetched = 0;
    EXPECT_EQ(expected, attributes->Next(celt, &records, &fetched));
    TaskMem<OPCITEMATTRIBUTES> owner(records);
    std::vector<AttributesSeen> seen;
    for (ULONG i = 0; i < fetched; ++i) {
        OPCITEMATTRIBUTES& a = records[i];
        TaskMem<wchar_t> path(a.szAccessPath), id(a.szItemID);
        TaskMem<BYTE> blob(a.pBlob);
        AttributesSeen s{path ? path.get() : L"<null>",
                         id ? id.get() : L"<null>",
                         a.bActive,
                         a.hClient,
                         a.hServer,
                         a.dwAccessRights,
                         {},
                         a.vtRequestedDataType,
                         a.vtCanonicalDataType,
                         a.dwEUType,
                         {}};
        if (a.pBlob) s.blob.assign(a.pBlob, a.pBlob + a.dwBlobSize);
        if (a.vEUInfo.vt == (VT_ARRAY | VT_R8) && a.vEUInfo.parray) {
            const double* range = static_cast<const double*>(a.vEUInfo.parray->pvData);
            s.euRange.assign(range, range + a.vEUInfo.parray->rgsabound[0].cElements);
        }
        VariantClear(&a.vEUInfo);
        seen.push_back(std::move(s));
    }
    return seen;
}

// The stub unmarshals the [in] arrays of structures into memory of its own; it must free it
// after the call, or the server keeps a block per call (48 bytes per OPCITEMDEF, 24 per VARIANT,
// 48 per OPCITEMVQT).
TEST_F(GroupMarshalling, StubFreesTheInArraysOfEveryCall)
{
    auto items = as<IOPCItemMgt>();
    auto sync = as<IOPCSyncIO2>();
    auto async = as<IOPCAsyncIO>();
    auto async3 = as<IOPCAsyncIO3>();
    auto deadbands = as<IOPCItemDeadbandMgt>();
    ItemDefinitions d;
    OPCHANDLE handles[] = {1, 2};
    VARIANT values[2];
    for (VARIANT& value : values) {
        VariantInit(&value);
        value.vt = VT_R4;
        value.fltVal = 2.5f;
    }
    VqtWrites writes;
    DWORD maxAges[] = {0, 1000};
    FLOAT percents[] = {1.5f, 2.5f};
    DWORD transaction = 0;
    const struct {
        const char* call;
        std::function<HRESULT(HRESULT**)> make;
    } calls[] = {
        {"IOPCItemMgt::ValidateItems",
         [&](HRESULT** errors) {
             OPCITEMRESULT* results = nullptr;
             const HRESULT hr = items->ValidateItems(2, d.defs, FALSE, &results, errors);
             std::vector<std::vector<BYTE>> blobs;
             take_results(results, 2, blobs);
             return hr;
         }},
        {"IOPCSyncIO::Write",
         [&](HRESULT** errors) { return sync->Write(2, handles, values, errors); }},
        {"IOPCAsyncIO::Write",
         [&](HRESULT** errors) {
             return async->Write(0x44, 2, handles, values, &transaction, errors);
         }},
        {"IOPCSyncIO2::ReadMaxAge",
         [&](HRESULT** errors) {
             TaskOut<VARIANT> read;
             TaskOut<WORD> qualities;
             TaskOut<FILETIME> stamps;
             const HRESULT hr = sync->ReadMaxAge(2, handles, maxAges, read.out(), qualities.out(),
                                                 stamps.out(), errors);
             for (int i = 0; SUCCEEDED(hr) && i < 2; ++i) VariantClear(&read[i]);
             return hr;
         }},
        {"IOPCSyncIO2::WriteVQT",
         [&](HRESULT** errors) { return sync->WriteVQT(2, handles, writes.vqt, errors); }},
        {"IOPCAsyncIO3::WriteVQT",
         [&](HRESULT** errors) {
             return async3->WriteVQT(2, handles, writes.vqt, 0x45, &transaction, errors);
         }},
        {"IOPCItemDeadbandMgt::SetItemDeadband",
         [&](HRESULT** errors) {
             return deadbands->SetItemDeadband(2, handles, percents, errors);
         }},
    };
    for (const auto& c : calls) {
        expect_server_frees_each_call(c.call, [&] {
            HRESULT* errors = nullptr;
            const HRESULT hr = c.make(&errors);
            take_errors(errors, 2);
            return hr;
        });
    }
}

// Inherited methods cross through the DA 3.0 interface's own proxy as through the base's.
TEST_F(GroupMarshalling, GroupStateMgt2KeepAliveIsRevised)
{
    auto state2 = as<IOPCGroupStateMgt2>();
    ASSERT_NE(nullptr, state2.Get());
    const struct {
        DWORD asked;
        HRESULT hr;
    } cases[] = {{0, S_OK}, {1000, OPC_S_UNSUPPORTEDRATE}, {0xFFFFFFFE, OPC_S_UNSUPPORTEDRATE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked);
        DWORD revised = 12345;
        EXPECT_EQ(c.hr, state2->SetKeepAlive(c.asked, &revised));
        EXPECT_EQ(fake::revised_keep_alive(c.asked), revised);
        DWORD kept = 12345;
        ASSERT_EQ(S_OK, state2->GetKeepAlive(&kept));
        EXPECT_EQ(revised, kept);
    }
    EXPECT_EQ(L"组 under test", get_state(state2.Get()).name);
    EXPECT_EQ(S_OK, state2->SetName(L"改名 2"));
    EXPECT_EQ(L"改名 2", get_state(state.Get()).name);
}

// ReadMaxAge: every maximum age arrives (it stamps the items no write stamped); WriteVQT: the
// value, and the quality and timestamp exactly where flagged, arrive and read back.
TEST_F(GroupMarshalling, SyncIO2WritesVqtAndReadsWithMaxAge)
{
    auto sync = as<IOPCSyncIO2>();
    ASSERT_NE(nullptr, sync.Get());
    OPCHANDLE unwritten[] = {3, 4, 5, fake::kBadHandle};  // R4, BOOL, BSTR, unknown
    DWORD ages[] = {0, 1000, 0xFFFFFFFF, 7};
    TaskOut<VARIANT> values;
    TaskOut<WORD> qualities;
    TaskOut<FILETIME> stamps;
    HRESULT* errors = nullptr;
    ASSERT_EQ(S_FALSE, sync->ReadMaxAge(4, unwritten, ages, values.out(), qualities.out(),
                                        stamps.out(), &errors));
    EXPECT_EQ((std::vector<HRESULT>{S_OK, S_OK, S_OK, OPC_E_INVALIDHANDLE}),
              take_errors(errors, 4));
    for (int i = 0; i < 3; ++i) {
        const OPCHANDLE h = unwritten[i];
        ScopedVariant expected;
        fake::initial_value(h, expected.get());
        expect_value(*expected, values[i], "initial value");
        EXPECT_EQ(fake::quality_of(h), qualities[i]);
        const FILETIME stamp = fake::max_age_timestamp(h, ages[i]);
        EXPECT_EQ(0, CompareFileTime(&stamp, &stamps[i]));
    }
    for (int i = 0; i < 4; ++i) VariantClear(&values[i]);

    VqtWrites writes;
    OPCHANDLE handles[VqtWrites::kCount] = {30, 31, 32, 33, 34, fake::kBadHandle};
    ASSERT_EQ(S_FALSE, sync->WriteVQT(VqtWrites::kCount, handles, writes.vqt, &errors));
    EXPECT_EQ(writes.errors(OPC_E_INVALIDHANDLE), take_errors(errors, VqtWrites::kCount));
    ASSERT_EQ(S_OK, sync->ReadMaxAge(VqtWrites::kWritten, handles, ages, values.out(),
                                     qualities.out(), stamps.out(), &errors));
    take_errors(errors, VqtWrites::kWritten);
    for (DWORD i = 0; i < VqtWrites::kWritten; ++i) {
        writes.expect_read_back(i, handles[i], ages[i], values[i], qualities[i], stamps[i]);
        VariantClear(&values[i]);
    }

    // IOPCSyncIO's Read through the IOPCSyncIO2 proxy sees the same write.
    TaskOut<OPCITEMSTATE> states;
    ASSERT_EQ(S_OK, sync->Read(OPC_DS_CACHE, 1, handles, states.out(), &errors));
    take_errors(errors, 1);
    expect_value(writes.vqt[0].vDataValue, states[0].vDataValue, "read through IOPCSyncIO");
    EXPECT_EQ(writes.vqt[0].wQuality, states[0].wQuality);
    VariantClear(&states[0].vDataValue);
}

TEST_F(GroupMarshalling, AsyncIO3CancelIdsComeFromEveryArgument)
{
    auto async = as<IOPCAsyncIO3>();
    ASSERT_NE(nullptr, async.Get());
    OPCHANDLE handles[] = {1, fake::kBadHandle, 2, 3};
    DWORD ages[] = {0, 250, 0xFFFFFFFF, 7};
    DWORD cancelId = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(S_FALSE, async->ReadMaxAge(4, handles, ages, 0x51, &cancelId, &errors));
    EXPECT_EQ((std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, S_OK, S_OK}),
              take_errors(errors, 4));
    EXPECT_EQ(fake::max_age_cancel_id(0x51, ages, 4), cancelId);

    VqtWrites writes;
    OPCHANDLE written[VqtWrites::kCount] = {40, 41, 42, 43, 44, fake::kBadHandle};
    ASSERT_EQ(S_FALSE,
              async->WriteVQT(VqtWrites::kCount, written, writes.vqt, 0x52, &cancelId, &errors));
    EXPECT_EQ(writes.errors(OPC_E_INVALIDHANDLE), take_errors(errors, VqtWrites::kCount));
    EXPECT_EQ(fake::write_transaction(0x52, VqtWrites::kCount), cancelId);
    auto sync = as<IOPCSyncIO2>();
    TaskOut<VARIANT> values;
    TaskOut<WORD> qualities;
    TaskOut<FILETIME> stamps;
    ASSERT_EQ(S_OK, sync->ReadMaxAge(VqtWrites::kWritten, written, ages, values.out(),
                                     qualities.out(), stamps.out(), &errors));
    take_errors(errors, VqtWrites::kWritten);
    for (DWORD i = 0; i < VqtWrites::kWritten; ++i) {
        writes.expect_read_back(i, written[i], ages[i], values[i], qualities[i], stamps[i]);
        VariantClear(&values[i]);
    }

    for (DWORD age : {0u, 1000u, 0xFFFFFFFFu}) {
        ASSERT_EQ(S_OK, async->RefreshMaxAge(age, 0x53, &cancelId));
        EXPECT_EQ(fake::max_age_cancel_id(0x53, &age, 1), cancelId) << age;
    }
}

TEST_F(GroupMarshalling, ItemDeadbandsSetGetAndClear)
{
    auto deadbands = as<IOPCItemDeadbandMgt>();
    ASSERT_NE(nullptr, deadbands.Get());
    OPCHANDLE set[] = {50, 51, 52, fake::kBadHandle, 53, 54};
    FLOAT percents[] = {0.0f, 12.5f, 100.0f, 5.0f, -1.0f, 100.5f};
    HRESULT* errors = nullptr;
    ASSERT_EQ(S_FALSE, deadbands->SetItemDeadband(6, set, percents, &errors));
    EXPECT_EQ(
        (std::vector<HRESULT>{S_OK, S_OK, S_OK, OPC_E_INVALIDHANDLE, E_INVALIDARG, E_INVALIDARG}),
        take_errors(errors, 6));

    const struct {
        OPCHANDLE h;
        FLOAT percent;
        HRESULT error;
    } got[] = {{50, 0.0f, S_OK},
               {51, 12.5f, S_OK},
               {52, 100.0f, S_OK},
               {53, 0.0f, fake::kDeadbandNotSet},
               {fake::kBadHandle, 0.0f, OPC_E_INVALIDHANDLE}};
    OPCHANDLE handles[std::size(got)];
    for (size_t i = 0; i < std::size(got); ++i) handles[i] = got[i].h;
    TaskOut<FLOAT> arrived;
    ASSERT_EQ(S_FALSE, deadbands->GetItemDeadband(std::size(got), handles, arrived.out(), &errors));
    const auto gotErrors = take_errors(errors, std::size(got));
    ASSERT_NE(nullptr, arrived.get());
    for (size_t i = 0; i < std::size(got); ++i) {
        SCOPED_TRACE(got[i].h);
        EXPECT_EQ(got[i].error, gotErrors[i]);
        EXPECT_FLOAT_EQ(got[i].percent, arrived[i]);
    }

    OPCHANDLE cleared[] = {51, 53, fake::kBadHandle};
    ASSERT_EQ(S_FALSE, deadbands->ClearItemDeadband(3, cleared, &errors));
    EXPECT_EQ((std::vector<HRESULT>{S_OK, fake::kDeadbandNotSet, OPC_E_INVALIDHANDLE}),
              take_errors(errors, 3));
    ASSERT_EQ(S_FALSE, deadbands->GetItemDeadband(1, cleared, arrived.out(), &errors));
    EXPECT_EQ(std::vector<HRESULT>{fake::kDeadbandNotSet}, take_errors(errors, 1));
}

TEST_F(GroupMarshalling, ItemChangesAndAttributeEnumerator)
{
    auto items = as<IOPCItemMgt>();
    ItemDefinitions d;
    d.defs[1] = d.defs[0];
    d.defs[1].hClient = 0x503;
    d.defs[1].dwBlobSize = 0;
    d.defs[1].pBlob = nullptr;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(S_OK, items->AddItems(2, d.defs, &results, &errors));
    take_errors(errors, 2);
    std::vector<std::vector<BYTE>> blobs;
    const auto added = take_results(results, 2, blobs);
    OPCHANDLE handles[] = {added[0].hServer, added[1].hServer, 0xDEAD};

    ASSERT_EQ(S_FALSE, items->SetActiveState(3, handles, FALSE, &errors));
    EXPECT_EQ((std::vector<HRESULT>{S_OK, S_OK, OPC_E_INVALIDHANDLE}), take_errors(errors, 3));
    OPCHANDLE clients[] = {0x601, 0x602, 0x603};
    ASSERT_EQ(S_FALSE, items->SetClientHandles(3, handles, clients, &errors));
    EXPECT_EQ((std::vector<HRESULT>{S_OK, S_OK, OPC_E_INVALIDHANDLE}), take_errors(errors, 3));
    VARTYPE types[] = {VT_R4, VT_I8, VT_BOOL};
    ASSERT_EQ(S_FALSE, items->SetDatatypes(3, handles, types, &errors));
    EXPECT_EQ((std::vector<HRESULT>{S_OK, OPC_E_BADTYPE, OPC_E_INVALIDHANDLE}),
              take_errors(errors, 3));

    ComPtr<IEnumOPCItemAttributes> attributes;
    ASSERT_EQ(S_OK,
              items->CreateEnumerator(IID_IEnumOPCItemAttributes,
                                      reinterpret_cast<IUnknown**>(attributes.GetAddressOf())));
    ASSERT_NE(nullptr, attributes.Get());
    auto seen = next_attributes(attributes.Get(), 5, S_FALSE);
    ASSERT_EQ(2u, seen.size());
    const AttributesSeen& first = seen[0];
    EXPECT_EQ(L"路径", first.accessPath);
    EXPECT_EQ(L"温度1", first.itemId);
    EXPECT_EQ(FALSE, first.active);
    EXPECT_EQ(0x601u, first.hClient);
    EXPECT_EQ(added[0].hServer, first.hServer);
    EXPECT_EQ(OPC_READABLE | OPC_WRITEABLE, first.rights);
    EXPECT_EQ((std::vector<BYTE>{1, 2, 3}), first.blob);
    EXPECT_EQ(VT_R4, first.requested);
    EXPECT_EQ(VT_BSTR, first.canonical);
    EXPECT_EQ(OPC_ANALOG, first.euType);
    EXPECT_EQ((std::vector<double>{fake::kEuLow, fake::kEuHigh}), first.euRange);
    EXPECT_EQ(0x602u, seen[1].hClient);
    EXPECT_EQ(VT_BSTR, seen[1].requested) << "the refused type change left it alone";
    EXPECT_TRUE(seen[1].blob.empty());

    EXPECT_EQ(S_OK, attributes->Reset());
    EXPECT_EQ(S_OK, attributes->Skip(1));
    ComPtr<IEnumOPCItemAttributes> clone;
    ASSERT_EQ(S_OK, attributes->Clone(clone.GetAddressOf()));
    seen = next_attributes(clone.Get(), 1, S_OK);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(added[1].hServer, seen[0].hServer);
    EXPECT_TRUE(next_attributes(clone.Get(), 1, S_FALSE).empty());
    EXPECT_EQ(S_FALSE, attributes->Skip(2));

    ASSERT_EQ(S_FALSE, items->RemoveItems(3, handles, &errors));
    EXPECT_EQ((std::vector<HRESULT>{S_OK, S_OK, OPC_E_INVALIDHANDLE}), take_errors(errors, 3));
    ASSERT_EQ(S_OK, items->CreateEnumerator(
                        IID_IEnumOPCItemAttributes,
                        reinterpret_cast<IUnknown**>(attributes.ReleaseAndGetAddressOf())));
    EXPECT_TRUE(next_attributes(attributes.Get(), 1, S_FALSE).empty());
}

// pceltFetched is a [ref] pointer in the published declaration (no local/remote pair as
// IEnumString has): without it Next cannot be called through the proxy, not even for one record.
TEST_F(GroupMarshalling, AttributeNextWithoutFetchedCountIsRefusedByTheProxy)
{
    auto items = as<IOPCItemMgt>();
    ComPtr<IEnumOPCItemAttributes> attributes;
    ASSERT_EQ(S_OK,
              items->CreateEnumerator(IID_IEnumOPCItemAttributes,
                                      reinterpret_cast<IUnknown**>(attributes.GetAddressOf())));
    OPCITEMATTRIBUTES* records = nullptr;
    EXPECT_EQ(HRESULT_FROM_WIN32(RPC_X_NULL_REF_POINTER), attributes->Next(1, &records, nullptr));
    EXPECT_EQ(nullptr, records);
}

}  // namespace
