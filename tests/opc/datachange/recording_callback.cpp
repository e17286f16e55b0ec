#include "tests/opc/datachange/recording_callback.h"

#include <utility>

namespace {

CallbackRecord Record(CallbackRecord::Kind kind, DWORD transaction, OPCHANDLE group,
                      HRESULT quality, HRESULT error, DWORD count, const OPCHANDLE* handles,
                      const VARIANT* values, const WORD* qualities, const HRESULT* errors)
{
    CallbackRecord record{kind, transaction, group, quality, error, {}};
    for (DWORD i = 0; i < count; ++i) {
        const LONG i4 = values && values[i].vt == VT_I4 ? values[i].lVal : 0;
        record.items.push_back({handles[i], i4, qualities ? qualities[i] : WORD{0}, errors[i]});
    }
    return record;
}

}  // namespace

HRESULT RecordingCallback::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IOPCDataCallback) return E_NOINTERFACE;
    *ppv = static_cast<IOPCDataCallback*>(this);
    AddRef();
    return S_OK;
}

ULONG RecordingCallback::Release()
{
    const ULONG count = --refs_;
    if (count == 0 && onLastRelease) std::exchange(onLastRelease, nullptr)();
    return count;
}

void RecordingCallback::Keep(CallbackRecord record)
{
    calls.push_back(std::move(record));
    if (onFirstCall) std::exchange(onFirstCall, nullptr)();
    if (onEveryCall) onEveryCall();
}

HRESULT RecordingCallback::OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                        HRESULT hrMastererror, DWORD dwCount,
                                        OPCHANDLE* phClientItems, VARIANT* pvValues,
                                        WORD* pwQualities, FILETIME*, HRESULT* pErrors)
{
    Keep(Record(CallbackRecord::DataChange, dwTransid, hGroup, hrMasterquality, hrMastererror,
                dwCount, phClientItems, pvValues, pwQualities, pErrors));
    return S_OK;
}

HRESULT RecordingCallback::OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup,
                                          HRESULT hrMasterquality, HRESULT hrMastererror,
                                          DWORD dwCount, OPCHANDLE* phClientItems,
                                          VARIANT* pvValues, WORD* pwQualities, FILETIME*,
                                          HRESULT* pErrors)
{
    Keep(Record(CallbackRecord::ReadComplete, dwTransid, hGroup, hrMasterquality, hrMastererror,
                dwCount, phClientItems, pvValues, pwQualities, pErrors));
    return S_OK;
}

HRESULT RecordingCallback::OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                           DWORD dwCount, OPCHANDLE* pClienthandles,
                                           HRESULT* pErrors)
{
    Keep(Record(CallbackRecord::WriteComplete, dwTransid, hGroup, S_OK, hrMastererr, dwCount,
                pClienthandles, nullptr, nullptr, pErrors));
    return S_OK;
}

HRESULT RecordingCallback::OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup)
{
    Keep(CallbackRecord{CallbackRecord::CancelComplete, dwTransid, hGroup, S_OK, S_OK, {}});
    return S_OK;
}

std::string ItemValues(const CallbackRecord& record)
{
    std::string text;
    for (const CallbackRecord::Item& item : record.items) {
        if (!text.empty()) text += ' ';
        text += std::to_string(item.client) + "=" + std::to_string(item.i4);
    }
    return text;
}
