#include "advise_sink.h"

#include <exception>
#include <string>

#include "console_output.h"
#include "value_text.h"

using Microsoft::WRL::ComPtr;

namespace {

const wchar_t* KindName(StreamKind kind)
{
    switch (kind) {
    case StreamKind::Data:
        return L"data";
    case StreamKind::DataTime:
        return L"data with time";
    default:
        return L"write complete";
    }
}

bool KindOfFormat(CLIPFORMAT format, StreamKind& kind)
{
    for (StreamKind candidate :
         {StreamKind::Data, StreamKind::DataTime, StreamKind::WriteComplete}) {
        if (StreamFormat(candidate) == format) {
            kind = candidate;
            return true;
        }
    }
    return false;
}

void PrintItem(StreamKind kind, const StreamItemValue& item)
{
    std::wstring line = L"  item " + std::to_wstring(item.client) + L": ";
    if (kind == StreamKind::WriteComplete) {
        PrintLine(line + (item.error == S_OK ? std::wstring(L"written")
                                             : L"failed " + HexText(item.error)));
        return;
    }
    VARIANT value;
    const HRESULT made = ValueOf(item, &value);
    line +=
        SUCCEEDED(made) ? ValueText(value) : L"(value of type " + std::to_wstring(item.type) + L")";
    VariantClear(&value);
    line += L"  " + QualityText(item.quality);
    if (kind == StreamKind::DataTime) line += L"  " + TimeText(item.timestamp);
    PrintLine(line);
}

}  // namespace

ComPtr<PrintingSink> PrintingSink::Create()
{
    ComPtr<PrintingSink> sink;
    sink.Attach(new PrintingSink);
    return sink;
}

HRESULT PrintingSink::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IAdviseSink) return E_NOINTERFACE;
    *ppv = static_cast<IAdviseSink*>(this);
    AddRef();
    return S_OK;
}

ULONG PrintingSink::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

ULONG PrintingSink::Release()
{
    const LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

void PrintingSink::OnDataChange(FORMATETC* format, STGMEDIUM* medium)
{
    ++m_callbacks;
    // Nothing may be thrown back into the server's call. Printing allocates: when memory runs
    // out, the stream is counted but not shown, and the next one is printed as usual.
    try {
        PrintStream(format, medium);
    } catch (const std::exception&) {
    }
}

void PrintingSink::PrintStream(FORMATETC* format, STGMEDIUM* medium)
{
    StreamKind kind;
    if (!format || !medium || medium->tymed != TYMED_HGLOBAL ||
        !KindOfFormat(format->cfFormat, kind)) {
        PrintLine(L"callback with an unknown format or medium");
        return;
    }
    const auto* bytes = static_cast<const BYTE*>(GlobalLock(medium->hGlobal));
    StreamContent content;
    const bool read = ReadStream(kind, bytes, bytes ? GlobalSize(medium->hGlobal) : 0, content);
    if (bytes) GlobalUnlock(medium->hGlobal);
    if (!read) {
        PrintLine(std::wstring(KindName(kind)) + L" stream: malformed");
        return;
    }
    m_transactions.push_back(content.transactionId);
    PrintLine(std::wstring(KindName(kind)) + L" stream: group " + std::to_wstring(content.group) +
              L", transaction " + std::to_wstring(content.transactionId) + L", " +
              std::to_wstring(content.items.size()) + L" item(s), " +
              std::to_wstring(content.size) + L" bytes");
    for (const StreamItemValue& item : content.items) PrintItem(kind, item);
}

CLIPFORMAT StreamFormat(StreamKind kind)
{
    const char* name = kind == StreamKind::Data       ? "OPCSTMFORMATDATA"
                       : kind == StreamKind::DataTime ? "OPCSTMFORMATDATATIME"
                                                      : "OPCSTMFORMATWRITECOMPLETE";
    return static_cast<CLIPFORMAT>(RegisterClipboardFormatA(name));
}

AdviseConnections::~AdviseConnections()
{
    for (DWORD token : m_tokens) m_data->DUnadvise(token);
}

HRESULT AdviseConnections::Connect(IUnknown* group, IAdviseSink* sink,
                                   const std::vector<StreamKind>& kinds)
{
    HRESULT hr = group->QueryInterface(IID_PPV_ARGS(&m_data));
    for (StreamKind kind : kinds) {
        if (FAILED(hr)) break;
        FORMATETC format{StreamFormat(kind), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        DWORD token = 0;
        hr = m_data->DAdvise(&format, ADVF_PRIMEFIRST, sink, &token);
        if (SUCCEEDED(hr)) m_tokens.push_back(token);
    }
    return hr;
}
