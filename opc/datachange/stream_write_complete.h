#pragma once
// The write-complete stream "OPCSTMFORMATWRITECOMPLETE": a 16-byte OPCGROUPHEADERWRITE (no
// size field; it starts with the item count), then one 8-byte OPCITEMHEADERWRITE per item.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "opc/datachange/stream_block.h"
#include "opc_da.h"

uint64_t WriteCompleteStreamSize(size_t itemCount);

// The stream in a new block, or null when the block cannot be allocated. Each item's dwError
// is its write result as given (S_OK or the failed conversion's HRESULT); hrStatus is S_OK.
StreamBlock BuildWriteCompleteStream(OPCHANDLE hClientGroup, DWORD transactionId,
                                     const std::vector<OPCITEMHEADERWRITE>& items);
