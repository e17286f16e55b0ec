#include "tests/opc/datachange/recording_sink.h"

#include <gtest/gtest.h>

#include "tests/opc/datachange/stream_bytes.h"

HRESULT RecordingSink::QueryInterface(REFIID riid, void** ppv)
{
    if (riid != IID_IUnknown && riid != IID_IAdviseSink) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    *ppv = static_cast<IAdviseSink*>(this);
    AddRef();
    return S_OK;
}

ULONG RecordingSink::Release()
{
    const ULONG count = --refs_;
    if (count == 0 && onLastRelease) {
        const std::function<void()> action = std::move(onLastRelease);
        onLastRelease = nullptr;
        action();
    }
    return count;
}

void RecordingSink::OnDataChange(FORMATETC* format, STGMEDIUM* medium)
{
    const auto* start = static_cast<const BYTE*>(GlobalLock(medium->hGlobal));
    const size_t size = GlobalSize(medium->hGlobal);
    streams.push_back(ReceivedStream{format->cfFormat, medium->tymed,
                                     std::vector<BYTE>(start, start + size), GetTickCount64()});
    GlobalUnlock(medium->hGlobal);
    if (streams.size() == 1 && onFirstStream) onFirstStream();
}

CLIPFORMAT DataFormat()
{
    return static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATDATA"));
}

CLIPFORMAT DataTimeFormat()
{
    return static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATDATATIME"));
}

CLIPFORMAT WriteCompleteFormat()
{
    return static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATWRITECOMPLETE"));
}

std::vector<StreamItem> ItemsOf(const ReceivedStream& stream)
{
    const size_t header = stream.format == DataTimeFormat() ? 20 : 12;
    const DWORD count = At<DWORD>(stream.bytes, 4);
    std::vector<StreamItem> items;
    for (DWORD i = 0; i < count; ++i) {
        const size_t at = 20 + header * i;
        const DWORD offset = At<DWORD>(stream.bytes, at + 4);
        items.push_back(
            StreamItem{At<DWORD>(stream.bytes, at), offset, At<WORD>(stream.bytes, at + 8),
                       At<VARTYPE>(stream.bytes, offset), At<LONG>(stream.bytes, offset + 8)});
    }
    return items;
}

DWORD TransactionOf(const ReceivedStream& stream)
{
    // The write-complete header has no size field in front.
    return At<DWORD>(stream.bytes, stream.format == WriteCompleteFormat() ? 8 : 12);
}
