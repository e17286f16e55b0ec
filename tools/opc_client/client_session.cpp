#include "client_session.h"

#include <cwchar>
#include <iterator>
#include <memory>

#include "console_output.h"
#include "opc/com/error_text.h"
#include "value_text.h"

HRESULT ClientSession::Connect(const std::wstring& server)
{
    CLSID clsid;
    HRESULT hr = server.size() > 0 && server[0] == L'{' ? CLSIDFromString(server.c_str(), &clsid)
                                                        : CLSIDFromProgID(server.c_str(), &clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&m_server));
}

std::wstring ClientSession::ErrorText(HRESULT code) const
{
    std::wstring text;
    LPWSTR serverText = nullptr;
    if (m_server && SUCCEEDED(m_server->GetErrorString(code, LOCALE_SYSTEM_DEFAULT, &serverText)) &&
        serverText) {
        std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owner(serverText, &CoTaskMemFree);
        text = serverText;
    }
    if (text.empty()) text = DescribeError(code);
    return text + L" (" + HexText(static_cast<unsigned long>(code)) + L")";
}

HRESULT ClientSession::CheckItemErrors(const std::vector<std::wstring>& itemIds,
                                       const HRESULT* errors) const
{
    HRESULT first = S_OK;
    for (size_t i = 0; errors && i < itemIds.size(); ++i) {
        if (FAILED(errors[i])) {
            PrintLine(itemIds[i] + L": " + ErrorText(errors[i]));
            if (SUCCEEDED(first)) first = errors[i];
        }
    }
    return first;
}
