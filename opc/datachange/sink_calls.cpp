#include "opc/datachange/sink_calls.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <new>

#include "opc/items/item_object.h"

FORMATETC StreamFormatEtc(CLIPFORMAT format)
{
    return FORMATETC{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
}

STGMEDIUM StreamMedium(HGLOBAL block)
{
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = block;
    medium.pUnkForRelease = nullptr;
    return medium;
}

StreamCall::StreamCall(CLIPFORMAT format, bool coalesces, StreamBlock block)
    : m_format(format), m_coalesces(coalesces), m_block(std::move(block))
{
}

HRESULT StreamCall::MakeOn(IUnknown& sink, bool& told)
{
    told = false;
    // The delivery thread holds the proxy that was marshalled for IAdviseSink: answered locally.
    Microsoft::WRL::ComPtr<IAdviseSink> adviseSink;
    if (FAILED(sink.QueryInterface(IID_PPV_ARGS(&adviseSink)))) return S_OK;
    FORMATETC formatEtc = StreamFormatEtc(m_format);
    STGMEDIUM medium = StreamMedium(m_block.get());
    adviseSink->OnDataChange(&formatEtc, &medium);
    m_block.reset();
    return S_OK;
}

size_t StreamCall::Bytes() const
{
    return m_block ? GlobalSize(m_block.get()) : 0;
}

bool StreamCall::Absorb(SinkCall& older, bool /*completionBetween*/)
{
    const auto* stream = dynamic_cast<const StreamCall*>(&older);
    return stream && stream->m_coalesces && stream->m_format == m_format;
}

CallbackItem ReadCallbackItem(const ItemObject& item, DWORD source)
{
    CallbackItem read;
    read.hServer = item.ServerHandle();
    read.hClient = item.ClientHandle();
    read.timestamp = item.Timestamp();
    read.error = ReadItem(item.ReadSource(), source, read.value.Receive(), &read.quality);
    return read;
}

CallbackItem ReadCallbackItemMaxAge(ItemObject& item, DWORD maxAge, unsigned long long cachedAt)
{
    CallbackItem read;
    read.hServer = item.ServerHandle();
    read.hClient = item.ClientHandle();
    read.error =
        item.ReadMaxAge(maxAge, cachedAt, read.value.Receive(), &read.quality, &read.timestamp);
    return read;
}

DataCallbackCall::DataCallbackCall(DataCallbackKind kind, DWORD transactionId, OPCHANDLE hGroup,
                                   std::vector<CallbackItem> items)
    : m_kind(kind), m_transactionId(transactionId), m_hGroup(hGroup), m_items(std::move(items))
{
}

HRESULT DataCallbackCall::MakeOn(IUnknown& sink, bool& told)
{
    told = true;
    Microsoft::WRL::ComPtr<IOPCDataCallback> callback;
    const HRESULT asked = sink.QueryInterface(IID_PPV_ARGS(&callback));
    if (FAILED(asked)) return asked;
    return Make(*callback.Get());
}

HRESULT DataCallbackCall::Make(IOPCDataCallback& callback)
{
    if (m_kind == DataCallbackKind::CancelComplete) {
        return callback.OnCancelComplete(m_transactionId, m_hGroup);
    }
    const DWORD count = static_cast<DWORD>(m_items.size());
    std::vector<OPCHANDLE> handles;
    std::vector<VARIANT> values;
    std::vector<WORD> qualities;
    std::vector<FILETIME> timestamps;
    std::vector<HRESULT> errors;
    try {
        // Never an empty reserve: the proxy refuses a null [in] array even of no items (a
        // keep-alive), and data() of a reserved vector points at its storage.
        const size_t reserved = count ? count : 1;
        handles.reserve(reserved);
        values.reserve(reserved);
        qualities.reserve(reserved);
        timestamps.reserve(reserved);
        errors.reserve(reserved);
        for (const CallbackItem& item : m_items) {
            handles.push_back(item.hClient);
            // The call's [in] values are views of the items' own: the callee frees nothing.
            values.push_back(item.value.get());
            qualities.push_back(item.quality);
            timestamps.push_back(item.timestamp);
            errors.push_back(item.error);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    switch (m_kind) {
    case DataCallbackKind::DataChange:
        return callback.OnDataChange(m_transactionId, m_hGroup, MasterQuality(), MasterError(),
                                     count, handles.data(), values.data(), qualities.data(),
                                     timestamps.data(), errors.data());
    case DataCallbackKind::ReadComplete:
        return callback.OnReadComplete(m_transactionId, m_hGroup, MasterQuality(), MasterError(),
                                       count, handles.data(), values.data(), qualities.data(),
                                       timestamps.data(), errors.data());
    default:
        return callback.OnWriteComplete(m_transactionId, m_hGroup, MasterError(), count,
                                        handles.data(), errors.data());
    }
}

bool DataCallbackCall::Absorb(SinkCall& older, bool completionBetween)
{
    auto* call = dynamic_cast<DataCallbackCall*>(&older);
    if (completionBetween || !call || !call->Coalesces() || !Coalesces()) return false;
    std::vector<CallbackItem> merged;
    try {
        merged.reserve(m_items.size() + call->m_items.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Both lists are in ascending server-handle order; where both have an item the newer
    // value is the one the client is owed.
    auto newer = m_items.begin();
    auto old = call->m_items.begin();
    while (newer != m_items.end() || old != call->m_items.end()) {
        if (old == call->m_items.end() ||
            (newer != m_items.end() && newer->hServer <= old->hServer)) {
            if (old != call->m_items.end() && old->hServer == newer->hServer) ++old;
            merged.push_back(std::move(*newer++));
        } else {
            merged.push_back(std::move(*old++));
        }
    }
    m_items = std::move(merged);
    return true;
}

HRESULT DataCallbackCall::MasterQuality() const
{
    const bool allGood = std::all_of(m_items.begin(), m_items.end(), [](const CallbackItem& item) {
        return (item.quality & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD;
    });
    return allGood ? S_OK : S_FALSE;
}

HRESULT DataCallbackCall::MasterError() const
{
    const bool allOk = std::all_of(m_items.begin(), m_items.end(),
                                   [](const CallbackItem& item) { return item.error == S_OK; });
    return allOk ? S_OK : S_FALSE;
}

size_t DataCallbackCall::Bytes() const
{
    size_t bytes = sizeof *this + m_items.capacity() * sizeof(CallbackItem);
    for (const CallbackItem& item : m_items) {
        if (item.value.get().vt == VT_BSTR) bytes += SysStringByteLen(item.value.get().bstrVal);
    }
    return bytes;
}
