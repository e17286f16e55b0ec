#include "data_callback_sink.h"

#include <cwchar>
#include <exception>
#include <string>

#include "console_output.h"
#include "value_text.h"

using Microsoft::WRL::ComPtr;

namespace {

std::wstring Heading(const std::wstring& call, DWORD transaction, DWORD count)
{
    return call + L": transaction " + std::to_wstring(transaction) + L", " +
           std::to_wstring(count) + L" item(s)";
}

// Nothing may be thrown back into the server's call: when printing runs out of memory the
// call is counted but not shown.
template <class Print>
void PrintSafely(Print print)
{
    try {
        print();
    } catch (const std::exception&) {
    }
}

void PrintValues(const std::wstring& call, DWORD transaction, HRESULT masterQuality,
                 HRESULT masterError, DWORD count, const OPCHANDLE* clients, const VARIANT* values,
                 const WORD* qualities, const FILETIME* times, const HRESULT* errors)
{
    PrintLine(Heading(call, transaction, count) + L", master quality " + HexText(masterQuality) +
              L", master error " + HexText(masterError));
    if (!clients || !values || !qualities || !times || !errors) return;
    for (DWORD i = 0; i < count; ++i) {
        std::wstring line = L"  item " + std::to_wstring(clients[i]) + L": ";
        if (FAILED(errors[i])) {
            PrintLine(line + L"failed " + HexText(errors[i]));
            continue;
        }
        PrintLine(line + ValueText(values[i]) + L"  " + QualityText(qualities[i]) + L"  " +
                  TimeText(times[i]));
    }
}

// Now, as hh:mm:ss.mmm of the local time.
std::wstring LocalTimeText()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t text[16];
    swprintf(text, 16, L"%02u:%02u:%02u.%03u", now.wHour, now.wMinute, now.wSecond,
             now.wMilliseconds);
    return text;
}

}  // namespace

ComPtr<PrintingCallback> PrintingCallback::Create()
{
    ComPtr<PrintingCallback> callback;
    callback.Attach(new PrintingCallback);
    return callback;
}

HRESULT PrintingCallback::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IOPCDataCallback) return E_NOINTERFACE;
    *ppv = static_cast<IOPCDataCallback*>(this);
    AddRef();
    return S_OK;
}

ULONG PrintingCallback::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

ULONG PrintingCallback::Release()
{
    const LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT PrintingCallback::OnDataChange(DWORD dwTransid, OPCHANDLE, HRESULT hrMasterquality,
                                       HRESULT hrMastererror, DWORD dwCount,
                                       OPCHANDLE* phClientItems, VARIANT* pvValues,
                                       WORD* pwQualities, FILETIME* pftTimeStamps, HRESULT* pErrors)
{
    ++m_dataChanges;
    if (dwCount == 0) ++m_keepAlives;
    PrintSafely([&] {
        m_transactions.push_back(dwTransid);
        std::wstring call = dwCount == 0 ? L"keep-alive" : L"data change";
        if (m_stampArrivals) call = LocalTimeText() + L" " + call;
        PrintValues(call, dwTransid, hrMasterquality, hrMastererror, dwCount, phClientItems,
                    pvValues, pwQualities, pftTimeStamps, pErrors);
    });
    return S_OK;
}

HRESULT PrintingCallback::OnReadComplete(DWORD dwTransid, OPCHANDLE, HRESULT hrMasterquality,
                                         HRESULT hrMastererror, DWORD dwCount,
                                         OPCHANDLE* phClientItems, VARIANT* pvValues,
                                         WORD* pwQualities, FILETIME* pftTimeStamps,
                                         HRESULT* pErrors)
{
    PrintSafely([&] {
        m_transactions.push_back(dwTransid);
        PrintValues(L"read complete", dwTransid, hrMasterquality, hrMastererror, dwCount,
                    phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
    });
    return S_OK;
}

HRESULT PrintingCallback::OnWriteComplete(DWORD dwTransid, OPCHANDLE, HRESULT hrMastererr,
                                          DWORD dwCount, OPCHANDLE* pClienthandles,
                                          HRESULT* pErrors)
{
    PrintSafely([&] {
        m_transactions.push_back(dwTransid);
        PrintLine(Heading(L"write complete", dwTransid, dwCount) + L", master error " +
                  HexText(hrMastererr));
        for (DWORD i = 0; pClienthandles && pErrors && i < dwCount; ++i) {
            PrintLine(
                L"  item " + std::to_wstring(pClienthandles[i]) + L": " +
                (pErrors[i] == S_OK ? std::wstring(L"written") : L"failed " + HexText(pErrors[i])));
        }
    });
    return S_OK;
}

HRESULT PrintingCallback::OnCancelComplete(DWORD dwTransid, OPCHANDLE)
{
    PrintSafely([&] {
        m_transactions.push_back(dwTransid);
        PrintLine(L"cancel complete: transaction " + std::to_wstring(dwTransid));
    });
    return S_OK;
}
