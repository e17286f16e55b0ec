// A group's DA 2.0 side in the server's process: the IOPCDataCallback connection point, the
// data changes that carry only what changed, and IOPCAsyncIO2's requests and completions.
#include <gtest/gtest.h>

#include <olectl.h>

#include <functional>
#include <string>
#include <vector>

#include "opc/datachange/update_pass.h"
#include "opc/group/group_object.h"
#include "opc/values/call_limits.h"
#include "opc_error.h"
#include "runtime_link/tag_mirror.h"
#include "tests/opc/datachange/proxy_registered.h"
#include "tests/opc/datachange/recording_callback.h"
#include "tests/opc/datachange/recording_sink.h"
#include "tests/opc/datachange/sink_in_other_apartment.h"
#include "tests/opc/datachange/stream_test_group.h"
#include "tests/opc/datachange/viewer_gone.h"
#include "tests/opc/group/test_tags.h"
#include "tests/opc/include/task_memory.h"
#include "tests/opc/values/variant_maker.h"
#include "viewer/win_handles.h"

namespace {

constexpr int kIntSlot = 1;
constexpr OPCHANDLE kGroupClient = 7;

// The calls of a recording callback since `from`, each as its kind ('d' data change, 'r' read,
// 'w' write, 'c' cancel), its transaction ID when not 0, and its items' "client=value" (a
// write's "client=error" as 0 or 1), joined by " | ".
std::string Calls(const RecordingCallback& callback, size_t from = 0)
{
    std::string text;
    for (size_t i = from; i < callback.calls.size(); ++i) {
        const CallbackRecord& call = callback.calls[i];
        if (!text.empty()) text += " | ";
        text += "drwc"[call.kind];
        if (call.transactionId) text += std::to_string(call.transactionId);
        if (call.kind == CallbackRecord::WriteComplete) {
            text += "[";
            for (const auto& item : call.items) {
                text += std::to_string(item.client) + "=" + (item.error == S_OK ? "0" : "1") + " ";
            }
            text += "]";
        } else if (call.kind != CallbackRecord::CancelComplete) {
            text += "[" + ItemValues(call) + "]";
        }
    }
    return text;
}

// The calls of Calls() without the update pass's data changes (those without a transaction).
std::string WithoutDataChanges(const std::string& calls)
{
    std::string kept;
    size_t start = 0;
    while (start < calls.size()) {
        size_t end = calls.find(" | ", start);
        if (end == std::string::npos) end = calls.size();
        const std::string call = calls.substr(start, end - start);
        if (call.rfind("d[", 0) != 0) kept += (kept.empty() ? "" : " | ") + call;
        start = end + 3;
    }
    return kept;
}

// Counts the message loop's turns asked for prompt answers while it lives; none set: the
// update pass answers.
class PromptPoster {
public:
    explicit PromptPoster(int* posts)
    {
        if (!posts) return;
        SetPromptCompletionPoster(
            [](void* count) {
                ++*static_cast<int*>(count);
                return true;
            },
            posts);
    }
    ~PromptPoster() { SetPromptCompletionPoster(nullptr, nullptr); }
    PromptPoster(const PromptPoster&) = delete;
    PromptPoster& operator=(const PromptPoster&) = delete;
};

class DataCallbackTest : public ::testing::Test {
protected:
    MirrorEntry& IntEntry() { return *g_tagMirror[kIntSlot]; }
    OPCHANDLE Add(const wchar_t* itemId, OPCHANDLE client, BOOL active = TRUE,
                  VARTYPE requested = VT_EMPTY)
    {
        const AddOutcome added = group_.Add(itemId, active, requested, client);
        EXPECT_EQ(S_OK, added.error);
        return added.result.hServer;
    }
    // The calls the next pass makes.
    std::string PassCalls()
    {
        const size_t before = callback_.calls.size();
        group_.Pass();
        return Calls(callback_, before);
    }

    RecordingCallback callback_;  // outlives the group, which holds it
    RecordingSink sink_;
    TestTags tags_;
    StreamTestGroup group_;
};

// A sink that answers IUnknown only.
class NotACallback final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = riid == IID_IUnknown ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

TEST_F(DataCallbackTest, TheConnectionPointTakesOneCallbackSinkAndRefusesTheRest)
{
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, group_.Items()->QueryInterface(IID_PPV_ARGS(&container)));
    ComPtr<IConnectionPoint> other;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IOPCShutdown, &other));
    EXPECT_EQ(E_POINTER, container->FindConnectionPoint(IID_IOPCDataCallback, nullptr));
    IConnectionPoint* point = group_.CallbackPoint();
    IID iid{};
    EXPECT_EQ(S_OK, point->GetConnectionInterface(&iid));
    EXPECT_EQ(IID_IOPCDataCallback, iid);

    NotACallback notACallback;
    RecordingCallback second;
    DWORD cookie = 0, refused = 0;
    const struct {
        const char* name;
        std::function<HRESULT()> call;
        HRESULT expected;
    } steps[] = {
        {"null sink", [&] { return point->Advise(nullptr, &cookie); }, E_POINTER},
        {"null cookie", [&] { return point->Advise(&callback_, nullptr); }, E_POINTER},
        {"a sink without IOPCDataCallback", [&] { return point->Advise(&notACallback, &refused); },
         CONNECT_E_CANNOTCONNECT},
        {"unadvise with nothing connected", [&] { return point->Unadvise(1); },
         CONNECT_E_NOCONNECTION},
        {"the first sink", [&] { return point->Advise(&callback_, &cookie); }, S_OK},
        {"a second sink", [&] { return point->Advise(&second, &refused); }, CONNECT_E_ADVISELIMIT},
        {"unadvise with a wrong cookie", [&] { return point->Unadvise(cookie + 1); },
         CONNECT_E_NOCONNECTION},
        {"unadvise", [&] { return point->Unadvise(cookie); }, S_OK},
        {"unadvise again", [&] { return point->Unadvise(cookie); }, CONNECT_E_NOCONNECTION},
        {"the second sink once the first has gone", [&] { return point->Advise(&second, &cookie); },
         S_OK},
        {"and away", [&] { return point->Unadvise(cookie); }, S_OK},
    };
    for (const auto& step : steps) EXPECT_EQ(step.expected, step.call()) << step.name;
    EXPECT_EQ(0u, callback_.refs());
    EXPECT_EQ(0u, second.refs());
}

TEST_F(DataCallbackTest, DataChangesCarryOnlyWhatChangedSinceTheSinkLastGotIt)
{
    Add(L"INT", 1);
    Add(L"TANK1", 2);
    const OPCHANDLE later = Add(L"REAL", 3, FALSE, VT_I4);  // 1.5 as I4: 2
    ASSERT_EQ(S_OK, group_.Connect(&callback_));
    DWORD cancelId = 0;
    const struct {
        const char* name;
        std::function<void()> before;
        std::string calls;
    } steps[] = {
        {"a newly connected sink gets every active item", [] {}, "d[1=42 2=7]"},
        {"nothing changed: nothing sent", [] {}, ""},
        {"a value change", [&] { IntEntry().value.integer = 43; }, "d[1=43]"},
        {"an item activated", [&] { group_.SetItemActive(later, TRUE); }, "d[3=2]"},
        {"an item added", [&] { Add(L"TANK1", 4); }, "d[4=7]"},
        {"a refresh sends every active item, with its transaction ID",
         [&] { EXPECT_EQ(S_OK, group_.Async2()->Refresh2(OPC_DS_CACHE, 77, &cancelId)); },
         "d77[1=43 2=7 3=2 4=7]"},
        {"disabled: the change waits",
         [&] {
             EXPECT_EQ(S_OK, group_.Async2()->SetEnable(FALSE));
             IntEntry().value.integer = 44;
         },
         ""},
        {"a refresh still completes while disabled",
         [&] { EXPECT_EQ(S_OK, group_.Async2()->Refresh2(OPC_DS_DEVICE, 78, &cancelId)); },
         "d78[1=44 2=7 3=2 4=7]"},
        {"enabled again: the change that waited",
         [&] { EXPECT_EQ(S_OK, group_.Async2()->SetEnable(TRUE)); }, "d[1=44]"},
        {"an inactive group sends nothing",
         [&] {
             group_.SetGroupActive(FALSE);
             IntEntry().value.integer = 45;
         },
         ""},
        {"a group turned active sends every active item", [&] { group_.SetGroupActive(TRUE); },
         "d[1=45 2=7 3=2 4=7]"},
        {"a client write of a new value", [&] { group_.Write(later, I4(5).get()); }, "d[3=5]"},
    };
    for (const auto& step : steps) {
        step.before();
        EXPECT_EQ(step.calls, PassCalls()) << step.name;
    }
}

TEST_F(DataCallbackTest, ASinkConnectedToASlowGroupGetsEveryActiveItemAtTheNextPass)
{
    Add(L"INT", 1);
    Add(L"TANK1", 2);
    group_.Object().state.updateRate = 10000;
    group_.Pass();  // the period starts: the next nine passes do not expire it
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, group_.Connect(&callback_, &cookie));
    EXPECT_EQ("d[1=42 2=7]", PassCalls()) << "not ten seconds later";
    IntEntry().value.integer = 43;
    EXPECT_EQ("", PassCalls()) << "changes still wait for the group's period";
    ASSERT_EQ(S_OK, group_.CallbackPoint()->Unadvise(cookie));
    ASSERT_EQ(S_OK, group_.Connect(&callback_, &cookie));
    EXPECT_EQ("d[1=42 2=7]", PassCalls()) << "a sink connected again: the items as they hold";
}

TEST_F(DataCallbackTest, AQualityChangeIsAChange)
{
    Add(L"INT", 1);
    ASSERT_EQ(S_OK, group_.Connect(&callback_));
    group_.Pass();
    {
        ViewerGone gone;
        group_.Pass();
        ASSERT_EQ(2u, callback_.calls.size());
        EXPECT_EQ(OPC_QUALITY_COMM_FAILURE, callback_.calls[1].items.at(0).quality);
        EXPECT_EQ(S_FALSE, callback_.calls[1].masterQuality);
        EXPECT_EQ(S_OK, callback_.calls[1].masterError);
        EXPECT_EQ("", PassCalls()) << "still bad: no change";
    }
    EXPECT_EQ("d[1=42]", PassCalls());
    EXPECT_EQ(S_OK, callback_.calls.back().masterQuality);
}

TEST_F(DataCallbackTest, StreamSinksAndTheCallbackOnOneGroupDoNotDisturbEachOther)
{
    Add(L"INT", 1);
    ASSERT_EQ(S_OK, group_.Advise(DataTimeFormat(), &sink_));
    ASSERT_EQ(S_OK, group_.Connect(&callback_));
    for (int pass = 0; pass < 3; ++pass) group_.Pass();
    EXPECT_EQ(3u, sink_.streams.size()) << "the stream still goes every period";
    EXPECT_EQ("d[1=42]", Calls(callback_)) << "the callback only once";
    DWORD id = 0, cancelId = 0;
    EXPECT_EQ(S_OK, group_.Async()->Refresh(0, OPC_DS_CACHE, &id));
    EXPECT_EQ(S_OK, group_.Async2()->Refresh2(OPC_DS_CACHE, 9, &cancelId));
    group_.Pass();
    EXPECT_EQ(5u, sink_.streams.size()) << "the period's stream and the refresh's";
    EXPECT_EQ(id, TransactionOf(sink_.streams.back()));
    EXPECT_EQ("d[1=42] | d9[1=42]", Calls(callback_));
}

struct Async2Case {
    const char* name;
    // Makes the request on the group's IOPCAsyncIO2 or IOPCAsyncIO3 with the item handles
    // {INT, TANK1, invalid} (client handles 1 and 2) and returns its result; the errors and
    // cancel ID go to the outs.
    std::function<HRESULT(IOPCAsyncIO3&, OPCHANDLE*, DWORD*, HRESULT**)> request;
    HRESULT result;
    std::vector<HRESULT> errors;
    bool cancelled;  // Cancel2 with the request's cancel ID before the pass
    std::string calls;
};

TEST_F(DataCallbackTest, AsyncRequestsCompleteThroughTheCallbackWithTheClientsTransaction)
{
    OPCHANDLE handles[] = {Add(L"INT", 1), Add(L"TANK1", 2), 9999};
    const Async2Case cases[] = {
        {"read",
         [](IOPCAsyncIO3& io, OPCHANDLE* h, DWORD* id, HRESULT** e) {
             return io.Read(2, h, 0x1234, id, e);
         },
         S_OK,
         {S_OK, S_OK},
         false,
         "r4660[1=42 2=7]"},
        {"read with an invalid handle",
         [](IOPCAsyncIO3& io, OPCHANDLE* h, DWORD* id, HRESULT** e) {
             return io.Read(3, h, 5, id, e);
         },
         S_FALSE,
         {S_OK, S_OK, OPC_E_INVALIDHANDLE},
         false,
         "r5[1=42 2=7]"},
        {"read with only an invalid handle: nothing queued",
         [](IOPCAsyncIO3& io, OPCHANDLE* h, DWORD* id, HRESULT** e) {
             return io.Read(1, h + 2, 5, id, e);
         },
         S_FALSE,
         {OPC_E_INVALIDHANDLE},
         false,
         ""},
        {"write, one value that does not convert",
         [](IOPCAsyncIO3& io, OPCHANDLE* h, DWORD* id, HRESULT** e) {
             VARIANT values[2];
             values[0] = I4(50).Release();
             values[1] = Bstr(L"not a number").Release();
             const HRESULT hr = io.Write(2, h, values, 6, id, e);
             VariantClear(&values[1]);
             return hr;
         },
         S_OK,
         {S_OK, S_OK},
         false,
         "d[1=50] | w6[1=0 2=1 ]"},
        {"refresh",
         [](IOPCAsyncIO3& io, OPCHANDLE*, DWORD* id, HRESULT**) {
             return io.Refresh2(OPC_DS_CACHE, 8, id);
         },
         S_OK,
         {},
         false,
         "d8[1=42 2=7]"},
        {"a cancelled read",
         [](IOPCAsyncIO3& io, OPCHANDLE* h, DWORD* id, HRESULT** e) {
             return io.Read(2, h, 10, id, e);
         },
         S_OK,
         {S_OK, S_OK},
         true,
         "c10"},
        {"a cancelled refresh",
         [](IOPCAsyncIO3& io, OPCHANDLE*, DWORD* id, HRESULT**) {
             return io.Refresh2(OPC_DS_DEVICE, 11, id);
         },
         S_OK,
         {},
         true,
         "c11"},
        {"read with maximum ages, one handle invalid",
         [](IOPCAsyncIO3& io, OPCHANDLE* h, DWORD* id, HRESULT** e) {
             DWORD maxAges[] = {0, kAnyAge, 0};
             return io.ReadMaxAge(3, h, maxAges, 12, id, e);
         },
         S_FALSE,
         {S_OK, S_OK, OPC_E_INVALIDHANDLE},
         false,
         "r12[1=42 2=7]"},
        {"read with maximum ages reads an inactive item's tag, which the pass leaves alone",
         [](IOPCAsyncIO3& io, OPCHANDLE* h, DWORD* id, HRESULT** e) {
             ComPtr<IOPCItemMgt> items;
             EXPECT_EQ(S_OK, io.QueryInterface(IID_PPV_ARGS(&items)));
             TaskOut<HRESULT> deactivated;
             EXPECT_EQ(S_OK, items->SetActiveState(1, h + 1, FALSE, deactivated.out()));
             g_tagMirror[3]->value.integer = 70;  // TANK1 moves on
             DWORD maxAges[] = {0, 0};
             return io.ReadMaxAge(2, h, maxAges, 17, id, e);
         },
         S_OK,
         {S_OK, S_OK},
         false,
         "r17[1=42 2=70]"},
        {"a cancelled read with maximum ages",
         [](IOPCAsyncIO3& io, OPCHANDLE* h, DWORD* id, HRESULT** e) {
             DWORD maxAges[] = {0, 0};
             return io.ReadMaxAge(2, h, maxAges, 13, id, e);
         },
         S_OK,
         {S_OK, S_OK},
         true,
         "c13"},
        {"refresh with a maximum age",
         [](IOPCAsyncIO3& io, OPCHANDLE*, DWORD* id, HRESULT**) {
             return io.RefreshMaxAge(kAnyAge, 14, id);
         },
         S_OK,
         {},
         false,
         "d14[1=42 2=7]"},
        {"VQT write: a value alone is written, one with a quality refused",
         [](IOPCAsyncIO3& io, OPCHANDLE* h, DWORD* id, HRESULT** e) {
             OPCITEMVQT vqts[3] = {};
             vqts[0].vDataValue = I4(51).Release();
             vqts[1].vDataValue = I4(52).Release();
             vqts[1].bQualitySpecified = TRUE;
             vqts[2].vDataValue = I4(53).Release();
             return io.WriteVQT(3, h, vqts, 15, id, e);
         },
         S_FALSE,
         {S_OK, OPC_E_NOTSUPPORTED, OPC_E_INVALIDHANDLE},
         false,
         "d[1=51] | w15[1=0 ]"},
        {"VQT write with a timestamp only: nothing queued",
         [](IOPCAsyncIO3& io, OPCHANDLE* h, DWORD* id, HRESULT** e) {
             OPCITEMVQT vqt = {};
             vqt.vDataValue = I4(54).Release();
             vqt.bTimeStampSpecified = TRUE;
             return io.WriteVQT(1, h, &vqt, 16, id, e);
         },
         S_FALSE,
         {OPC_E_NOTSUPPORTED},
         false,
         ""},
    };
    // Answered by the next update pass, or, with the message loop's poster set, at its next turn
    // after the call returned: then without the pass's data change.
    for (const bool prompt : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (prompt ? ", answered promptly" : ""));
            TestTags tags;
            RecordingCallback callback;
            StreamTestGroup group;
            OPCHANDLE own[] = {group.Add(L"INT", TRUE, VT_EMPTY, 1).result.hServer,
                               group.Add(L"TANK1", TRUE, VT_EMPTY, 2).result.hServer, handles[2]};
            ASSERT_EQ(S_OK, group.Connect(&callback));
            group.Pass();  // the first data change of the new sink
            callback.calls.clear();
            int posts = 0;
            const PromptPoster poster(prompt ? &posts : nullptr);
            DWORD cancelId = 0;
            TaskOut<HRESULT> errors;
            EXPECT_EQ(c.result, c.request(*group.Async3(), own, &cancelId, errors.out()));
            for (size_t i = 0; i < c.errors.size(); ++i) EXPECT_EQ(c.errors[i], errors[i]) << i;
            EXPECT_EQ(c.calls.empty(), cancelId == 0) << "the group's cancel ID, for a queued one";
            EXPECT_TRUE(callback.calls.empty()) << "nothing before the call has returned";
            if (c.cancelled) {
                EXPECT_EQ(S_OK, group.Async2()->Cancel2(cancelId));
            }
            if (prompt) {
                EXPECT_EQ(c.calls.empty() ? 0 : 1, posts);
                RunPromptCompletions();
                EXPECT_EQ(WithoutDataChanges(c.calls), Calls(callback));
            } else {
                group.Pass();
                EXPECT_EQ(c.calls, Calls(callback));
            }
            for (const CallbackRecord& call : callback.calls) EXPECT_EQ(kGroupClient, call.group);
            EXPECT_EQ(E_FAIL, group.Async2()->Cancel2(cancelId)) << "completed: nothing to cancel";
        }
    }
}

TEST_F(DataCallbackTest, AsyncRefusesBadRequestsWithTheirCodes)
{
    OPCHANDLE handle = Add(L"INT", 1);
    IOPCAsyncIO2* io = group_.Async2();
    IOPCAsyncIO3* io3 = group_.Async3();
    DWORD cancelId = 0;
    HRESULT* errors = nullptr;
    BOOL enabled = FALSE;
    VARIANT value = I4(1).Release();
    DWORD maxAge = 0;
    OPCITEMVQT vqt = {};
    vqt.vDataValue = I4(1).Release();
    const struct {
        const char* name;
        std::function<HRESULT()> call;
        HRESULT expected;
    } cases[] = {
        {"read without a callback", [&] { return io->Read(1, &handle, 1, &cancelId, &errors); },
         CONNECT_E_NOCONNECTION},
        {"write without a callback",
         [&] { return io->Write(1, &handle, &value, 1, &cancelId, &errors); },
         CONNECT_E_NOCONNECTION},
        {"refresh without a callback", [&] { return io->Refresh2(OPC_DS_CACHE, 1, &cancelId); },
         CONNECT_E_NOCONNECTION},
        {"enable without a callback", [&] { return io->SetEnable(TRUE); }, CONNECT_E_NOCONNECTION},
        {"read with maximum ages without a callback",
         [&] { return io3->ReadMaxAge(1, &handle, &maxAge, 1, &cancelId, &errors); },
         CONNECT_E_NOCONNECTION},
        {"VQT write without a callback",
         [&] { return io3->WriteVQT(1, &handle, &vqt, 1, &cancelId, &errors); },
         CONNECT_E_NOCONNECTION},
        {"refresh with a maximum age without a callback",
         [&] { return io3->RefreshMaxAge(0, 1, &cancelId); }, CONNECT_E_NOCONNECTION},
        {"connect", [&] { return group_.Connect(&callback_); }, S_OK},
        {"read with maximum ages of no items",
         [&] { return io3->ReadMaxAge(0, &handle, &maxAge, 1, &cancelId, &errors); }, E_INVALIDARG},
        {"read without maximum ages",
         [&] { return io3->ReadMaxAge(1, &handle, nullptr, 1, &cancelId, &errors); }, E_INVALIDARG},
        {"VQT write of no items",
         [&] { return io3->WriteVQT(0, &handle, &vqt, 1, &cancelId, &errors); }, E_INVALIDARG},
        {"VQT write without values",
         [&] { return io3->WriteVQT(1, &handle, nullptr, 1, &cancelId, &errors); }, E_INVALIDARG},
        {"refresh with a maximum age without a cancel ID",
         [&] { return io3->RefreshMaxAge(0, 1, nullptr); }, E_INVALIDARG},
        {"read of no items", [&] { return io->Read(0, &handle, 1, &cancelId, &errors); },
         E_INVALIDARG},
        {"write of no items", [&] { return io->Write(0, &handle, &value, 1, &cancelId, &errors); },
         E_INVALIDARG},
        {"read without handles", [&] { return io->Read(1, nullptr, 1, &cancelId, &errors); },
         E_INVALIDARG},
        {"read of more items than a list may name",
         [&] { return io->Read(kMaxListEntries + 1, &handle, 1, &cancelId, &errors); },
         E_INVALIDARG},
        {"VQT write of more items than a list may name",
         [&] { return io3->WriteVQT(kMaxListEntries + 1, &handle, &vqt, 1, &cancelId, &errors); },
         E_INVALIDARG},
        {"read without a cancel ID", [&] { return io->Read(1, &handle, 1, nullptr, &errors); },
         E_INVALIDARG},
        {"write without values",
         [&] { return io->Write(1, &handle, nullptr, 1, &cancelId, &errors); }, E_INVALIDARG},
        {"refresh without a cancel ID", [&] { return io->Refresh2(OPC_DS_CACHE, 1, nullptr); },
         E_INVALIDARG},
        {"refresh from no source", [&] { return io->Refresh2(OPCDATASOURCE(9), 1, &cancelId); },
         E_INVALIDARG},
        {"cancel of an unknown ID", [&] { return io->Cancel2(12345); }, E_FAIL},
        {"enable is on at first",
         [&] { return io->GetEnable(&enabled) == S_OK && enabled ? S_OK : E_FAIL; }, S_OK},
        {"get enable without a place", [&] { return io->GetEnable(nullptr); }, E_INVALIDARG},
        {"refresh of an inactive group",
         [&] {
             group_.SetGroupActive(FALSE);
             return io->Refresh2(OPC_DS_CACHE, 1, &cancelId);
         },
         E_FAIL},
        {"refresh with a maximum age of an inactive group",
         [&] { return io3->RefreshMaxAge(kAnyAge, 1, &cancelId); }, E_FAIL},
        {"refresh of a group with no active item",
         [&] {
             group_.SetGroupActive(TRUE);
             group_.SetItemActive(handle, FALSE);
             return io->Refresh2(OPC_DS_CACHE, 1, &cancelId);
         },
         E_FAIL},
        {"refresh with a maximum age of a group with no active item",
         [&] { return io3->RefreshMaxAge(kAnyAge, 1, &cancelId); }, E_FAIL},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, c.call()) << c.name;
        EXPECT_EQ(nullptr, errors) << c.name << ": no errors on a refused call";
    }
    group_.Pass();
    EXPECT_EQ("", Calls(callback_)) << "nothing was queued";
}

// A group with a keep-alive time whose sink got nothing for that time gets a data change of no
// items (shown "d[]"); data flowing, a completion, an inactive or disabled group, or the time
// turned off send none. The passes' times make the clock.
TEST_F(DataCallbackTest, AQuietGroupSendsKeepAlivesAtItsTimeAndNoneWhileDataFlows)
{
    ScopedPollPeriod period(1000);
    Add(L"INT", 1);
    ComPtr<IOPCGroupStateMgt2> state;
    ASSERT_EQ(S_OK, group_.Items()->QueryInterface(IID_PPV_ARGS(&state)));
    DWORD revised = 0;
    ASSERT_EQ(S_OK, state->SetKeepAlive(2000, &revised));
    ASSERT_EQ(S_OK, group_.Connect(&callback_));
    ULONGLONG nowMs = NowTicks() / 10000;
    DWORD cancelId = 0;
    const struct {
        const char* name;
        std::function<void()> before;
        std::string calls;
    } steps[] = {
        {"the newly connected sink's data change", [] {}, "d[1=42]"},
        {"1 s quiet", [] {}, ""},
        {"2 s quiet: a keep-alive", [] {}, "d[]"},
        {"1 s after it", [] {}, ""},
        {"2 s after it: the next", [] {}, "d[]"},
        {"data flows", [&] { IntEntry().value.integer = 43; }, "d[1=43]"},
        {"and flows", [&] { IntEntry().value.integer = 44; }, "d[1=44]"},
        {"and flows again", [&] { IntEntry().value.integer = 45; }, "d[1=45]"},
        {"1 s quiet after the data", [] {}, ""},
        {"a refresh's completion counts as a call",
         [&] { EXPECT_EQ(S_OK, group_.Async2()->Refresh2(OPC_DS_CACHE, 9, &cancelId)); },
         "d9[1=45]"},
        {"1 s after the completion", [] {}, ""},
        {"2 s after it", [] {}, "d[]"},
        {"disabled", [&] { EXPECT_EQ(S_OK, group_.Async2()->SetEnable(FALSE)); }, ""},
        {"disabled for 2 s", [] {}, ""},
        {"enabled: the time counts afresh",
         [&] { EXPECT_EQ(S_OK, group_.Async2()->SetEnable(TRUE)); }, ""},
        {"1 s enabled", [] {}, ""},
        {"2 s enabled", [] {}, "d[]"},
        {"a new time, 4 s, counts from its first pass",
         [&] { EXPECT_EQ(S_OK, state->SetKeepAlive(4000, &revised)); }, ""},
        {"1 s of it", [] {}, ""},
        {"2 s of it", [] {}, ""},
        {"3 s of it", [] {}, ""},
        {"4 s of it", [] {}, "d[]"},
        {"turned off", [&] { EXPECT_EQ(S_OK, state->SetKeepAlive(0, &revised)); }, ""},
        {"off 4 s", [] {}, ""},
        {"off 5 s", [] {}, ""},
    };
    for (const auto& step : steps) {
        step.before();
        const size_t before = callback_.calls.size();
        FILETIME passTime{};
        ULARGE_INTEGER ticks;
        ticks.QuadPart = nowMs * 10000;
        passTime.dwLowDateTime = ticks.LowPart;
        passTime.dwHighDateTime = ticks.HighPart;
        group_.Pass(1000, passTime);
        nowMs += 1000;
        EXPECT_EQ(step.calls, Calls(callback_, before)) << step.name;
    }
    for (const CallbackRecord& call : callback_.calls) {
        EXPECT_EQ(kGroupClient, call.group);
        if (!call.items.empty()) continue;
        EXPECT_EQ(0u, call.transactionId) << "a keep-alive";
        EXPECT_EQ(S_OK, call.masterQuality);
        EXPECT_EQ(S_OK, call.masterError);
    }
    group_.SetGroupActive(FALSE);
    ASSERT_EQ(S_OK, state->SetKeepAlive(1000, &revised));
    const size_t before = callback_.calls.size();
    for (int pass = 0; pass < 4; ++pass) group_.Pass();
    EXPECT_EQ("", Calls(callback_, before)) << "an inactive group sends no keep-alive";
}

TEST_F(DataCallbackTest, AnItemRemovedBeforeThePassIsAnsweredWithItsErrorAndEveryRequestCompletes)
{
    OPCHANDLE handles[] = {Add(L"INT", 1), Add(L"TANK1", 2)};
    ASSERT_EQ(S_OK, group_.Connect(&callback_));
    group_.Pass();
    DWORD cancelId = 0;
    TaskOut<HRESULT> errors, removed, alone, written;
    VARIANT value = I4(5).get();  // an I4 owns nothing
    ASSERT_EQ(S_OK, group_.Async2()->Read(2, handles, 1, &cancelId, errors.out()));
    ASSERT_EQ(S_OK, group_.Async2()->Read(1, handles, 2, &cancelId, alone.out()));
    ASSERT_EQ(S_OK, group_.Async2()->Write(1, handles, &value, 3, &cancelId, written.out()));
    ASSERT_EQ(S_OK, group_.Items()->RemoveItems(1, handles, removed.out()));
    // A new item in the removed one's slot is not what the requests named.
    ASSERT_EQ(handles[0], Add(L"INT", 9, FALSE));
    const size_t before = callback_.calls.size();
    EXPECT_EQ("r1[1=0 2=7] | r2[1=0] | w3[1=1 ]", PassCalls())
        << "a request left without items is answered all the same";
    for (size_t i = before; i < callback_.calls.size(); ++i) {
        EXPECT_EQ(OPC_E_INVALIDHANDLE, callback_.calls[i].items.at(0).error) << i;
        EXPECT_EQ(OPC_QUALITY_BAD, callback_.calls[i].items[0].quality & OPC_QUALITY_MASK) << i;
    }
    EXPECT_EQ(S_OK, callback_.calls[before].items.at(1).error);
}

TEST(DataCallbackDelivery, AFrozenCallbacksWaitingDataChangesMergeAndLoseNoItemsLastChange)
{
    TestTags tags;
    ProxyRegistered proxy;
    SinkInOtherApartment<RecordingCallback> client;
    // The client stops answering in its first call until thawed, and says when it has two.
    const UniqueHandle frozen(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const UniqueHandle thawed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const UniqueHandle secondCall(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    RecordingCallback& served = client.Served();
    served.onFirstCall = [&] {
        SetEvent(frozen.get());
        WaitForSingleObject(thawed.get(), 10000);
    };
    served.onEveryCall = [&] {
        if (served.calls.size() == 2) SetEvent(secondCall.get());
    };
    StreamTestGroup group;
    group.Add(L"INT", TRUE, VT_EMPTY, 1);
    group.Add(L"TANK1", TRUE, VT_EMPTY, 2);
    ASSERT_EQ(S_OK, group.Connect(client.Proxy()));
    group.Pass();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(frozen.get(), 10000));
    const struct {
        int slot;
        int32_t value;
    } changes[] = {{1, 100}, {3, 200}, {1, 101}};  // INT, TANK1, INT again
    for (const auto& change : changes) {
        g_tagMirror[change.slot]->value.integer = change.value;
        group.Pass();
    }
    SetEvent(thawed.get());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(secondCall.get(), 10000));
    client.End();
    EXPECT_EQ("d[1=42 2=7] | d[1=101 2=200]", Calls(served))
        << "the three waiting changes as one, each item with its last value";
}

}  // namespace
