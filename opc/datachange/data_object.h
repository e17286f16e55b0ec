#pragma once
#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include <memory>

#include "opc/com/interface_part.h"
#include "opc/datachange/delivery_group.h"
#include "opc/datachange/client_delivery.h"
#include "opc/datachange/stream_formats.h"

// The three stream formats a group serves, in the order its advise connections are kept.
enum class StreamSink { Data, DataTime, WriteComplete };

// IDataObject of a group: one advise sink per stream format, nothing else. The connection
// token of a sink is its format number, which the system registers once for every group.
// A sink in another apartment gets its streams through its client's delivery thread, so that a
// client that stops answering holds up nobody else; a sink in the server's own apartment is
// called at once.
class DataObjectPart final : public InterfacePart<IDataObject, DeliveryGroup> {
public:
    DataObjectPart(DeliveryGroup& group, const std::shared_ptr<ClientDelivery>& delivery);
    // Lets go of the data, data-time and write-complete sinks, in that order.
    ~DataObjectPart();

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) override;
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) override;
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* pformatetc) override;
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC* pformatectIn,
                                                    FORMATETC* pformatetcOut) override;
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium,
                                      BOOL fRelease) override;
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD dwDirection,
                                            IEnumFORMATETC** ppenumFormatEtc) override;
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                                      DWORD* pdwConnection) override;
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD dwConnection) override;
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** ppenumAdvise) override;

    // A sink is registered for `sink`'s format and was not found gone.
    bool Connected(StreamSink sink) const { return m_sinks[Index(sink)].Connected(); }
    // Tells the sink registered now for `sink`'s format from every earlier one; 0 when none.
    unsigned SinkIdentity(StreamSink sink) const { return m_sinks[Index(sink)].Identity(); }
    CLIPFORMAT Format(StreamSink sink) const
    {
        return static_cast<CLIPFORMAT>(m_formats[Index(sink)]);
    }
    // Data-change streams and read and refresh completions go out only while one is set.
    bool HasDataSink() const
    {
        return Connected(StreamSink::Data) || Connected(StreamSink::DataTime);
    }
    // Hands the stream to `sink`'s slot: queued for the client's delivery thread, or sent at
    // once. A coalescing stream (a data change) replaces an older one the client has not taken
    // yet.
    void Deliver(StreamSink sink, bool coalesces, StreamBlock block) const;

private:
    static constexpr int kSinks = 3;
    static int Index(StreamSink sink) { return static_cast<int>(sink); }
    // The sink slot whose format number is `format`, or -1.
    int SlotOfFormat(DWORD format) const;

    ClientSink m_sinks[kSinks];
    DWORD m_formats[kSinks];
};
