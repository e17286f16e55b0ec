#include "opc/datachange/stream_handover.h"

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
