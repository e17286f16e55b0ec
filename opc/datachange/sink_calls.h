#pragma once
// The calls made to a client's sinks: a stream handed to an advise sink, and the calls of a
// group's IOPCDataCallback sink. Built on the main thread, made there at once for a sink in the
// server's own apartment or on the client's delivery thread (client_delivery.h).
#include <windows.h>
#include <objidl.h>

#include <vector>

#include "opc/datachange/client_delivery.h"
#include "opc/datachange/stream_formats.h"
#include "opc/values/item_value_owner.h"
#include "opc_da.h"

class ItemObject;

// cfFormat = format, no target device, DVASPECT_CONTENT, lindex -1, TYMED_HGLOBAL.
FORMATETC StreamFormatEtc(CLIPFORMAT format);
// TYMED_HGLOBAL with the block, no pUnkForRelease: the sender keeps and frees the block.
STGMEDIUM StreamMedium(HGLOBAL block);

// A stream for an advise sink: OnDataChange with the block, which is freed after the call.
class StreamCall final : public SinkCall {
public:
    StreamCall(CLIPFORMAT format, bool coalesces, StreamBlock block);

    // OnDataChange reports nothing: `told` stays false and the result is S_OK.
    HRESULT MakeOn(IUnknown& sink, bool& told) override;
    bool Coalesces() const override { return m_coalesces; }
    // A data change carries every item owed at its period, so a newer one of the same format
    // says all that the older would have, completions between or not: the older is dropped.
    bool Absorb(SinkCall& older, bool completionBetween) override;
    size_t Bytes() const override;

    CLIPFORMAT Format() const { return m_format; }
    HGLOBAL Block() const { return m_block.get(); }

private:
    CLIPFORMAT m_format;
    bool m_coalesces;
    StreamBlock m_block;
};

// One item as a data callback carries it, with its server handle (never sent) by which
// waiting data changes merge.
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
// The same of a read with a maximum age (ItemObject::ReadMaxAge), `cachedAt` as the group
// gives it (DeliveryGroup::CachedItemsAt).
CallbackItem ReadCallbackItemMaxAge(ItemObject& item, DWORD maxAge, unsigned long long cachedAt);

enum class DataCallbackKind { DataChange, ReadComplete, WriteComplete, CancelComplete };

class DataCallbackCall final : public SinkCall {
public:
    // A transaction ID of 0 marks the update pass's data change; a request's is the client's.
    DataCallbackCall(DataCallbackKind kind, DWORD transactionId, OPCHANDLE hGroup,
                     std::vector<CallbackItem> items);

    // Asks the sink for IOPCDataCallback (a proxy answers it itself); the callback's result
    // tells.
    HRESULT MakeOn(IUnknown& sink, bool& told) override;
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
    size_t Bytes() const override;

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
