// A client that calls back into the server from within the server's calls to it: from its
// advise sink's OnDataChange and its data callback's calls, and from the Release that drops
// either's last reference. Whatever it does there, the call under way returns its own result
// and nothing reaches a dying object.
#include <gtest/gtest.h>

#include <ocidl.h>

#include <functional>
#include <set>
#include <string>

#include "opc/server/server_table.h"
#include "opc_error.h"
#include "tests/opc/datachange/recording_callback.h"
#include "tests/opc/datachange/recording_sink.h"
#include "tests/opc/group/test_tags.h"
#include "tests/opc/server/com_server_test_support.h"

namespace {

enum class Trigger {
    RemoveGroup,           // of the advised group, after the client let go of it
    DUnadvise,             // of the advised group's sink
    ReleaseServer,         // the client's last reference to its server object
    OnDataChange,          // the advised group's stream in an update pass
    CallbackUnadvise,      // of the advised group's data callback
    OnCallbackDataChange,  // the advised group's data callback in an update pass
};

enum class Action {
    EnumerateGroups,  // and release every group enumerated
    RemoveOtherGroup,
    RemoveAdvisedGroup,
    ReleaseServer,
    CloneOtherGroup,  // reaches the server object through a group the client holds
};

// One server object with an advised group A (one item, a data-time sink and a data callback)
// and a group B, both held by the client through their IOPCGroupStateMgt only.
class ReentrantClient {
public:
    ReentrantClient()
    {
        server_ = NewServer();
        advised_ = AddGroup(server_.Get(), L"A", &advisedHandle_);
        other_ = AddGroup(server_.Get(), L"B", &otherHandle_);
        ComPtr<IDataObject> data;
        EXPECT_EQ(S_OK, advised_.As(&data));
        FORMATETC format{DataTimeFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        DWORD connection = 0;
        EXPECT_EQ(S_OK, data->DAdvise(&format, 0, &sink, &connection));
        EXPECT_EQ(S_OK, CallbackPoint()->Advise(&callback, &callbackCookie_));
        AddActiveItem(advised_.Get(), L"INT");
    }

    void Act(Action action)
    {
        switch (action) {
        case Action::EnumerateGroups: {
            ComPtr<IEnumUnknown> groups;
            ASSERT_EQ(S_OK, server_->CreateGroupEnumerator(
                                OPC_ENUM_ALL, IID_IEnumUnknown,
                                reinterpret_cast<IUnknown**>(groups.GetAddressOf())));
            ComPtr<IUnknown> group;
            while (groups->Next(1, group.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
                ComPtr<IOPCGroupStateMgt> state;
                ASSERT_EQ(S_OK, group.As(&state));
                enumerated.insert(StateOf(state.Get()).name);
            }
            break;
        }
        case Action::RemoveOtherGroup:
            callbackResult = server_->RemoveGroup(otherHandle_, FALSE);
            break;
        case Action::RemoveAdvisedGroup:
            callbackResult = server_->RemoveGroup(advisedHandle_, FALSE);
            break;
        case Action::ReleaseServer:
            server_.Reset();
            break;
        case Action::CloneOtherGroup: {
            IUnknown* clone = nullptr;
            callbackResult = other_->CloneGroup(L"C", IID_IUnknown, &clone);
            if (clone) clone->Release();
            break;
        }
        }
    }

    HRESULT Run(Trigger trigger)
    {
        switch (trigger) {
        case Trigger::RemoveGroup: {
            // Called through the client's own reference, which the callback may drop.
            IOPCServer* server = server_.Get();
            advised_.Reset();
            return server->RemoveGroup(advisedHandle_, FALSE);
        }
        case Trigger::DUnadvise: {
            ComPtr<IDataObject> data;
            EXPECT_EQ(S_OK, advised_.As(&data));
            return data->DUnadvise(DataTimeFormat());
        }
        case Trigger::ReleaseServer:
            advised_.Reset();
            server_.Reset();
            return S_OK;
        case Trigger::OnDataChange:
        case Trigger::OnCallbackDataChange:
            UpdateAllServers(1000);
            return S_OK;
        case Trigger::CallbackUnadvise:
            return CallbackPoint()->Unadvise(callbackCookie_);
        }
        return E_UNEXPECTED;
    }

    // Whatever the client still holds goes; then so must every reference to its sink.
    void LetGo()
    {
        if (server_) {
            // The server object goes on serving: a new group takes a free slot.
            EXPECT_TRUE(AddGroup(server_.Get(), L"New"));
        }
        advised_.Reset();
        other_.Reset();
        server_.Reset();
    }

    RecordingSink sink;  // outlives every group that holds it
    RecordingCallback callback;
    std::set<std::wstring> enumerated;
    HRESULT callbackResult = S_OK;

private:
    ComPtr<IConnectionPoint> CallbackPoint()
    {
        ComPtr<IConnectionPointContainer> container;
        EXPECT_EQ(S_OK, advised_.As(&container));
        ComPtr<IConnectionPoint> point;
        if (container) {
            EXPECT_EQ(S_OK, container->FindConnectionPoint(IID_IOPCDataCallback, &point));
        }
        return point;
    }

    DWORD callbackCookie_ = 0;
    ComPtr<IOPCServer> server_;
    ComPtr<IOPCGroupStateMgt> advised_;
    ComPtr<IOPCGroupStateMgt> other_;
    OPCHANDLE advisedHandle_ = 0;
    OPCHANDLE otherHandle_ = 0;
};

TEST(ReentrantClient, CallsBackFromItsSinkReachNothingDying)
{
    const struct {
        const char* name;
        Trigger trigger;
        Action action;
        std::set<std::wstring> enumerated;  // groups the callback finds
        HRESULT callbackResult;
    } cases[] = {
        {"remove, enumerate", Trigger::RemoveGroup, Action::EnumerateGroups, {L"B"}, S_OK},
        {"remove, remove other", Trigger::RemoveGroup, Action::RemoveOtherGroup, {}, OPC_S_INUSE},
        {"remove, remove again", Trigger::RemoveGroup, Action::RemoveAdvisedGroup, {}, E_FAIL},
        {"remove, release server", Trigger::RemoveGroup, Action::ReleaseServer, {}, S_OK},
        {"unadvise, enumerate", Trigger::DUnadvise, Action::EnumerateGroups, {L"A", L"B"}, S_OK},
        {"unadvise, remove own", Trigger::DUnadvise, Action::RemoveAdvisedGroup, {}, OPC_S_INUSE},
        {"server release, clone",
         Trigger::ReleaseServer,
         Action::CloneOtherGroup,
         {},
         CO_E_OBJNOTCONNECTED},
        {"data change, enumerate",
         Trigger::OnDataChange,
         Action::EnumerateGroups,
         {L"A", L"B"},
         S_OK},
        {"data change, remove own",
         Trigger::OnDataChange,
         Action::RemoveAdvisedGroup,
         {},
         OPC_S_INUSE},
        {"data change, release server", Trigger::OnDataChange, Action::ReleaseServer, {}, S_OK},
        {"callback unadvise, enumerate",
         Trigger::CallbackUnadvise,
         Action::EnumerateGroups,
         {L"A", L"B"},
         S_OK},
        {"callback unadvise, remove own",
         Trigger::CallbackUnadvise,
         Action::RemoveAdvisedGroup,
         {},
         OPC_S_INUSE},
        {"callback unadvise, release server",
         Trigger::CallbackUnadvise,
         Action::ReleaseServer,
         {},
         S_OK},
        {"callback data change, enumerate",
         Trigger::OnCallbackDataChange,
         Action::EnumerateGroups,
         {L"A", L"B"},
         S_OK},
        {"callback data change, remove own",
         Trigger::OnCallbackDataChange,
         Action::RemoveAdvisedGroup,
         {},
         OPC_S_INUSE},
        {"callback data change, remove other",
         Trigger::OnCallbackDataChange,
         Action::RemoveOtherGroup,
         {},
         OPC_S_INUSE},
        {"callback data change, release server",
         Trigger::OnCallbackDataChange,
         Action::ReleaseServer,
         {},
         S_OK},
    };
    TestTags tags;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReentrantClient client;
        std::function<void()>& callback =
            c.trigger == Trigger::OnDataChange           ? client.sink.onFirstStream
            : c.trigger == Trigger::OnCallbackDataChange ? client.callback.onFirstCall
            : c.trigger == Trigger::CallbackUnadvise     ? client.callback.onLastRelease
                                                         : client.sink.onLastRelease;
        callback = [&client, &c] { client.Act(c.action); };
        EXPECT_EQ(S_OK, client.Run(c.trigger));
        EXPECT_EQ(c.enumerated, client.enumerated);
        EXPECT_EQ(c.callbackResult, client.callbackResult);
        client.LetGo();
        EXPECT_EQ(0u, client.sink.refs()) << "every reference the server took is returned";
        EXPECT_EQ(0u, client.callback.refs()) << "and every one to the data callback";
    }
}

}  // namespace
