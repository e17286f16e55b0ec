#include "opc/datachange/stream_handover.h"

#include <wrl/client.h>

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

void SendStream(IAdviseSink& sink, CLIPFORMAT format, StreamBlock block)
{
    FORMATETC formatEtc = StreamFormatEtc(format);
    STGMEDIUM medium = StreamMedium(block.get());
    sink.OnDataChange(&formatEtc, &medium);
}

StreamCall::StreamCall(CLIPFORMAT format, bool coalesces, StreamBlock block)
    : m_format(format), m_coalesces(coalesces), m_block(std::move(block))
{
}

HRESULT StreamCall::MakeOn(IUnknown& sink)
{
    // The delivery thread holds the proxy that was marshalled for IAdviseSink: answered locally.
    Microsoft::WRL::ComPtr<IAdviseSink> adviseSink;
    if (SUCCEEDED(sink.QueryInterface(IID_PPV_ARGS(&adviseSink)))) {
        SendStream(*adviseSink.Get(), m_format, std::move(m_block));
    }
    return S_OK;
}

bool StreamCall::Absorb(SinkCall& older, bool /*completionBetween*/)
{
    const auto* stream = dynamic_cast<const StreamCall*>(&older);
    return stream && stream->m_coalesces && stream->m_format == m_format;
}
