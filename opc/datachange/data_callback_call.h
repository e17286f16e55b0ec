#pragma once
// The calls of a group's IOPCDataCallback sink: a data change (from the update pass, or a
// refresh's completion), a read's, a write's or a cancel's completion, each with the items it
// carries. Built on the main thread, made there at once or on the group's delivery thread.
#include <windows.h>

#include <vector>

#include "opc/datachange/sink_call.h"
#include "opc/values/item_value_owner.h"
#include "opc_da.h"

class ItemObject;

// One item as a callback carries it, with its server handle (never sent) by which pending
// data changes merge.
struct CallbackItem {
    OPCHANDLE hServer = 0;
    OPCHANDLE hClient = 0;
    VariantOwner value;  // read and data change only
    WORD quality = 0;
    FILETIME timestamp = {};
    HRESULT error = S_OK;
};

// The item read from `source` as a read or data-change callback carries it: a failed
// conversion shows as the item's error, with the canonical value and OPC_QUALITY_BAD.
CallbackItem ReadCallbackItem(const ItemObject& item, DWORD source);

enum class DataCallbackKind { DataChange, ReadComplete, WriteComplete, CancelComplete };

class DataCallbackCall final : public SinkCall {
public:
    // A transaction ID of 0 marks the update pass's data change; a request's is the client's.
    DataCallbackCall(DataCallbackKind kind, DWORD transactionId, OPCHANDLE hGroup,
                     std::vector<CallbackItem> items);

    // Asks the sink for IOPCDataCallback (the delivery thread's proxy answers it itself).
    HRESULT MakeOn(IUnknown& sink) override;
    HRESULT Make(IOPCDataCallback& callback);
    // Only the update pass's data change; a refresh's completion keeps its transaction ID.
    bool Coalesces() const override
    {
        return m_kind == DataCallbackKind::DataChange && m_transactionId == 0;
    }
    // The data changes report only items that changed, so nothing of the older one may be
    // lost: it takes in every item of `older` it has not got itself, in server-handle order.
    // Not across a completion (a refresh's values would be followed by older ones), nor when
    // memory is short: then both are kept.
    bool Absorb(SinkCall& older, bool completionBetween) override;

    DataCallbackKind Kind() const { return m_kind; }
    DWORD TransactionId() const { return m_transactionId; }
    const std::vector<CallbackItem>& Items() const { return m_items; }
    // S_OK when every item's quality is GOOD, else S_FALSE.
    HRESULT MasterQuality() const;
    // S_OK when every item's error is S_OK, else S_FALSE.
    HRESULT MasterError() const;

private:
    DataCallbackKind m_kind;
    DWORD m_transactionId;
    OPCHANDLE m_hGroup;
    std::vector<CallbackItem> m_items;
};
