// Data-change delivery across processes: this test program as a client with its own advise
// sink, and opcclient.exe watching and reading, writing and refreshing asynchronously; the
// running server sends its streams with each poll cycle of the Viewer's project.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "opc_da.h"
#include "opc_error.h"
#include "runtime_link/tag_record.h"
#include "server_identity.h"
#include "tests/e2e/client_group.h"
#include "tests/e2e/opc_server_e2e_environment.h"
#include "tests/e2e/server_process.h"
#include "tests/opc/datachange/recording_sink.h"
#include "tests/opc/datachange/sink_in_other_apartment.h"
#include "tests/opc/datachange/stream_bytes.h"
#include "tests/opc/include/task_memory.h"
#include "viewer/project_location.h"
#include "viewer/win_handles.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kPatienceMs = 30000;
// The project's records: Level (integer 42), 温度 (real 36.5), Operator (string 张三), Pump
// (discrete 1).
constexpr int kLevelRecord = 0;
constexpr int kTemperatureRecord = 1;
constexpr wchar_t kTemperature[] = L"\x6E29\x5EA6";
constexpr OPCHANDLE kGroupClient = 0x55;

// A client of the running server in this process: one server object, one group and this
// process's advise sink connected to the formats asked for.
class SubscribedClient {
public:
    SubscribedClient(const std::vector<std::wstring>& itemIds,
                     const std::vector<CLIPFORMAT>& formats)
    {
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                         IID_PPV_ARGS(&server_)));
        if (!server_) return;
        items_ = AddClientGroup(*server_.Get(), L"data change", kGroupClient, &groupHandle_);
        if (!items_) return;
        handles_ = AddActiveItems(*items_.Get(), itemIds);
        EXPECT_EQ(S_OK, items_.As(&data_));
        for (CLIPFORMAT format : formats) {
            FORMATETC formatEtc{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
            DWORD token = 0;
            EXPECT_EQ(S_OK, data_->DAdvise(&formatEtc, 0, &sink_, &token));
            tokens_.push_back(token);
        }
    }
    ~SubscribedClient()
    {
        if (data_) {
            for (DWORD token : tokens_) data_->DUnadvise(token);
        }
        data_.Reset();
        items_.Reset();
        server_.Reset();
        // No stub may outlive the sink.
        CoDisconnectObject(&sink_, 0);
    }
    SubscribedClient(const SubscribedClient&) = delete;
    SubscribedClient& operator=(const SubscribedClient&) = delete;

    IOPCItemMgt* Items() const { return items_.Get(); }
    // Lets go of the group, as most clients do before they remove it, and removes it.
    void RemoveGroup()
    {
        data_.Reset();
        items_.Reset();
        EXPECT_EQ(S_OK, server_->RemoveGroup(groupHandle_, FALSE));
    }
    RecordingSink& Sink() { return sink_; }
    const std::vector<OPCHANDLE>& Handles() const { return handles_; }
    const std::vector<ReceivedStream>& Streams() const { return sink_.streams; }
    // Handles messages, and so the server's callbacks, until `count` streams came.
    bool WaitForStreams(size_t count) const
    {
        return WaitUntil([&] { return sink_.streams.size() >= count; }, kPatienceMs);
    }

private:
    RecordingSink sink_;  // before the interfaces: it outlives them
    ComPtr<IOPCServer> server_;
    ComPtr<IOPCItemMgt> items_;
    OPCHANDLE groupHandle_ = 0;
    ComPtr<IDataObject> data_;
    std::vector<DWORD> tokens_;
    std::vector<OPCHANDLE> handles_;
};

// The Viewer's shared tag area, seen as the Viewer sees it.
class TagArea {
public:
    TagArea()
        : mapping_(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kSharedTagAreaName)),
          view_(mapping_ ? MapViewOfFile(mapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr)
    {
    }
    TagRecord* Record(int index) const { return static_cast<TagRecord*>(view_.get()) + index; }
    bool Mapped() const { return view_ != nullptr; }

private:
    UniqueHandle mapping_;
    UniqueView view_;
};

std::string RequestLog()
{
    const ProjectLocation project = FindProject("");
    std::ifstream file(project.projectDirectory + "PXVIEWER.LOG");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::string Opcclient(const std::wstring& arguments, DWORD expectedExit = 0,
                      const wchar_t* client = kOpcclients[0])
{
    std::string output;
    EXPECT_EQ(expectedExit, RunProgram(client, arguments, output)) << output;
    return output;
}

// opcclient.exe running beside the test, its output read as it comes; ended by force.
class RunningClient {
public:
    explicit RunningClient(const std::wstring& arguments)
    {
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        HANDLE readEnd = nullptr, writeEnd = nullptr;
        if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 1 << 16)) return;
        reader_.reset(readEnd);
        UniqueHandle writer(writeEnd);
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        std::wstring commandLine = L"\"" + ProgramFolder() + L"opcclient.exe\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
        PROCESS_INFORMATION process{};
        if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                           &startup, &process)) {
            CloseHandle(process.hThread);
            process_.reset(process.hProcess);
        }
    }
    ~RunningClient() { Kill(); }
    RunningClient(const RunningClient&) = delete;
    RunningClient& operator=(const RunningClient&) = delete;

    bool Started() const { return process_ != nullptr; }
    // What the client printed so far.
    const std::string& Output()
    {
        DWORD available = 0;
        while (PeekNamedPipe(reader_.get(), nullptr, 0, nullptr, &available, nullptr) &&
               available > 0) {
            char buffer[4096];
            DWORD got = 0;
            if (!ReadFile(reader_.get(), buffer, sizeof buffer, &got, nullptr) || got == 0) break;
            output_.append(buffer, got);
        }
        return output_;
    }
    void Kill()
    {
        if (!process_) return;
        TerminateProcess(process_.get(), 9);
        WaitForSingleObject(process_.get(), kPatienceMs);
        process_.reset();
    }

private:
    UniqueHandle reader_;
    UniqueHandle process_;
    std::string output_;
};

// Writes `value` to the client's first item through IOPCSyncIO.
void WriteFirstItem(const SubscribedClient& client, LONG value)
{
    ComPtr<IOPCSyncIO> io;
    ASSERT_EQ(S_OK, client.Items()->QueryInterface(IID_PPV_ARGS(&io)));
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_I4;
    variant.lVal = value;
    OPCHANDLE handle = client.Handles()[0];
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_OK, io->Write(1, &handle, &variant, errors.out()));
    EXPECT_EQ(S_OK, errors[0]);
}

// `written` reaches Level's tag record and the Viewer's request log.
void ExpectLevelWrittenToTheViewer(const TagArea& area, LONG written)
{
    EXPECT_TRUE(
        WaitUntil([&] { return area.Record(kLevelRecord)->integerValue == written; }, kPatienceMs));
    const std::string line = "name=\"Level\" type=11 value=\"" + std::to_string(written) + "\"";
    EXPECT_TRUE(WaitUntil([&] { return Contains(RequestLog(), line); }, kPatienceMs))
        << RequestLog();
}

// A client subscribed to Level whose sink stops answering: on a thread and apartment of its
// own, the sink does not return from its first OnDataChange until thawed (or, at the latest,
// after kFreezeBoundMs). Thawed, it takes the streams again and looks for `newest`.
class FrozenClient {
public:
    static constexpr DWORD kFreezeBoundMs = 60000;

    FrozenClient()
    {
        thread_.reset(CreateThread(nullptr, 0, &FrozenClient::Run, this, 0, nullptr));
    }
    ~FrozenClient()
    {
        SetEvent(thaw_.get());
        if (thread_) WaitForSingleObject(thread_.get(), kPatienceMs);
    }
    FrozenClient(const FrozenClient&) = delete;
    FrozenClient& operator=(const FrozenClient&) = delete;

    bool WaitUntilFrozen() const
    {
        return thread_ && WaitForSingleObject(frozen_.get(), kPatienceMs) == WAIT_OBJECT_0;
    }
    // Lets the sink return; the client then waits for a stream carrying `newest`.
    void Thaw(LONG newest)
    {
        newest_ = newest;
        SetEvent(thaw_.get());
    }
    // After Thaw: true once the client saw `newest`, with how many streams it took for it.
    bool WaitUntilResumed(size_t& streamsTaken) const
    {
        if (WaitForSingleObject(resumed_.get(), kPatienceMs) != WAIT_OBJECT_0) return false;
        streamsTaken = streamsTaken_;
        return streamsTaken_ != 0;
    }

private:
    static DWORD WINAPI Run(void* self)
    {
        if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
        static_cast<FrozenClient*>(self)->Subscribe();
        CoUninitialize();
        return 0;
    }
    void Subscribe()
    {
        SubscribedClient client({L"Level"}, {DataTimeFormat()});
        client.Sink().onFirstStream = [this] {
            SetEvent(frozen_.get());
            WaitForSingleObject(thaw_.get(), kFreezeBoundMs);
        };
        if (client.WaitForStreams(1)) {
            const auto carriesNewest = [&](const ReceivedStream& stream) {
                return ItemsOf(stream)[0].i4 == newest_.load();
            };
            WaitUntil(
                [&] {
                    const auto& streams = client.Streams();
                    const auto found =
                        std::find_if(streams.begin() + 1, streams.end(), carriesNewest);
                    if (found == streams.end()) return false;
                    streamsTaken_ = static_cast<size_t>(found - streams.begin());
                    return true;
                },
                kPatienceMs);
        }
        SetEvent(resumed_.get());
    }

    UniqueHandle frozen_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle thaw_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle resumed_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<LONG> newest_{0};
    size_t streamsTaken_ = 0;  // written before resumed_ is set
    UniqueHandle thread_;      // last: the thread starts once everything else exists
};

TEST(DataChangeAcrossProcesses, AFrozenSubscriberDelaysOnlyItsOwnStreams)
{
    // Well inside the freeze: a server that waited on the frozen client would miss these.
    constexpr DWORD kFewPeriodsMs = 8000;
    constexpr size_t kStreamsDuringFreeze = 4;
    TagArea area;
    ASSERT_TRUE(area.Mapped());
    FrozenClient frozen;
    ASSERT_TRUE(frozen.WaitUntilFrozen());
    const ULONGLONG frozenAt = GetTickCount64();
    SubscribedClient healthy({L"Level"}, {DataTimeFormat()});
    SubscribedClient writer({L"Level"}, {});
    ASSERT_TRUE(
        WaitUntil([&] { return healthy.Streams().size() >= kStreamsDuringFreeze; }, kFewPeriodsMs))
        << "the healthy client goes on receiving while the other one is frozen";

    const LONG written = area.Record(kLevelRecord)->integerValue + 77;
    const ULONGLONG writtenAt = GetTickCount64();
    WriteFirstItem(writer, written);
    ASSERT_TRUE(WaitUntil([&] { return area.Record(kLevelRecord)->integerValue == written; },
                          kFewPeriodsMs))
        << "the write reaches the Viewer's area while a client is frozen";
    const ULONGLONG arrivedAt = GetTickCount64();
    // Every stream sent since the write carries it: the healthy client sees it too.
    ASSERT_TRUE(WaitUntil([&] { return ItemsOf(healthy.Streams().back())[0].i4 == written; },
                          kFewPeriodsMs));

    ULONGLONG previous = healthy.Streams()[0].arrivedMs, longest = 0;
    for (const ReceivedStream& stream : healthy.Streams()) {
        longest = std::max(longest, stream.arrivedMs - previous);
        previous = stream.arrivedMs;
    }
    const ULONGLONG thawedAt = GetTickCount64();
    frozen.Thaw(written);
    size_t streamsTaken = 0;
    ASSERT_TRUE(frozen.WaitUntilResumed(streamsTaken)) << "the thawed client gets the newest data";
    // The streams the server made while the client was frozen wait coalesced to the newest.
    EXPECT_EQ(1u, streamsTaken) << "the first stream after the thaw carries the newest value";
    std::printf(
        "[ figure ] frozen for %llu ms: healthy client's longest gap %llu ms over %zu streams, "
        "write to the Viewer's area %llu ms (poll period 1000 ms); thawed client resumed with "
        "stream %zu after the thaw\n",
        static_cast<unsigned long long>(thawedAt - frozenAt),
        static_cast<unsigned long long>(longest), healthy.Streams().size(),
        static_cast<unsigned long long>(arrivedAt - writtenAt), streamsTaken);
}

// A client whose sink lives in an apartment of another of its threads, frozen in its first
// stream, lets go of the subscription from its main thread: DUnadvise, RemoveGroup and the
// releases return at once, and other clients keep their pace meanwhile.
TEST(DataChangeAcrossProcesses, LettingGoWhileTheSinksApartmentIsFrozenWaitsOnNoClient)
{
    constexpr DWORD kAtOnceMs = 5000;  // the freeze lasts until the end of the test
    UniqueHandle frozen(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle thaw(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    SinkInOtherApartment<RecordingSink> frozenSink;
    frozenSink.Served().onFirstStream = [&] {
        SetEvent(frozen.get());
        WaitForSingleObject(thaw.get(), 4 * kPatienceMs);
    };
    SubscribedClient healthy({L"Level"}, {DataTimeFormat()});
    ComPtr<IOPCServer> server;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                     IID_PPV_ARGS(&server)));
    OPCHANDLE group = 0;
    ComPtr<IOPCItemMgt> items = AddClientGroup(*server.Get(), L"frozen", 0x77, &group);
    ASSERT_TRUE(items);
    AddActiveItems(*items.Get(), {L"Level"});
    ComPtr<IDataObject> data;
    ASSERT_EQ(S_OK, items.As(&data));
    ComPtr<IAdviseSink> sink;
    ASSERT_EQ(S_OK, frozenSink.Proxy()->QueryInterface(IID_PPV_ARGS(&sink)));
    FORMATETC format{DataTimeFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    DWORD token = 0;
    ASSERT_EQ(S_OK, data->DAdvise(&format, 0, sink.Get(), &token));
    sink.Reset();
    ASSERT_TRUE(WaitUntil([&] { return WaitForSingleObject(frozen.get(), 0) == WAIT_OBJECT_0; },
                          kPatienceMs));

    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(S_OK, data->DUnadvise(token));
    data.Reset();
    items.Reset();
    EXPECT_EQ(S_OK, server->RemoveGroup(group, FALSE));
    server.Reset();
    const ULONGLONG tookMs = GetTickCount64() - start;
    EXPECT_LT(tookMs, kAtOnceMs) << "the server waited on the frozen sink";
    const size_t before = healthy.Streams().size();
    EXPECT_TRUE(healthy.WaitForStreams(before + 3)) << "the other client keeps its pace";
    SetEvent(thaw.get());
    std::printf("[ figure ] DUnadvise, RemoveGroup and releases with the sink frozen: %llu ms\n",
                static_cast<unsigned long long>(tookMs));
}

// A free-threaded client's advise sink, shared by its groups: calls may come on any thread. It
// keeps how many calls were in it at once, the group of each stream, and how many questions it
// was asked.
class SharedSink final : public IAdviseSink {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        ++queries;
        *ppv = riid == IID_IUnknown || riid == IID_IAdviseSink ? this : nullptr;
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    // Lives on the test's stack: COM's references do not decide its life.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    void STDMETHODCALLTYPE OnDataChange(FORMATETC*, STGMEDIUM* medium) override
    {
        const LONG inside = ++inCall_;
        if (inside > mostAtOnce) mostAtOnce = inside;
        const auto* header = static_cast<const OPCGROUPHEADER*>(GlobalLock(medium->hGlobal));
        const OPCHANDLE group = header->hClientGroup;
        GlobalUnlock(medium->hGlobal);
        {
            std::lock_guard<std::mutex> guard(lock_);
            groups_.push_back(group);
        }
        Sleep(20);  // long enough for a second caller to be seen
        --inCall_;
    }
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
    void STDMETHODCALLTYPE OnSave() override {}
    void STDMETHODCALLTYPE OnClose() override {}

    std::vector<OPCHANDLE> Groups()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return groups_;
    }
    // A call is running in the sink.
    bool InCall() const { return inCall_ > 0; }
    std::atomic<LONG> mostAtOnce{0};
    std::atomic<int> queries{0};

private:
    std::atomic<LONG> inCall_{0};
    std::mutex lock_;
    std::vector<OPCHANDLE> groups_;
};

TEST(DataChangeAcrossProcesses, ASinkSharedByThreeGroupsGetsOneCallAtATimeInGroupOrder)
{
    constexpr size_t kStreams = 15;
    SharedSink sink;
    int queriesWhileSubscribed = -1;
    // The client runs in the multithreaded apartment: nothing of COM serialises its calls.
    std::thread client([&sink, &queriesWhileSubscribed] {
        if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return;
        {
            ComPtr<IOPCServer> server;
            CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                             IID_PPV_ARGS(&server));
            std::vector<std::pair<ComPtr<IDataObject>, DWORD>> groups;
            for (OPCHANDLE handle = 1; server && handle <= 3; ++handle) {
                ComPtr<IOPCItemMgt> items =
                    AddClientGroup(*server.Get(), std::to_wstring(handle).c_str(), handle);
                AddActiveItems(*items.Get(), {L"Level"});
                ComPtr<IDataObject> data;
                items.As(&data);
                FORMATETC format{DataTimeFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
                DWORD token = 0;
                data->DAdvise(&format, 0, &sink, &token);
                groups.emplace_back(data, token);
            }
            const ULONGLONG end = GetTickCount64() + kPatienceMs;
            const size_t advised = sink.Groups().size();
            while (sink.Groups().size() == advised && GetTickCount64() < end) Sleep(50);
            const int queriesSubscribed = sink.queries;
            while (sink.Groups().size() < kStreams && GetTickCount64() < end) Sleep(50);
            queriesWhileSubscribed = sink.queries - queriesSubscribed;
            for (const auto& [data, token] : groups) data->DUnadvise(token);
        }
        CoDisconnectObject(&sink, 0);
        CoUninitialize();
    });
    client.join();
    // A stream already on its way when the client let go may still be in the sink, which lives
    // on this stack.
    EXPECT_TRUE(WaitUntil([&sink] { return !sink.InCall(); }, kPatienceMs));

    const std::vector<OPCHANDLE> groups = sink.Groups();
    ASSERT_GE(groups.size(), kStreams);
    EXPECT_EQ(1, sink.mostAtOnce.load()) << "never two calls at once";
    // From the first pass that reaches all three groups, every pass calls them in their order.
    size_t pass = 0;
    while (pass + 3 <= groups.size() &&
           !(groups[pass] == 1 && groups[pass + 1] == 2 && groups[pass + 2] == 3)) {
        ++pass;
    }
    ASSERT_LT(pass + 3, groups.size());
    for (; pass + 3 <= groups.size(); pass += 3) {
        EXPECT_EQ((std::vector<OPCHANDLE>{1, 2, 3}),
                  std::vector<OPCHANDLE>(groups.begin() + pass, groups.begin() + pass + 3));
    }
    EXPECT_EQ(0, queriesWhileSubscribed) << "one call a stream, nothing more";
}

TEST(DataChangeAcrossProcesses, StreamsArriveByteForByteInBothFormats)
{
    SubscribedClient client({L"Operator", L"Pump"}, {DataTimeFormat(), DataFormat()});
    ASSERT_TRUE(client.WaitForStreams(2));
    // Copies: a stream arriving meanwhile may move the client's list.
    const ReceivedStream withTime = client.Streams()[0];
    const ReceivedStream data = client.Streams()[1];
    ASSERT_EQ(DataTimeFormat(), withTime.format) << "the stream with time comes first";
    ASSERT_EQ(DataFormat(), data.format);
    const struct {
        const ReceivedStream* stream;
        DWORD size;
        DWORD itemHeader;
    } layouts[] = {{&withTime, 102, 20}, {&data, 86, 12}};
    for (const auto& layout : layouts) {
        const std::vector<BYTE>& bytes = layout.stream->bytes;
        ASSERT_GE(bytes.size(), layout.size);
        EXPECT_EQ(static_cast<DWORD>(TYMED_HGLOBAL), layout.stream->tymed);
        EXPECT_EQ(layout.size, At<DWORD>(bytes, 0));
        EXPECT_EQ(2u, At<DWORD>(bytes, 4));
        EXPECT_EQ(kGroupClient, At<DWORD>(bytes, 8));
        EXPECT_EQ(0u, At<DWORD>(bytes, 12)) << "a data change carries no transaction";
        EXPECT_EQ(S_OK, At<HRESULT>(bytes, 16));
        const DWORD first = 20 + 2 * layout.itemHeader;  // the string's value block
        const DWORD second = first + 16 + 4 + 4 + 2;     // "张三": L = 4
        const DWORD expected[][4] = {{1, first, OPC_QUALITY_GOOD, VT_BSTR},
                                     {2, second, OPC_QUALITY_GOOD, VT_BOOL}};
        for (DWORD i = 0; i < 2; ++i) {
            const size_t header = 20 + layout.itemHeader * i;
            EXPECT_EQ(expected[i][0], At<DWORD>(bytes, header));
            EXPECT_EQ(expected[i][1], At<DWORD>(bytes, header + 4));
            EXPECT_EQ(expected[i][2], At<WORD>(bytes, header + 8));
            EXPECT_EQ(0, At<WORD>(bytes, header + 10));
            EXPECT_EQ(expected[i][3], At<VARTYPE>(bytes, expected[i][1]));
            if (layout.itemHeader == 20) {
                EXPECT_NE(0u, At<DWORD>(bytes, header + 16)) << "a timestamp";
            }
        }
        EXPECT_EQ(4u, At<DWORD>(bytes, first + 16));
        EXPECT_EQ(0x5F20, At<WORD>(bytes, first + 20));
        EXPECT_EQ(0x4E09, At<WORD>(bytes, first + 22));
        EXPECT_EQ(0, At<WORD>(bytes, first + 24)) << "terminator";
        EXPECT_EQ(1, At<SHORT>(bytes, second + 8)) << "the discrete value as it is";
    }
}

TEST(DataChangeAcrossProcesses, AChangeInTheSharedAreaReachesTheClientWithTheNextStream)
{
    TagArea area;
    ASSERT_TRUE(area.Mapped());
    SubscribedClient client({kTemperature}, {DataTimeFormat()});
    ASSERT_TRUE(client.WaitForStreams(1));
    const size_t before = client.Streams().size();
    const float changed = area.Record(kTemperatureRecord)->realValue + 10.25f;
    const ULONGLONG changedAt = GetTickCount64();
    area.Record(kTemperatureRecord)->realValue = changed;
    auto carries = [&](const ReceivedStream& stream) {
        const DWORD offset = At<DWORD>(stream.bytes, 24);
        return At<float>(stream.bytes, offset + 8) == changed;
    };
    size_t arrived = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (size_t i = before; i < client.Streams().size(); ++i) {
                if (carries(client.Streams()[i])) {
                    arrived = i;
                    return true;
                }
            }
            return false;
        },
        kPatienceMs));
    // The stream under way at the change may still carry the old value; the next one cannot.
    EXPECT_LE(arrived - before, 1u);
    std::printf("[ figure ] change to client: %llu ms, with stream %zu after the change\n",
                static_cast<unsigned long long>(client.Streams()[arrived].arrivedMs - changedAt),
                arrived - before + 1);
}

TEST(DataChangeAcrossProcesses, AClientWriteReachesTheTagRecordAndTheViewer)
{
    TagArea area;
    ASSERT_TRUE(area.Mapped());
    SubscribedClient client({L"Level"}, {DataTimeFormat()});
    const LONG written = area.Record(kLevelRecord)->integerValue + 35;
    WriteFirstItem(client, written);
    ASSERT_FALSE(HasFailure());
    ExpectLevelWrittenToTheViewer(area, written);
}

// Before the group's update period expires: the write is posted as its item goes.
TEST(DataChangeAcrossProcesses, AWriteFollowedAtOnceByRemoveGroupReachesTheViewer)
{
    TagArea area;
    ASSERT_TRUE(area.Mapped());
    SubscribedClient client({L"Level"}, {});
    const LONG written = area.Record(kLevelRecord)->integerValue + 53;
    WriteFirstItem(client, written);
    client.RemoveGroup();
    ASSERT_FALSE(HasFailure());
    ExpectLevelWrittenToTheViewer(area, written);
}

TEST(DataChangeAcrossProcesses, AWriteToAnInactiveItemReachesTheViewer)
{
    TagArea area;
    ASSERT_TRUE(area.Mapped());
    SubscribedClient client({L"Level"}, {});
    OPCHANDLE handle = client.Handles().at(0);
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_OK, client.Items()->SetActiveState(1, &handle, FALSE, errors.out()));
    const LONG written = area.Record(kLevelRecord)->integerValue + 61;
    WriteFirstItem(client, written);
    ASSERT_FALSE(HasFailure());
    ExpectLevelWrittenToTheViewer(area, written);
}

TEST(DataChangeAcrossProcesses, AKilledSubscriberDoesNotStopTheOthers)
{
    RunningClient doomed(L"watch Level Operator --seconds 120");
    ASSERT_TRUE(doomed.Started());
    SubscribedClient survivor({L"Level"}, {DataTimeFormat()});
    ASSERT_TRUE(
        WaitUntil([&] { return Contains(doomed.Output(), "data with time stream"); }, kPatienceMs))
        << doomed.Output();
    ASSERT_TRUE(survivor.WaitForStreams(1));
    const size_t before = survivor.Streams().size();
    const ULONGLONG killedAt = GetTickCount64();
    doomed.Kill();
    constexpr size_t kAfter = 4;
    ASSERT_TRUE(survivor.WaitForStreams(before + kAfter)) << "the survivor goes on receiving";
    // How long the server took between streams around the dead client, for the report.
    ULONGLONG previous = killedAt, longest = 0;
    for (size_t i = before; i < survivor.Streams().size(); ++i) {
        longest = std::max(longest, survivor.Streams()[i].arrivedMs - previous);
        previous = survivor.Streams()[i].arrivedMs;
    }
    std::printf(
        "[ figure ] longest gap between streams after the kill: %llu ms "
        "(poll period 1000 ms)\n",
        static_cast<unsigned long long>(longest));
}

TEST(DataChangeAcrossProcesses, KilledClientsServerObjectsAreReclaimed)
{
    // The survivor and the doomed watchers fill the server table's nine entries.
    constexpr int kDoomed = 8;
    SubscribedClient survivor({L"Level"}, {DataTimeFormat()});
    std::vector<std::unique_ptr<RunningClient>> doomed;
    for (int i = 0; i < kDoomed; ++i) {
        doomed.push_back(std::make_unique<RunningClient>(L"watch Level Operator --seconds 120"));
        ASSERT_TRUE(doomed.back()->Started());
    }
    for (const auto& client : doomed) {
        ASSERT_TRUE(WaitUntil([&] { return Contains(client->Output(), "data with time stream"); },
                              kPatienceMs))
            << client->Output();
    }
    ComPtr<IOPCServer> refused;
    ASSERT_EQ(E_OUTOFMEMORY, CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr,
                                              CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&refused)))
        << "the table is full before the kill";
    ASSERT_TRUE(survivor.WaitForStreams(1));
    for (const auto& client : doomed) client->Kill();
    const ULONGLONG killedAt = GetTickCount64();
    const size_t before = survivor.Streams().size();

    std::vector<ComPtr<IOPCServer>> newcomers;
    EXPECT_TRUE(WaitUntil(
        [&] {
            ComPtr<IOPCServer> server;
            if (SUCCEEDED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                           IID_PPV_ARGS(&server)))) {
                newcomers.push_back(server);
            }
            return newcomers.size() == kDoomed;
        },
        kPatienceMs))
        << newcomers.size() << " of " << kDoomed << " new clients served";
    std::printf(
        "[ figure ] killed clients' entries serving new clients: %llu ms after the kill "
        "(poll period 1000 ms)\n",
        static_cast<unsigned long long>(GetTickCount64() - killedAt));
    EXPECT_TRUE(survivor.WaitForStreams(before + 2)) << "the survivor goes on receiving";
}

TEST(OpcClientDataChange, WatchPrintsEveryItemOfEveryCallbackInBothBitnesses)
{
    for (const wchar_t* client : kOpcclients) {
        const std::string output =
            Opcclient(L"watch Operator Pump --callbacks 3 --seconds 30", 0, client);
        EXPECT_TRUE(
            Contains(output, "data with time stream: group 0, transaction 0, 2 item(s), 102 bytes"))
            << output;
        EXPECT_TRUE(Contains(output, "data stream: group 0, transaction 0, 2 item(s), 86 bytes"))
            << output;
        EXPECT_TRUE(Contains(output, "  item 0: \"张三\"")) << output;
        EXPECT_TRUE(Contains(output, "good (0xC0)")) << output;
        EXPECT_TRUE(Contains(output, "watched 3 callback(s); unadvised")) << output;
    }

    const std::string data = Opcclient(L"watch Pump --format data --callbacks 1 --rate 1500");
    EXPECT_TRUE(Contains(data, "update rate 1500 ms")) << data;
    EXPECT_FALSE(Contains(data, "data with time stream")) << data;
}

TEST(OpcClientDataChange, AsynchronousRequestsCompleteWithTheirTransactions)
{
    std::string output = Opcclient(L"async-read Operator Pump --source device");
    EXPECT_TRUE(Contains(output, "read queued: transaction 1")) << output;
    EXPECT_TRUE(Contains(output, "data stream: group 0, transaction 1, 2 item(s), 86 bytes"))
        << output;
    EXPECT_TRUE(Contains(output, "data with time stream: group 0, transaction 1")) << output;
    EXPECT_TRUE(Contains(output, "transaction 1 completed")) << output;

    output = Opcclient(L"async-refresh Pump");
    EXPECT_TRUE(Contains(output, "data stream: group 0, transaction 1, 1 item(s)")) << output;

    output = Opcclient(L"async-cancel Pump");
    EXPECT_TRUE(Contains(output, "no completion arrived for transaction 1")) << output;

    output = Opcclient(L"async-write Level xyz");
    EXPECT_TRUE(Contains(output, "write complete stream: group 0, transaction 1, 1 item(s)"))
        << output;
    // OPC_E_BADTYPE, as IOPCSyncIO::Write answers it.
    EXPECT_TRUE(Contains(output, "item 0: failed 0xC0040004")) << output;

    output = Opcclient(L"async-write Level 4321");
    EXPECT_TRUE(Contains(output, "item 0: written")) << output;
    EXPECT_TRUE(
        WaitUntil([] { return Contains(RequestLog(), "name=\"Level\" type=11 value=\"4321\""); },
                  kPatienceMs))
        << RequestLog();
}

TEST(OpcClientDataAccess2, CommandsReachTheServersDa2InterfacesInBothBitnesses)
{
    int written = 4322;
    for (const wchar_t* client : kOpcclients) {
        const std::wstring write = L"write2 Level " + std::to_wstring(written);
        const struct {
            std::wstring command;
            std::vector<const char*> expected;
        } cases[] = {
            {L"properties Level",
             {"Level: 6 properties", "1 Item Canonical DataType (VT_I2): ",
              "5 Item Access Rights (VT_I4): 3 (VT_I4)", "6 Server Scan Rate (VT_R4): 1000"}},
            {L"locales", {"locales: 0x0800 0x0409 0x0804", "current locale: 0x0800"}},
            {L"watch2 Operator Pump --callbacks 1 --seconds 30",
             {"data change: transaction 0, 2 item(s), master quality 0x00000000",
              "  item 0: \"张三\"", "watched 1 data change(s); disconnected"}},
            {L"read2 Operator Pump",
             {"read queued: transaction 1001",
              "read complete: transaction 1001, 2 item(s), master quality 0x00000000, master "
              "error 0x00000000"}},
            {L"refresh2 Pump", {"data change: transaction 1001, 1 item(s)"}},
            {write,
             {"write complete: transaction 1001, 1 item(s), master error 0x00000000",
              "item 0: written"}},
            {L"cancel2 Pump", {"read queued as transaction 1001, cancel: "}},
        };
        for (const auto& c : cases) {
            const std::string output = Opcclient(c.command, 0, client);
            for (const char* expected : c.expected) {
                EXPECT_TRUE(Contains(output, expected)) << expected << " in:\n" << output;
            }
        }
        const std::string line = "name=\"Level\" type=11 value=\"" + std::to_string(written) + "\"";
        EXPECT_TRUE(WaitUntil([&] { return Contains(RequestLog(), line); }, kPatienceMs))
            << RequestLog();
        ++written;
    }
}

// The project's tag names in mirror order, each the item ID of its tag.
const std::vector<std::wstring> kProjectTags = {L"Level", kTemperature,  L"Operator",
                                                L"Pump",  L"Pump.Speed", L"Valve.Open"};

// The names IOPCBrowse lists under `branch`, `pageSize` a page, following every continuation
// point; `pages` counts the calls.
std::vector<std::wstring> BrowseAllPages(IOPCBrowse& browse, const wchar_t* branch, DWORD pageSize,
                                         int& pages)
{
    std::vector<std::wstring> names;
    // The strings and the property list are reference pointers across processes: never null.
    std::wstring item(branch);
    std::wstring noFilter;
    DWORD noProperty = 0;
    LPWSTR point = nullptr;
    pages = 0;
    do {
        BOOL more = TRUE;
        DWORD count = 0;
        OPCBROWSEELEMENT* elements = nullptr;
        const HRESULT hr =
            browse.Browse(item.data(), &point, pageSize, OPC_BROWSE_FILTER_ALL, noFilter.data(),
                          noFilter.data(), FALSE, FALSE, 0, &noProperty, &more, &count, &elements);
        EXPECT_EQ(S_OK, hr);
        if (FAILED(hr)) break;
        ++pages;
        EXPECT_FALSE(more);
        EXPECT_LE(count, pageSize);
        for (DWORD i = 0; i < count; ++i) {
            names.emplace_back(elements[i].szName);
            EXPECT_STREQ(elements[i].szName, elements[i].szItemID);
            CoTaskMemFree(elements[i].szName);
            CoTaskMemFree(elements[i].szItemID);
        }
        CoTaskMemFree(elements);
    } while (point && pages < 100);
    CoTaskMemFree(point);
    return names;
}

// Reads item IDs through IOPCItemIO with one max age for all; each must be read.
std::vector<LONG> ReadLevels(IOPCItemIO& io, std::vector<DWORD> maxAges)
{
    std::vector<LPCWSTR> items(maxAges.size(), L"Level");
    TaskOut<VARIANT> values;
    TaskOut<WORD> qualities;
    TaskOut<FILETIME> times;
    TaskOut<HRESULT> errors;
    EXPECT_EQ(S_OK, io.Read(static_cast<DWORD>(items.size()), items.data(), maxAges.data(),
                            values.out(), qualities.out(), times.out(), errors.out()));
    std::vector<LONG> levels;
    for (size_t i = 0; values.get() && i < items.size(); ++i) {
        EXPECT_EQ(VT_I4, values[i].vt);
        EXPECT_EQ(OPC_QUALITY_GOOD, qualities[i]);
        levels.push_back(values[i].lVal);
    }
    return levels;
}

class Da3AcrossProcesses : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                         IID_PPV_ARGS(&server_)));
        ASSERT_EQ(S_OK, server_.As(&browse_));
        ASSERT_EQ(S_OK, server_.As(&io_));
    }

    ComPtr<IOPCServer> server_;
    ComPtr<IOPCBrowse> browse_;
    ComPtr<IOPCItemIO> io_;
};

TEST_F(Da3AcrossProcesses, PagesReachEveryTagOnceAndEachBrowsedIdIsAddedReadAndHasProperties)
{
    int pages = 0;
    EXPECT_EQ(std::vector<std::wstring>{L"Tagname"}, BrowseAllPages(*browse_.Get(), L"", 1, pages));
    EXPECT_EQ(1, pages);
    std::vector<std::wstring> itemIds = BrowseAllPages(*browse_.Get(), L"Tagname", 4, pages);
    EXPECT_EQ(kProjectTags, itemIds);
    EXPECT_EQ(2, pages);
    ASSERT_EQ(kProjectTags.size(), itemIds.size());

    ComPtr<IOPCItemMgt> items = AddClientGroup(*server_.Get(), L"browsed", kGroupClient);
    ASSERT_TRUE(items);
    EXPECT_EQ(kProjectTags.size(), AddActiveItems(*items.Get(), itemIds).size());
    std::vector<LPCWSTR> ids;
    for (const std::wstring& id : itemIds) ids.push_back(id.c_str());
    std::vector<DWORD> maxAges(ids.size(), 0xFFFFFFFF);
    TaskOut<VARIANT> values;
    TaskOut<WORD> qualities;
    TaskOut<FILETIME> times;
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_OK, io_->Read(static_cast<DWORD>(ids.size()), ids.data(), maxAges.data(),
                              values.out(), qualities.out(), times.out(), errors.out()));
    for (size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(S_OK, errors[i]) << i;
        EXPECT_EQ(OPC_QUALITY_GOOD, qualities[i]) << i;
        VariantClear(&values[i]);
    }

    std::vector<LPWSTR> propertyItems;
    for (std::wstring& id : itemIds) propertyItems.push_back(id.data());
    DWORD valueProperty = 2;
    TaskOut<OPCITEMPROPERTIES> lists;
    ASSERT_EQ(S_OK, browse_->GetProperties(static_cast<DWORD>(propertyItems.size()),
                                           propertyItems.data(), TRUE, 1, &valueProperty,
                                           lists.out()));
    for (size_t i = 0; i < propertyItems.size(); ++i) {
        EXPECT_EQ(S_OK, lists[i].hrErrorID) << i;
        ASSERT_EQ(1u, lists[i].dwNumProperties) << i;
        OPCITEMPROPERTY& property = lists[i].pItemProperties[0];
        EXPECT_STREQ(L"Item Value", property.szDescription) << i;
        EXPECT_NE(VT_EMPTY, property.vValue.vt) << i;
        CoTaskMemFree(property.szDescription);
        VariantClear(&property.vValue);
        CoTaskMemFree(lists[i].pItemProperties);
    }
}

TEST_F(Da3AcrossProcesses, AContinuationPointGivenWithAnotherFilterIsRefusedAndKeptForItsOwn)
{
    // The strings and the property list are reference pointers across processes: never null.
    std::wstring branch(L"Tagname");
    std::wstring noFilter;
    DWORD noProperty = 0;
    LPWSTR point = nullptr;
    const auto page = [&](const wchar_t* nameFilter, std::vector<std::wstring>& names) {
        std::wstring filter(nameFilter);
        BOOL more = TRUE;
        DWORD count = 0;
        OPCBROWSEELEMENT* elements = nullptr;
        const HRESULT hr = browse_->Browse(branch.data(), &point, 4, OPC_BROWSE_FILTER_ALL,
                                           filter.data(), noFilter.data(), FALSE, FALSE, 0,
                                           &noProperty, &more, &count, &elements);
        for (DWORD i = 0; i < count; ++i) {
            names.emplace_back(elements[i].szName);
            CoTaskMemFree(elements[i].szName);
            CoTaskMemFree(elements[i].szItemID);
        }
        CoTaskMemFree(elements);
        return hr;
    };
    std::vector<std::wstring> names;
    ASSERT_EQ(S_OK, page(L"", names));
    ASSERT_NE(nullptr, point);
    const std::wstring given(point);
    EXPECT_EQ(OPC_E_INVALIDCONTINUATIONPOINT, page(L"P*", names)) << "a filter changed mid-paging";
    ASSERT_NE(nullptr, point);
    EXPECT_EQ(given, point);
    EXPECT_EQ(S_OK, page(L"", names));
    EXPECT_EQ(kProjectTags, names);
    EXPECT_EQ(nullptr, point);
    CoTaskMemFree(point);
}

// The test changes Level's record as the Viewer would: a read of max age 0 sees the record's
// value at once, one of any age the value the mirror took at the last poll cycle.
TEST_F(Da3AcrossProcesses, AMaxAgeOfZeroReadsTheViewersRecordBeforeAPollCycleCould)
{
    TagArea area;
    ASSERT_TRUE(area.Mapped());
    bool sawCached = false;
    // A poll cycle may fall between the change and the read; one of a few tries sees both.
    for (int attempt = 0; attempt < 5 && !sawCached; ++attempt) {
        const LONG before = ReadLevels(*io_.Get(), {0}).at(0);
        ASSERT_TRUE(WaitUntil([&] { return ReadLevels(*io_.Get(), {0xFFFFFFFF}).at(0) == before; },
                              kPatienceMs))
            << "the mirror took the record's value";
        const LONG changed = before + 17;
        area.Record(kLevelRecord)->integerValue = changed;
        const std::vector<LONG> levels = ReadLevels(*io_.Get(), {0, 0xFFFFFFFF});
        ASSERT_EQ(2u, levels.size());
        EXPECT_EQ(changed, levels[0]);
        sawCached = levels[1] == before;
        if (!sawCached) {
            EXPECT_EQ(changed, levels[1]) << "only a poll cycle changes the cache";
        }
    }
    EXPECT_TRUE(sawCached);
}

TEST_F(Da3AcrossProcesses, AReadOfTheRecordAfterTheTagChangedCarriesATimeAfterTheChange)
{
    TagArea area;
    ASSERT_TRUE(area.Mapped());
    // The client's own item of the tag, stamped before the change, plays no part.
    ComPtr<IOPCItemMgt> items = AddClientGroup(*server_.Get(), L"timed", kGroupClient);
    ASSERT_TRUE(items);
    ASSERT_EQ(1u, AddActiveItems(*items.Get(), {L"Level"}).size());
    Sleep(50);  // so that a time of before the change can be told apart
    FILETIME changedAt;
    GetSystemTimeAsFileTime(&changedAt);
    area.Record(kLevelRecord)->integerValue += 23;
    LPCWSTR item = L"Level";
    DWORD maxAge = 0;
    TaskOut<VARIANT> values;
    TaskOut<WORD> qualities;
    TaskOut<FILETIME> times;
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_OK, io_->Read(1, &item, &maxAge, values.out(), qualities.out(), times.out(),
                              errors.out()));
    EXPECT_EQ(area.Record(kLevelRecord)->integerValue, values[0].lVal);
    // FILETIMEs of the one clock both processes read.
    EXPECT_GE(CompareFileTime(&times[0], &changedAt), 0);
}

// The Viewer refuses client writes to a write-inhibited tag: every write path says so at once,
// and nothing reaches the tag.
TEST_F(Da3AcrossProcesses, WritesToAWriteInhibitedTagAreRefusedOnEveryPath)
{
    TagArea area;
    ASSERT_TRUE(area.Mapped());
    ComPtr<IOPCItemMgt> items = AddClientGroup(*server_.Get(), L"inhibited", kGroupClient);
    ASSERT_TRUE(items);
    std::vector<OPCHANDLE> handles = AddActiveItems(*items.Get(), {L"Level"});
    ASSERT_EQ(1u, handles.size());
    ComPtr<IOPCSyncIO> sync;
    ComPtr<IOPCSyncIO2> sync2;
    ASSERT_EQ(S_OK, items.As(&sync));
    ASSERT_EQ(S_OK, items.As(&sync2));
    const LONG level = area.Record(kLevelRecord)->integerValue;
    area.Record(kLevelRecord)->writeInhibit = 1;
    VARIANT value{};
    value.vt = VT_I4;
    value.lVal = level + 5;
    OPCITEMVQT vqt{};
    vqt.vDataValue = value;
    LPCWSTR item = L"Level";
    TaskOut<HRESULT> written, writtenVqt, writtenById;
    EXPECT_EQ(S_OK, sync->Write(1, handles.data(), &value, written.out())) << "DA 1.0: S_OK";
    EXPECT_EQ(S_FALSE, sync2->WriteVQT(1, handles.data(), &vqt, writtenVqt.out()));
    EXPECT_EQ(S_FALSE, io_->WriteVQT(1, &item, &vqt, writtenById.out()));
    Sleep(2500);  // two poll cycles: anything taken would have reached the record
    const LONG after = area.Record(kLevelRecord)->integerValue;
    area.Record(kLevelRecord)->writeInhibit = 0;
    EXPECT_EQ(OPC_E_BADRIGHTS, written[0]);
    EXPECT_EQ(OPC_E_BADRIGHTS, writtenVqt[0]);
    EXPECT_EQ(OPC_E_BADRIGHTS, writtenById[0]);
    EXPECT_EQ(level, after) << "nothing written";
}

TEST_F(Da3AcrossProcesses, AVqtWriteReachesTheViewerAndOneWithAQualityWritesNothing)
{
    TagArea area;
    ASSERT_TRUE(area.Mapped());
    const LONG refused = area.Record(kLevelRecord)->integerValue + 71;
    const LONG written = refused + 1;
    const auto write = [this](LONG value, bool quality) {
        OPCITEMVQT vqt{};
        vqt.vDataValue.vt = VT_I4;
        vqt.vDataValue.lVal = value;
        vqt.bQualitySpecified = quality;
        vqt.wQuality = OPC_QUALITY_GOOD;
        LPCWSTR item = L"Level";
        TaskOut<HRESULT> errors;
        const HRESULT hr = io_->WriteVQT(1, &item, &vqt, errors.out());
        EXPECT_EQ(quality ? S_FALSE : S_OK, hr);
        return errors.get() ? errors[0] : hr;
    };
    EXPECT_EQ(OPC_E_NOTSUPPORTED, write(refused, true));
    EXPECT_EQ(S_OK, write(written, false));
    ExpectLevelWrittenToTheViewer(area, written);
    // Writes reach the Viewer in the order taken: had the refused value been taken, the log
    // would show it before the written one.
    EXPECT_FALSE(Contains(RequestLog(), "value=\"" + std::to_string(refused) + "\""))
        << RequestLog();
}

TEST(OpcClientDataAccess3, ServerObjectCommandsInBothBitnesses)
{
    int written = 5400;
    for (const wchar_t* client : kOpcclients) {
        const std::wstring write = L"itemio-write Level " + std::to_wstring(written);
        const struct {
            std::wstring command;
            DWORD exitCode;
            std::vector<const char*> expected;
        } cases[] = {
            {L"browse3 Tagname --page 4 --properties 1,2",
             0,
             {"page 1: 4 element(s), continuation point ", "page 2: 2 element(s)\n",
              "  Level (item, item ID Level)\n    1 Item Canonical DataType (VT_I2): 3 (VT_I2)",
              "  Pump.Speed (item, item ID Pump.Speed)\n", "6 element(s) in 2 page(s)"}},
            {L"browse3", 0, {"  Tagname (branch, item ID Tagname)", "1 element(s) in 1 page(s)"}},
            {L"browse3 Tagname --filter items --name P*",
             0,
             {"page 1: 2 element(s)\n  Pump (item, item ID Pump)\n  Pump.Speed (item"}},
            {L"browse3 NoSuch", 3, {"(0xC0040007)"}},
            {L"itemio-read Pump Pump.Speed NoSuch --maxage any",
             3,
             {"Pump = true (1) (VT_BOOL)  quality good (0xC0)", "Pump.Speed = 40 (VT_I4)",
              "NoSuch: ", "(0xC0040007)"}},
            {L"itemio-read Operator", 0, {"Operator = \"", "quality good (0xC0)"}},
            {L"itemio-write Level 1 --quality 192", 3, {"Level: ", "(0xC0040406)"}},
            {L"itemio-write Level 2 --time now", 3, {"(0xC0040406)"}},
            {write, 0, {"wrote \"", "to Level"}},
        };
        for (const auto& c : cases) {
            const std::string output = Opcclient(c.command, c.exitCode, client);
            for (const char* expected : c.expected) {
                EXPECT_TRUE(Contains(output, expected)) << expected << " in:\n" << output;
            }
        }
        const std::string line = "name=\"Level\" type=11 value=\"" + std::to_string(written) + "\"";
        EXPECT_TRUE(WaitUntil([&] { return Contains(RequestLog(), line); }, kPatienceMs))
            << RequestLog();
        ++written;
    }
}

TEST(OpcClientDataAccess3, GroupCommandsInBothBitnesses)
{
    TagArea area;
    ASSERT_TRUE(area.Mapped());
    LONG written = 4545;
    for (const wchar_t* client : kOpcclients) {
        std::string output = Opcclient(L"write-vqt Level " + std::to_wstring(written), 0, client);
        EXPECT_TRUE(Contains(output, "wrote " + std::to_string(written) + " to Level")) << output;
        ExpectLevelWrittenToTheViewer(area, written);
        output = Opcclient(L"read-maxage Level Operator --maxage 0", 0, client);
        EXPECT_TRUE(Contains(output, "Level = " + std::to_string(written))) << output;
        EXPECT_TRUE(Contains(output, "Operator = \"张三\"")) << output;
        output = Opcclient(
            L"watch-keepalive Valve.Open --keepalive 1000 --callbacks 3 --seconds 30", 0, client);
        EXPECT_TRUE(Contains(output, "keep-alive 1000 ms")) << output;
        EXPECT_TRUE(Contains(output,
                             " keep-alive: transaction 0, 0 item(s), master quality "
                             "0x00000000, master error 0x00000000"))
            << output;
        EXPECT_TRUE(Contains(output, "watched 1 data change(s) and 2 keep-alive(s)")) << output;
        ++written;
    }
}

}  // namespace
