// Items of the running server's tags, added, read, written, enumerated and browsed from other
// processes: opcclient.exe as a user runs it, and this test program as a client program.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "opc_da.h"
#include "opc_error.h"
#include "server_identity.h"
#include "tests/e2e/opc_server_e2e_environment.h"
#include "tests/opc/include/task_memory.h"
#include "viewer/bounded_wait.h"

using Microsoft::WRL::ComPtr;

namespace {

// The project's tags: Level (integer 42), 温度 (real 36.5), Operator (string 张三), Pump
// (discrete 1), Pump.Speed (integer 40), Valve.Open (discrete 1).
const std::vector<std::wstring> kTagNames = {L"Level", L"\x6E29\x5EA6", L"Operator",
                                             L"Pump",  L"Pump.Speed",   L"Valve.Open"};

// opcclient.exe's output of one run, and its exit code.
struct ToolRun {
    DWORD exitCode;
    std::string output;
    bool Shows(const std::string& part) const { return output.find(part) != std::string::npos; }
};

ToolRun Opcclient(const std::wstring& arguments, const wchar_t* client = kOpcclients[0])
{
    ToolRun run{};
    run.exitCode = RunProgram(client, arguments, run.output);
    return run;
}

TEST(OpcClientItems, BrowsesBranchesLeavesAndAllTagsInBothBitnesses)
{
    for (const wchar_t* client : kOpcclients) {
        const ToolRun run =
            Opcclient(L"browse branches + browse leaves + browse + browse flat R8", client);
        ASSERT_EQ(0u, run.exitCode) << run.output;
        EXPECT_TRUE(
            run.Shows("branches:\n  Tagname\nleaves:\n  Level\n  温度\n  Operator\n  Pump\n"
                      "  Pump.Speed\n  Valve.Open\n"
                      "flat:\n  Level\n  温度\n  Operator\n  Pump\n  Pump.Speed\n  Valve.Open\n"
                      "flat (none for VT_R8):\n"))
            << run.output;
    }
}

TEST(OpcClientItems, AddsAndReadsEveryKindFromCacheOrDevice)
{
    ToolRun run = Opcclient(L"add Level Tagname.Operator NoSuch");
    EXPECT_EQ(3u, run.exitCode) << run.output;
    EXPECT_TRUE(run.Shows("Level: server handle 0, canonical type VT_I4")) << run.output;
    EXPECT_TRUE(run.Shows("Tagname.Operator: server handle 1, canonical type VT_BSTR"))
        << run.output;
    EXPECT_TRUE(run.Shows("NoSuch: ")) << run.output;
    EXPECT_TRUE(run.Shows("(0xC0040004)")) << run.output;

    for (const wchar_t* client : kOpcclients) {
        run = Opcclient(L"read Level 温度 Operator Pump --source device", client);
        ASSERT_EQ(0u, run.exitCode) << run.output;
        EXPECT_TRUE(run.Shows("Level = 42 (VT_I4)  quality good (0xC0)  20")) << run.output;
        EXPECT_TRUE(run.Shows("温度 = 36.5 (VT_R4)  quality good (0xC0)")) << run.output;
        EXPECT_TRUE(run.Shows("Operator = \"张三\" (VT_BSTR)  quality good (0xC0)")) << run.output;
        EXPECT_TRUE(run.Shows("Pump = true (1) (VT_BOOL)  quality good (0xC0)")) << run.output;
    }

    run = Opcclient(L"read Level 温度 --type R8 + read Operator --type I4");
    EXPECT_EQ(3u, run.exitCode) << run.output;
    EXPECT_TRUE(run.Shows("Level = 42 (VT_R8)  quality good (0xC0)")) << run.output;
    EXPECT_TRUE(run.Shows("温度 = 36.5 (VT_R8)")) << run.output;
    EXPECT_TRUE(run.Shows("Operator = \"张三\" (VT_BSTR)  quality bad (0x00)")) << run.output;
}

// A client program's own group on its own server object.
class ItemsAcrossProcesses : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr,
                                                  CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&server_)));
        OPCHANDLE handle = 0;
        DWORD revised = 0;
        ASSERT_EQ(S_OK, server_->AddGroup(L"items", TRUE, 1000, 0, nullptr, nullptr, 0, &handle,
                                          &revised, IID_IOPCItemMgt,
                                          reinterpret_cast<IUnknown**>(items_.GetAddressOf())));
        ASSERT_EQ(S_OK, items_.As(&io_));
    }

    // Reads the handles from the device; the values are the caller's to clear.
    void Read(std::vector<OPCHANDLE> handles, TaskOut<OPCITEMSTATE>& states,
              TaskOut<HRESULT>& errors)
    {
        ASSERT_EQ(S_OK, io_->Read(OPC_DS_DEVICE, static_cast<DWORD>(handles.size()), handles.data(),
                                  states.out(), errors.out()));
    }

    ComPtr<IOPCServer> server_;
    ComPtr<IOPCItemMgt> items_;
    ComPtr<IOPCSyncIO> io_;
};

TEST_F(ItemsAcrossProcesses, EveryKindIsAddedReadAndWritten)
{
    std::vector<std::wstring> itemIds = {L"Level", L"Tagname.\x6E29\x5EA6", L"A.B.Operator",
                                         L"Pump", L"pump"};
    std::vector<OPCITEMDEF> definitions;
    for (std::wstring& id : itemIds) {
        OPCITEMDEF definition{};
        definition.szItemID = id.data();
        definition.bActive = TRUE;
        definition.hClient = static_cast<OPCHANDLE>(definitions.size() + 100);
        definitions.push_back(definition);
    }
    TaskOut<OPCITEMRESULT> results;
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_FALSE, items_->AddItems(5, definitions.data(), results.out(), errors.out()));
    const VARTYPE canonical[] = {VT_I4, VT_R4, VT_BSTR, VT_BOOL};
    for (OPCHANDLE i = 0; i < 4; ++i) {
        EXPECT_EQ(S_OK, errors[i]) << i;
        EXPECT_EQ(i, results[i].hServer);
        EXPECT_EQ(canonical[i], results[i].vtCanonicalDataType) << i;
        EXPECT_EQ(3u, results[i].dwAccessRights);
    }
    EXPECT_EQ(OPC_E_BADTYPE, errors[4]);

    {
        TaskOut<OPCITEMSTATE> states;
        TaskOut<HRESULT> readErrors;
        Read({0, 1, 2, 3, 10000}, states, readErrors);
        EXPECT_EQ(42, states[0].vDataValue.lVal);
        EXPECT_EQ(36.5f, states[1].vDataValue.fltVal);
        EXPECT_STREQ(L"\x5F20\x4E09", states[2].vDataValue.bstrVal);
        EXPECT_EQ(1, states[3].vDataValue.boolVal);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(S_OK, readErrors[i]);
            EXPECT_EQ(OPC_QUALITY_GOOD, states[i].wQuality);
            EXPECT_EQ(static_cast<OPCHANDLE>(100 + i), states[i].hClient);
            EXPECT_NE(0u, states[i].ftTimeStamp.dwHighDateTime);
            VariantClear(&states[i].vDataValue);
        }
        EXPECT_EQ(OPC_E_INVALIDHANDLE, readErrors[4]);
        EXPECT_EQ(VT_EMPTY, states[4].vDataValue.vt);
    }

    VARIANT values[5];
    for (VARIANT& value : values) VariantInit(&value);
    values[0].vt = VT_BSTR;
    values[0].bstrVal = SysAllocString(L"17");
    values[1].vt = VT_R8;
    values[1].dblVal = -3.25;
    values[2].vt = VT_BSTR;
    values[2].bstrVal = SysAllocString(L"\x674E\x56DB");
    values[3].vt = VT_BOOL;
    values[3].boolVal = VARIANT_FALSE;
    values[4].vt = VT_ARRAY | VT_I4;
    values[4].parray = SafeArrayCreateVector(VT_I4, 0, 3);
    OPCHANDLE handles[] = {0, 1, 2, 3, 0};
    TaskOut<HRESULT> writeErrors;
    ASSERT_EQ(S_OK, io_->Write(5, handles, values, writeErrors.out()));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(S_OK, writeErrors[i]) << i;
    EXPECT_EQ(OPC_E_BADTYPE, writeErrors[4]) << "an array is no value of a tag";
    for (VARIANT& value : values) VariantClear(&value);

    TaskOut<OPCITEMSTATE> states;
    TaskOut<HRESULT> readErrors;
    Read({0, 1, 2, 3}, states, readErrors);
    EXPECT_EQ(17, states[0].vDataValue.lVal);
    EXPECT_EQ(-3.25f, states[1].vDataValue.fltVal);
    EXPECT_STREQ(L"\x674E\x56DB", states[2].vDataValue.bstrVal);
    EXPECT_EQ(VARIANT_FALSE, states[3].vDataValue.boolVal);
    for (int i = 0; i < 4; ++i) VariantClear(&states[i].vDataValue);
}

TEST_F(ItemsAcrossProcesses, AttributesAreEnumeratedWithTheItemIdsAsAdded)
{
    OPCITEMDEF definitions[2] = {};
    definitions[0].szItemID = const_cast<LPWSTR>(L"Tagname.Level");
    definitions[0].szAccessPath = const_cast<LPWSTR>(L"");
    definitions[1].szItemID = const_cast<LPWSTR>(L"\x6E29\x5EA6");
    definitions[1].bActive = TRUE;
    definitions[1].vtRequestedDataType = VT_R8;
    TaskOut<OPCITEMRESULT> results;
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_OK, items_->AddItems(2, definitions, results.out(), errors.out()));

    ComPtr<IEnumOPCItemAttributes> attributes;
    ASSERT_EQ(S_OK,
              items_->CreateEnumerator(IID_IEnumOPCItemAttributes,
                                       reinterpret_cast<IUnknown**>(attributes.GetAddressOf())));
    TaskOut<OPCITEMATTRIBUTES> records;
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, attributes->Next(5, records.out(), &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_STREQ(L"Tagname.Level", records[0].szItemID);
    EXPECT_FALSE(records[0].bActive);
    EXPECT_EQ(VT_I4, records[0].vtCanonicalDataType);
    EXPECT_STREQ(L"\x6E29\x5EA6", records[1].szItemID);
    EXPECT_EQ(1u, records[1].hServer);
    EXPECT_EQ(VT_R8, records[1].vtRequestedDataType);
    EXPECT_EQ(VT_R4, records[1].vtCanonicalDataType);
    for (ULONG i = 0; i < fetched; ++i) {
        CoTaskMemFree(records[i].szItemID);
        CoTaskMemFree(records[i].szAccessPath);
    }
    ComPtr<IEnumOPCItemAttributes> clone;
    ASSERT_EQ(S_OK, attributes->Clone(&clone));
    EXPECT_EQ(S_FALSE, clone->Skip(1)) << "the clone starts where its source stood";
}

// The names browsing lists of `type` at the browser's position.
std::vector<std::wstring> Browsed(IOPCBrowseServerAddressSpace* browse, OPCBROWSETYPE type)
{
    ComPtr<IEnumString> names;
    EXPECT_EQ(S_OK, browse->BrowseOPCItemIDs(type, L"", VT_EMPTY, 0, &names));
    std::vector<std::wstring> listed;
    for (;;) {
        LPOLESTR name = nullptr;
        ULONG fetched = 0;
        if (!names || names->Next(1, &name, &fetched) != S_OK) break;
        listed.push_back(name);
        CoTaskMemFree(name);
    }
    return listed;
}

TEST_F(ItemsAcrossProcesses, BrowsedNamesAndItemIdsReachTheClient)
{
    ComPtr<IOPCBrowseServerAddressSpace> browse;
    ASSERT_EQ(S_OK, server_.As(&browse));
    const struct {
        OPCBROWSEDIRECTION direction;
        const wchar_t* name;
        HRESULT result;
        bool inBranch;  // where the browser stands afterwards
    } steps[] = {
        {OPC_BROWSE_DOWN, L"Tagname", S_OK, true},
        {OPC_BROWSE_TO, L"", S_OK, false},
        {OPC_BROWSE_TO, L"Tagname", S_OK, true},
        {OPC_BROWSE_TO, L"Level", E_INVALIDARG, true},
        {OPC_BROWSE_UP, L"", S_OK, false},
        {OPC_BROWSE_TO, L"Level", E_INVALIDARG, false},
        {OPC_BROWSE_TO, L"Tagname", S_OK, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(testing::Message() << step.direction << " " << step.name);
        EXPECT_EQ(step.result, browse->ChangeBrowsePosition(step.direction, step.name));
        EXPECT_EQ(step.inBranch ? kTagNames : std::vector<std::wstring>{},
                  Browsed(browse.Get(), OPC_LEAF));
        EXPECT_EQ(
            step.inBranch ? std::vector<std::wstring>{} : std::vector<std::wstring>{L"Tagname"},
            Browsed(browse.Get(), OPC_BRANCH));
    }

    TaskOut<wchar_t> itemId;
    ASSERT_EQ(S_OK, browse->GetItemID(const_cast<LPWSTR>(L" \x6E29\x5EA6\t"), itemId.out()));
    ASSERT_NE(nullptr, itemId.get()) << "the string crosses the process boundary";
    EXPECT_STREQ(L"\x6E29\x5EA6", itemId.get());
    ComPtr<IEnumString> paths;
    EXPECT_EQ(E_NOTIMPL, browse->BrowseAccessPaths(L"Level", &paths));
}

TEST_F(ItemsAcrossProcesses, EveryBrowsedItemIdIsAddedAndHasProperties)
{
    ComPtr<IOPCBrowseServerAddressSpace> browse;
    ASSERT_EQ(S_OK, server_.As(&browse));
    ComPtr<IOPCItemProperties> properties;
    ASSERT_EQ(S_OK, server_.As(&properties));
    std::vector<std::wstring> itemIds;
    for (std::wstring& name : Browsed(browse.Get(), OPC_FLAT)) {
        TaskOut<wchar_t> id;
        ASSERT_EQ(S_OK, browse->GetItemID(name.data(), id.out()));
        itemIds.push_back(id.get());
    }
    ASSERT_EQ(kTagNames, itemIds);

    std::vector<OPCITEMDEF> definitions;
    for (size_t i = 0; i < itemIds.size(); ++i) {
        OPCITEMDEF definition{};
        definition.szItemID = itemIds[i].data();
        definitions.push_back(definition);
        DWORD valueProperty = 2;
        TaskOut<VARIANT> values;
        TaskOut<HRESULT> errors;
        EXPECT_EQ(S_OK, properties->GetItemProperties(itemIds[i].data(), 1, &valueProperty,
                                                      values.out(), errors.out()))
            << i;
        if (values.get()) VariantClear(values.get());
    }
    TaskOut<OPCITEMRESULT> results;
    TaskOut<HRESULT> errors;
    EXPECT_EQ(S_OK, items_->AddItems(static_cast<DWORD>(definitions.size()), definitions.data(),
                                     results.out(), errors.out()));
    for (size_t i = 0; results.get() && i < definitions.size(); ++i)
        EXPECT_EQ(S_OK, errors[i]) << i;
}

// Each write reaches the Viewer, changing the values the tests above read: this suite stays
// last in the program.
TEST(OpcClientWrites, WritesConvertedValuesThatAReadSeesAtOnce)
{
    const struct {
        std::wstring arguments;
        std::string shown;
    } cases[] = {
        {L"write 温度 12.5", "温度 = 12.5 (VT_R4)"},
        {L"write Level 3.5 --type R8", "Level = 4 (VT_I4)"},
        {L"write Level 2.5 --type R8", "Level = 2 (VT_I4)"},
        {L"write Pump 1 --type I4", "Pump = true (-1) (VT_BOOL)"},
        {L"write Pump 0", "Pump = false (0) (VT_BOOL)"},
        {L"write Operator 李四", "Operator = \"李四\" (VT_BSTR)"},
        {L"write Operator 7 --type I2", "Operator = \"7\" (VT_BSTR)"},
    };
    for (const auto& c : cases) {
        const ToolRun run = Opcclient(c.arguments);
        EXPECT_EQ(0u, run.exitCode) << run.output;
        EXPECT_TRUE(run.Shows("wrote ")) << run.output;
        EXPECT_TRUE(run.Shows(c.shown + "  quality good (0xC0)")) << run.output;
        EXPECT_TRUE(run.Shows("taken by the server's update pass")) << run.output;
    }
    const ToolRun refused = Opcclient(L"write Level abc");
    EXPECT_EQ(3u, refused.exitCode) << refused.output;
    EXPECT_TRUE(refused.Shows("(0xC0040004)")) << refused.output;
}

// Two clients write one tag within one poll period: the later write reaches the Viewer, whichever
// server object the update pass visits first.
TEST_F(ItemsAcrossProcesses, OfTwoClientsWritesTheLaterWins)
{
    ComPtr<IOPCServer> otherServer;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr,
                                              CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&otherServer)));
    OPCHANDLE groupHandle = 0;
    DWORD revised = 0;
    ComPtr<IOPCItemMgt> otherItems;
    ASSERT_EQ(S_OK, otherServer->AddGroup(L"other", TRUE, 1000, 0, nullptr, nullptr, 0,
                                          &groupHandle, &revised, IID_IOPCItemMgt,
                                          reinterpret_cast<IUnknown**>(otherItems.GetAddressOf())));
    ComPtr<IOPCSyncIO> otherIo;
    ASSERT_EQ(S_OK, otherItems.As(&otherIo));
    OPCITEMDEF definition{};
    definition.szItemID = const_cast<LPWSTR>(L"Level");
    definition.bActive = TRUE;
    for (IOPCItemMgt* items : {items_.Get(), otherItems.Get()}) {
        TaskOut<OPCITEMRESULT> results;
        TaskOut<HRESULT> errors;
        ASSERT_EQ(S_OK, items->AddItems(1, &definition, results.out(), errors.out()));
    }
    // The newer server object writes first, the older one (visited first) after it.
    const auto write = [](IOPCSyncIO* io, LONG number) {
        OPCHANDLE handle = 0;
        VARIANT value{};
        value.vt = VT_I4;
        value.lVal = number;
        TaskOut<HRESULT> errors;
        EXPECT_EQ(S_OK, io->Write(1, &handle, &value, errors.out()));
    };
    write(otherIo.Get(), 501);
    write(io_.Get(), 502);
    const auto level = [](IOPCSyncIO* io) {
        TaskOut<OPCITEMSTATE> states;
        TaskOut<HRESULT> errors;
        OPCHANDLE handle = 0;
        if (io->Read(OPC_DS_DEVICE, 1, &handle, states.out(), errors.out()) != S_OK) return 0L;
        return states[0].vDataValue.lVal;
    };
    // The earlier writer's item shows the later value once the Viewer took it; had the earlier
    // write been posted last, the Viewer would keep 501.
    EXPECT_TRUE(WaitUntil([&] { return level(otherIo.Get()) == 502; }, 10000));
    EXPECT_EQ(502, level(io_.Get()));
    ComPtr<IOPCSyncIO> orphan = otherIo;
    otherItems.Reset();
    otherIo.Reset();
    otherServer.Reset();
    OPCHANDLE handle = 0;
    VARIANT value{};
    HRESULT* errors = nullptr;
    EXPECT_EQ(CO_E_OBJNOTCONNECTED, orphan->Write(1, &handle, &value, &errors))
        << "a write on a group whose server object is released would never be delivered";
}

// The Viewer restarts with its project's initial values: this test comes after the others that
// read them.
TEST_F(ItemsAcrossProcesses, WhileTheViewerIsGoneQualitiesAreBadAndWritesRefused)
{
    OPCITEMDEF definition{};
    definition.szItemID = const_cast<LPWSTR>(L"Level");
    definition.bActive = TRUE;
    TaskOut<OPCITEMRESULT> results;
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_OK, items_->AddItems(1, &definition, results.out(), errors.out()));
    const auto quality = [this] {
        TaskOut<OPCITEMSTATE> states;
        TaskOut<HRESULT> readErrors;
        OPCHANDLE handle = 0;
        if (io_->Read(OPC_DS_DEVICE, 1, &handle, states.out(), readErrors.out()) != S_OK) return 0;
        VariantClear(&states[0].vDataValue);
        return int{states[0].wQuality};
    };
    const auto write = [this] {
        OPCHANDLE handle = 0;
        VARIANT value{};
        value.vt = VT_I4;
        value.lVal = 8;
        TaskOut<HRESULT> writeErrors;
        return io_->Write(1, &handle, &value, writeErrors.out()) == S_OK ? writeErrors[0] : E_FAIL;
    };
    EXPECT_EQ(OPC_QUALITY_GOOD, quality());

    ASSERT_TRUE(CloseViewer());
    // The server notices with its next poll cycle.
    EXPECT_TRUE(WaitUntil([&] { return quality() == OPC_QUALITY_COMM_FAILURE; }, 10000));
    EXPECT_EQ(OPC_SERVER_E_VIEWER_NOT_RUNNING, write());

    ASSERT_TRUE(StartViewer());
    EXPECT_TRUE(WaitUntil([&] { return quality() == OPC_QUALITY_GOOD; }, 10000));
    EXPECT_EQ(S_OK, write());
}

}  // namespace
