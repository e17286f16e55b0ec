#pragma once
// Handing a stream to a client's advise sink: the FORMATETC and STGMEDIUM records of the call,
// the call itself, and the call as the delivery thread makes it.
#include <windows.h>
#include <objidl.h>

#include "opc/datachange/sink_call.h"
#include "opc/datachange/stream_block.h"

// cfFormat = format, no target device, DVASPECT_CONTENT, lindex -1, TYMED_HGLOBAL.
FORMATETC StreamFormatEtc(CLIPFORMAT format);
// TYMED_HGLOBAL with the block, no pUnkForRelease: the sender keeps and frees the block.
STGMEDIUM StreamMedium(HGLOBAL block);

// Calls the sink's OnDataChange with the stream, then frees the block. A sink whose client has
// gone away does not matter to the sender, and OnDataChange reports nothing anyway.
void SendStream(IAdviseSink& sink, CLIPFORMAT format, StreamBlock block);

// A stream waiting for the delivery thread, for the advise sink of its connection.
class StreamCall final : public SinkCall {
public:
    StreamCall(CLIPFORMAT format, bool coalesces, StreamBlock block);

    // Sends the stream (see SendStream); S_OK, as OnDataChange reports nothing.
    HRESULT MakeOn(IUnknown& sink) override;
    bool Coalesces() const override { return m_coalesces; }
    // A data change carries every item owed at its period, so a newer one of the same format
    // says all that the older would have, completions between or not: the older is dropped.
    bool Absorb(SinkCall& older, bool completionBetween) override;

    CLIPFORMAT Format() const { return m_format; }
    HGLOBAL Block() const { return m_block.get(); }

private:
    CLIPFORMAT m_format;
    bool m_coalesces;
    StreamBlock m_block;
};
