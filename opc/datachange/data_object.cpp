#include "opc/datachange/data_object.h"

#include <olectl.h>  // CONNECT_E_ADVISELIMIT

#include <new>

#include "opc/datachange/sink_calls.h"

namespace {

// Registered in the order of the sink slots: data, data with time, write complete.
constexpr const char* kFormatNames[] = {"OPCSTMFORMATDATA", "OPCSTMFORMATDATATIME",
                                        "OPCSTMFORMATWRITECOMPLETE"};

}  // namespace

DataObjectPart::DataObjectPart(DeliveryGroup& group,
                               const std::shared_ptr<ClientDelivery>& delivery)
    : InterfacePart(group), m_sinks{ClientSink(delivery), ClientSink(delivery), ClientSink(delivery)}
{
    static_assert(sizeof kFormatNames / sizeof kFormatNames[0] == kSinks, "one name a sink");
    for (int i = 0; i < kSinks; ++i) m_formats[i] = RegisterClipboardFormatA(kFormatNames[i]);
}

DataObjectPart::~DataObjectPart()
{
    for (auto& sink : m_sinks) sink.Disconnect();
}

HRESULT DataObjectPart::GetData(FORMATETC*, STGMEDIUM*)
{
    return E_NOTIMPL;
}

HRESULT DataObjectPart::GetDataHere(FORMATETC*, STGMEDIUM*)
{
    return E_NOTIMPL;
}

HRESULT DataObjectPart::QueryGetData(FORMATETC*)
{
    return E_NOTIMPL;
}

HRESULT DataObjectPart::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*)
{
    return E_NOTIMPL;
}

HRESULT DataObjectPart::SetData(FORMATETC*, STGMEDIUM*, BOOL)
{
    return E_NOTIMPL;
}

HRESULT DataObjectPart::EnumFormatEtc(DWORD, IEnumFORMATETC**)
{
    return E_NOTIMPL;
}

HRESULT DataObjectPart::DAdvise(FORMATETC* pformatetc, DWORD /*advf*/, IAdviseSink* pAdvSink,
                                DWORD* pdwConnection)
{
    if (!pdwConnection || !pAdvSink || !pformatetc) return E_POINTER;
    // Only the format counts: aspect, medium and advise flags change nothing, and nothing is
    // sent at registration. The streams always travel as TYMED_HGLOBAL.
    const DWORD format = pformatetc->cfFormat;
    const int slot = SlotOfFormat(format);
    if (slot < 0) return DV_E_FORMATETC;
    if (m_sinks[slot].Connected()) return CONNECT_E_ADVISELIMIT;
    // Asking the client's object and handing it to the delivery thread are calls out: the
    // client may advise the same format or let go of the group meanwhile, so the group is held
    // and the slot looked at again.
    const Microsoft::WRL::ComPtr<DeliveryGroup> keepAlive(&owner());
    Microsoft::WRL::ComPtr<IAdviseSink> sink;
    const HRESULT hr = pAdvSink->QueryInterface(IID_PPV_ARGS(&sink));
    if (FAILED(hr)) return hr;
    if (m_sinks[slot].Connected()) return CONNECT_E_ADVISELIMIT;
    const HRESULT connected = m_sinks[slot].Connect(IID_IAdviseSink, std::move(sink));
    if (FAILED(connected)) return connected;
    if (connected != S_OK) return CONNECT_E_ADVISELIMIT;
    *pdwConnection = format;
    return S_OK;
}

HRESULT DataObjectPart::DUnadvise(DWORD dwConnection)
{
    const int slot = SlotOfFormat(dwConnection);
    if (slot < 0 || !m_sinks[slot].Held()) return OLE_E_NOCONNECTION;
    // The group outlives the release of a sink in its own apartment: the client may advise
    // again or let go of the group from within it.
    const Microsoft::WRL::ComPtr<DeliveryGroup> keepAlive(&owner());
    m_sinks[slot].Disconnect();
    return S_OK;
}

HRESULT DataObjectPart::EnumDAdvise(IEnumSTATDATA**)
{
    return E_NOTIMPL;
}

void DataObjectPart::Deliver(StreamSink sink, bool coalesces, StreamBlock block) const
{
    // Without memory for the call the stream is dropped, as one whose block cannot be had.
    std::unique_ptr<SinkCall> call(new (std::nothrow)
                                       StreamCall(Format(sink), coalesces, std::move(block)));
    if (call) m_sinks[Index(sink)].Send(std::move(call));
}

int DataObjectPart::SlotOfFormat(DWORD format) const
{
    for (int i = 0; i < kSinks; ++i) {
        if (m_formats[i] == format) return i;
    }
    return -1;
}
