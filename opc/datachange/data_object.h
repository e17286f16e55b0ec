#pragma once
#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include <memory>

#include "opc/com/interface_part.h"
#include "opc/datachange/delivery_group.h"
#include "opc/datachange/group_delivery.h"
#include "opc/datachange/stream_block.h"

// The three stream formats a group serves, in the order its advise connections are kept.
enum class StreamSink { Data, DataTime, WriteComplete };

// IDataObject of a group: one advise sink per stream format, nothing else. The connection
// token of a sink is its format number, which the system registers once for every group.
// A sink in another process gets its streams through the group's GroupDelivery, so that a
// client that stops answering holds up nobody else; a sink in the server's own apartment is
// called at once.
class DataObjectPart final : public InterfacePart<IDataObject, DeliveryGroup> {
public:
    explicit DataObjectPart(DeliveryGroup& group);
    // Releases the data, data-time and write-complete sinks, in that order (the group has
    // ended its delivery first).
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

    // The sink registered for `sink`'s format, or null.
    IAdviseSink* Sink(StreamSink sink) const { return m_sinks[Index(sink)].Get(); }
    CLIPFORMAT Format(StreamSink sink) const
    {
        return static_cast<CLIPFORMAT>(m_formats[Index(sink)]);
    }
    // Data-change streams and read and refresh completions go out only while one is set.
    bool HasDataSink() const { return Sink(StreamSink::Data) || Sink(StreamSink::DataTime); }
    // Hands the stream to `sink`'s slot: queued for its delivery thread, or sent at once. A
    // coalescing stream (a data change) replaces an older one the client has not taken yet.
    void Deliver(StreamSink sink, bool coalesces, StreamBlock block) const;

private:
    static constexpr int kSinks = 3;
    static int Index(StreamSink sink) { return static_cast<int>(sink); }
    // The sink slot whose format number is `format`, or -1.
    int SlotOfFormat(DWORD format) const;

    // Connects a marshalled sink of another process to the delivery thread; false leaves it to
    // be called at once.
    bool ConnectToDelivery(int slot, const Microsoft::WRL::ComPtr<IStream>& marshalledSink);

    Microsoft::WRL::ComPtr<IAdviseSink> m_sinks[kSinks];
    bool m_delivered[kSinks] = {};  // the slot's sink gets its streams through m_delivery
    DWORD m_formats[kSinks];
};
