#pragma once
// Reading the OPC DA 1.0 streams a server hands to the client's advise sink: the data stream,
// the data-with-time stream and the write-complete stream, checked against their own sizes.
#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <string>
#include <vector>

#include "opc_da.h"

enum class StreamKind { Data, DataTime, WriteComplete };

struct StreamItemValue {
    OPCHANDLE client = 0;
    WORD quality = 0;
    FILETIME timestamp = {};  // data-with-time stream only
    DWORD valueOffset = 0;
    VARTYPE type = VT_EMPTY;
    BYTE bits[8] = {};     // the VARIANT's 8-byte value as sent
    std::wstring text;     // VT_BSTR: the characters that follow the VARIANT
    HRESULT error = S_OK;  // write-complete stream only
};

struct StreamContent {
    DWORD size = 0;  // dwSize of a data stream; the block size of a write-complete one
    OPCHANDLE group = 0;
    DWORD transactionId = 0;
    HRESULT status = S_OK;
    std::vector<StreamItemValue> items;
};

// Decodes `size` bytes of a stream of `kind`; false when the bytes do not hold one (a block or
// size field smaller than the group header, a field pointing outside the block, a count that
// does not fit, a string without its terminator) or when there is no memory to read it into.
// Never throws.
bool ReadStream(StreamKind kind, const BYTE* bytes, size_t size, StreamContent& content);

// The item's value as a VARIANT for the caller to clear; a BSTR is a new copy of its text.
HRESULT ValueOf(const StreamItemValue& item, VARIANT* value);
