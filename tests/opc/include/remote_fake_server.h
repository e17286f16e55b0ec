// The fake OPC server in its own process: registered for the test run (class and proxy/stub
// DLL, through the registration code the product uses), started once by COM and shared by all
// tests of the program, which reach it through a proxy as any OPC client would.
#pragma once

#include "opc_da.h"

#include <wrl/client.h>

#include <functional>
#include <string>
#include <vector>

// The fake server's IOPCServer proxy; the test fails at set-up when it could not be created.
IOPCServer* remote_server();

// Adds a group named `name` with recognisable arguments and returns its state interface.
Microsoft::WRL::ComPtr<IOPCGroupStateMgt> add_remote_group(const wchar_t* name, OPCHANDLE* hServer);

// Everything IOPCGroupStateMgt::GetState reports; a failed call or a NULL name fails the test.
struct GroupStateSeen {
    DWORD rate = 0;
    BOOL active = FALSE;
    std::wstring name;
    LONG bias = 0;
    FLOAT deadband = 0;
    DWORD lcid = 0;
    OPCHANDLE hClient = 0;
    OPCHANDLE hServer = 0;
};
GroupStateSeen get_state(IOPCGroupStateMgt* group);

// Compares a VARIANT of the kinds OPC items and properties carry (EMPTY, I2, R4, BOOL, BSTR).
void expect_value(const VARIANT& expected, const VARIANT& actual, const char* what);

// Task-allocator blocks alive in the fake server's process, as it reports them.
LONG remote_live_task_blocks();

// Makes `call` (which frees what it is handed) 20 times; fails when a task-allocator block per
// call stays behind in the fake server: what the stub unmarshalled for the call and never freed.
void expect_server_frees_each_call(const char* what, const std::function<HRESULT()>& call);

// Writes of value, quality and timestamp (IOPCItemIO, IOPCSyncIO2, IOPCAsyncIO3), one entry a
// case: the quality and timestamp go with a flag each, and an unflagged field holds something
// else, so that reading the item back shows whether the flags crossed. The last entry is for an
// item the server does not know.
struct VqtWrites {
    static constexpr DWORD kCount = 6;
    VqtWrites();
    ~VqtWrites();
    VqtWrites(const VqtWrites&) = delete;
    VqtWrites& operator=(const VqtWrites&) = delete;

    // The entries' errors, `unknownItem` for the last.
    std::vector<HRESULT> errors(HRESULT unknownItem) const;
    // Entries whose write succeeds, and so can be read back.
    static constexpr DWORD kWritten = 4;
    // What reading back item h, written by entry i, must give; `maxAge` is the age the read asked.
    void expect_read_back(DWORD i, OPCHANDLE h, DWORD maxAge, const VARIANT& value, WORD quality,
                          const FILETIME& timestamp) const;

    OPCITEMVQT vqt[kCount];
};
