#pragma once
// Handing a stream to a client's advise sink: the FORMATETC and STGMEDIUM records of the call,
// and the call itself.
#include <windows.h>
#include <objidl.h>

#include "opc/datachange/stream_block.h"

// cfFormat = format, no target device, DVASPECT_CONTENT, lindex -1, TYMED_HGLOBAL.
FORMATETC StreamFormatEtc(CLIPFORMAT format);
// TYMED_HGLOBAL with the block, no pUnkForRelease: the sender keeps and frees the block.
STGMEDIUM StreamMedium(HGLOBAL block);

// Calls the sink's OnDataChange with the stream, then frees the block. A sink whose client has
// gone away does not matter to the sender, and OnDataChange reports nothing anyway.
void SendStream(IAdviseSink& sink, CLIPFORMAT format, StreamBlock block);
