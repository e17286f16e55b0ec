#include "opc/datachange/data_object.h"

#include <olectl.h>  // CONNECT_E_ADVISELIMIT

#include <new>

#include "opc/datachange/stream_handover.h"

namespace {

// Registered in the order of the sink slots: data, data with time, write complete.
constexpr const char* kFormatNames[] = {"OPCSTMFORMATDATA", "OPCSTMFORMATDATATIME",
                                        "OPCSTMFORMATWRITECOMPLETE"};

}  // namespace

DataObjectPart::DataObjectPart(DeliveryGroup& group) : InterfacePart(group)
{
    static_assert(sizeof kFormatNames / sizeof kFormatNames[0] == kSinks, "one name a sink");
    for (int i = 0; i < kSinks; ++i) m_formats[i] = RegisterClipboardFormatA(kFormatNames[i]);
}

DataObjectPart::~DataObjectPart()
{
    for (auto& sink : m_sinks) sink.Reset();
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
    if (m_sinks[slot]) return CONNECT_E_ADVISELIMIT;
    // Asking the client's object and marshalling its proxy are calls out: the client may
    // advise the same format or let go of the group meanwhile, so the group is held and the
    // slot looked at again.
    const Microsoft::WRL::ComPtr<DeliveryGroup> keepAlive(&owner());
    Microsoft::WRL::ComPtr<IAdviseSink> sink;
    const HRESULT hr = pAdvSink->QueryInterface(IID_PPV_ARGS(&sink));
    if (FAILED(hr)) return hr;
    // Only a proxy answers IClientSecurity: the sink lives in another apartment, and its
    // streams go through the delivery thread.
    Microsoft::WRL::ComPtr<IClientSecurity> proxy;
    Microsoft::WRL::ComPtr<IStream> marshalled;
    if (SUCCEEDED(sink.As(&proxy)))
        marshalled = GroupDelivery::Marshal(IID_IAdviseSink, sink.Get());
    if (m_sinks[slot]) {
        if (marshalled) CoReleaseMarshalData(marshalled.Get());
        return CONNECT_E_ADVISELIMIT;
    }
    m_delivered[slot] = marshalled && ConnectToDelivery(slot, marshalled);
    m_sinks[slot] = std::move(sink);
    *pdwConnection = format;
    return S_OK;
}

HRESULT DataObjectPart::DUnadvise(DWORD dwConnection)
{
    const int slot = SlotOfFormat(dwConnection);
    if (slot < 0 || !m_sinks[slot]) return OLE_E_NOCONNECTION;
    // The slot is empty before the sink is released, and the group outlives the release: the
    // client may advise again or let go of the group from within it.
    const Microsoft::WRL::ComPtr<DeliveryGroup> keepAlive(&owner());
    if (m_delivered[slot]) owner().Delivery()->Disconnect(slot);
    m_delivered[slot] = false;
    m_sinks[slot].Reset();
    return S_OK;
}

HRESULT DataObjectPart::EnumDAdvise(IEnumSTATDATA**)
{
    return E_NOTIMPL;
}

void DataObjectPart::Deliver(StreamSink sink, bool coalesces, StreamBlock block) const
{
    const int slot = Index(sink);
    if (m_delivered[slot]) {
        // Without memory for the call the stream is dropped, as one whose block cannot be had.
        std::unique_ptr<SinkCall> call(new (std::nothrow)
                                           StreamCall(Format(sink), coalesces, std::move(block)));
        if (call) owner().Delivery()->Send(slot, std::move(call));
    } else {
        SendStream(*m_sinks[slot].Get(), Format(sink), std::move(block));
    }
}

bool DataObjectPart::ConnectToDelivery(int slot,
                                       const Microsoft::WRL::ComPtr<IStream>& marshalledSink)
{
    GroupDelivery* delivery = owner().StartDelivery();
    if (delivery && delivery->Connect(slot, marshalledSink)) return true;
    if (!delivery) CoReleaseMarshalData(marshalledSink.Get());
    return false;
}

int DataObjectPart::SlotOfFormat(DWORD format) const
{
    for (int i = 0; i < kSinks; ++i) {
        if (m_formats[i] == format) return i;
    }
    return -1;
}
