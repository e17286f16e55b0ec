// The OPC DA 3.0 commands on the server object: browse3 pages through the address space with
// IOPCBrowse, following its continuation points, optionally with the items' properties;
// itemio-read reads item IDs with a max age and itemio-write writes one through IOPCItemIO.
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "client_session.h"
#include "command.h"
#include "console_output.h"
#include "option_arguments.h"
#include "task_block.h"
#include "value_text.h"

using Microsoft::WRL::ComPtr;

namespace {

// Browses give up past this many pages, so that a server that keeps handing out points
// cannot hold the command forever.
constexpr int kMaxPages = 10000;

bool ParseBrowseFilter(const std::wstring& name, OPCBROWSEFILTER& filter)
{
    if (name == L"all") {
        filter = OPC_BROWSE_FILTER_ALL;
    } else if (name == L"branches") {
        filter = OPC_BROWSE_FILTER_BRANCHES;
    } else if (name == L"items") {
        filter = OPC_BROWSE_FILTER_ITEMS;
    } else {
        return false;
    }
    return true;
}

// "all", or property IDs separated by commas.
bool ParsePropertyIds(const std::wstring& text, bool& all, std::vector<DWORD>& ids)
{
    all = text == L"all";
    if (all) return true;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find(L',', start);
        if (end == std::wstring::npos) end = text.size();
        DWORD id = 0;
        if (!ParseNumber(text.substr(start, end - start), id)) return false;
        ids.push_back(id);
        start = end + 1;
    }
    return !ids.empty();
}

void PrintProperties(const ClientSession& session, OPCITEMPROPERTIES& list)
{
    if (list.hrErrorID != S_OK) PrintLine(L"    properties: " + session.ErrorText(list.hrErrorID));
    for (DWORD i = 0; list.pItemProperties && i < list.dwNumProperties; ++i) {
        OPCITEMPROPERTY& property = list.pItemProperties[i];
        TaskBlock<wchar_t> description(property.szDescription);
        TaskBlock<wchar_t> itemId(property.szItemID);
        const std::wstring shown = SUCCEEDED(property.hrErrorID)
                                       ? ValueText(property.vValue)
                                       : session.ErrorText(property.hrErrorID);
        PrintLine(L"    " + std::to_wstring(property.dwPropertyID) + L" " +
                  (description ? description.get() : L"") + L" (" + TypeName(property.vtDataType) +
                  L"): " + shown);
        VariantClear(&property.vValue);
    }
    CoTaskMemFree(list.pItemProperties);
}

// Prints one page's elements and frees them.
void PrintElements(const ClientSession& session, DWORD count, OPCBROWSEELEMENT* elements)
{
    TaskBlock<OPCBROWSEELEMENT> block(elements);
    for (DWORD i = 0; elements && i < count; ++i) {
        OPCBROWSEELEMENT& element = elements[i];
        TaskBlock<wchar_t> name(element.szName);
        TaskBlock<wchar_t> itemId(element.szItemID);
        std::wstring kind;
        if (element.dwFlagValue & OPC_BROWSE_HASCHILDREN) kind += L" branch";
        if (element.dwFlagValue & OPC_BROWSE_ISITEM) kind += L" item";
        PrintLine(L"  " + std::wstring(name ? name.get() : L"") + L" (" +
                  (kind.empty() ? L"" : kind.substr(1)) + L", item ID " +
                  (itemId ? itemId.get() : L"(none)") + L")");
        PrintProperties(session, element.ItemProperties);
    }
}

HRESULT RunBrowse3(ClientSession& session, const CommandArguments& arguments)
{
    OptionArguments parsed;
    DWORD pageSize = 0;
    OPCBROWSEFILTER filter = OPC_BROWSE_FILTER_ALL;
    bool allProperties = false;
    std::vector<DWORD> propertyIds;
    if (!ParseOptionArguments(arguments, {L"page", L"filter", L"name", L"properties"}, parsed) ||
        parsed.words.size() > 1 || !parsed.NumberOption(L"page", pageSize) ||
        !ParseBrowseFilter(parsed.Option(L"filter", L"all"), filter) ||
        (parsed.options.count(L"properties") &&
         !ParsePropertyIds(parsed.Option(L"properties", L""), allProperties, propertyIds))) {
        return E_INVALIDARG;
    }
    ComPtr<IOPCBrowse> browse;
    HRESULT hr = session.Server()->QueryInterface(IID_PPV_ARGS(&browse));
    if (FAILED(hr)) return hr;
    std::wstring branch = parsed.words.empty() ? L"" : parsed.words[0];
    std::wstring nameFilter = parsed.Option(L"name", L"");
    std::wstring vendorFilter;
    // Across processes the list is a reference pointer even when empty: never null.
    DWORD noProperty = 0;
    DWORD* ids = propertyIds.empty() ? &noProperty : propertyIds.data();
    const bool withProperties = allProperties || !propertyIds.empty();
    PrintLine(L"browse3 \"" + branch + L"\"" +
              (pageSize ? L", " + std::to_wstring(pageSize) + L" a page" : L"") + L":");
    LPWSTR point = nullptr;
    DWORD total = 0;
    int pages = 0;
    do {
        BOOL more = FALSE;
        DWORD count = 0;
        OPCBROWSEELEMENT* elements = nullptr;
        hr = browse->Browse(branch.data(), &point, pageSize, filter, nameFilter.data(),
                            vendorFilter.data(), allProperties, withProperties,
                            static_cast<DWORD>(propertyIds.size()), ids, &more, &count, &elements);
        if (FAILED(hr)) {
            CoTaskMemFree(point);
            return hr;
        }
        ++pages;
        total += count;
        PrintLine(L"page " + std::to_wstring(pages) + L": " + std::to_wstring(count) +
                  L" element(s)" + (point ? L", continuation point " + std::wstring(point) : L"") +
                  (more ? L", more elements the server could not page" : L""));
        PrintElements(session, count, elements);
    } while (point && pages < kMaxPages);
    CoTaskMemFree(point);
    PrintLine(std::to_wstring(total) + L" element(s) in " + std::to_wstring(pages) + L" page(s)");
    return S_OK;
}

HRESULT RunReadAge(ClientSession& session, const CommandArguments& arguments)
{
    OptionArguments parsed;
    DWORD maxAge = 0;
    if (!ParseOptionArguments(arguments, {L"maxage"}, parsed) || parsed.words.empty() ||
        !parsed.MaxAgeOption(maxAge)) {
        return E_INVALIDARG;
    }
    ComPtr<IOPCItemIO> io;
    HRESULT hr = session.Server()->QueryInterface(IID_PPV_ARGS(&io));
    if (FAILED(hr)) return hr;
    std::vector<LPCWSTR> itemIds;
    for (const std::wstring& word : parsed.words) itemIds.push_back(word.c_str());
    std::vector<DWORD> maxAges(itemIds.size(), maxAge);
    MaxAgeReadResults read(itemIds.size());
    hr = io->Read(static_cast<DWORD>(itemIds.size()), itemIds.data(), maxAges.data(), &read.values,
                  &read.qualities, &read.times, &read.errors);
    if (FAILED(hr)) return hr;
    HRESULT result = S_OK;
    for (size_t i = 0; i < itemIds.size(); ++i) {
        const HRESULT error = read.errors[i];
        if (FAILED(error)) {
            PrintLine(parsed.words[i] + L": " + session.ErrorText(error));
            if (SUCCEEDED(result)) result = error;
            continue;
        }
        PrintLine(parsed.words[i] + L" = " + ValueText(read.values[i]) + L"  quality " +
                  QualityText(read.qualities[i]) + L"  " + TimeText(read.times[i]));
    }
    return result;
}

HRESULT RunWriteVqt(ClientSession& session, const CommandArguments& arguments)
{
    OptionArguments parsed;
    VARTYPE type = VT_EMPTY;
    DWORD quality = 0;
    if (!ParseOptionArguments(arguments, {L"type", L"quality", L"time"}, parsed) ||
        parsed.words.size() != 2 || !ParseTypeName(parsed.Option(L"type", L"EMPTY"), type) ||
        !parsed.NumberOption(L"quality", quality) || quality > 0xFFFF ||
        (parsed.options.count(L"time") && parsed.Option(L"time", L"") != L"now")) {
        return E_INVALIDARG;
    }
    TextValue text(parsed.words[1]);
    if (!text.Made()) return E_OUTOFMEMORY;
    HRESULT hr = SendAsType(text.Value(), type);
    if (FAILED(hr)) return hr;
    OPCITEMVQT vqt{};
    vqt.vDataValue = text.Value();  // a shallow copy: text keeps the value
    vqt.bQualitySpecified = parsed.options.count(L"quality") ? TRUE : FALSE;
    vqt.wQuality = static_cast<WORD>(quality);
    vqt.bTimeStampSpecified = parsed.options.count(L"time") ? TRUE : FALSE;
    GetSystemTimeAsFileTime(&vqt.ftTimeStamp);

    ComPtr<IOPCItemIO> io;
    hr = session.Server()->QueryInterface(IID_PPV_ARGS(&io));
    if (FAILED(hr)) return hr;
    LPCWSTR itemId = parsed.words[0].c_str();
    HRESULT* rawErrors = nullptr;
    hr = io->WriteVQT(1, &itemId, &vqt, &rawErrors);
    TaskBlock<HRESULT> errors(rawErrors);
    if (FAILED(hr)) return hr;
    hr = session.CheckItemErrors({parsed.words[0]}, errors.get());
    if (FAILED(hr)) return hr;
    PrintLine(L"wrote " + ValueText(text.Value()) + L" to " + parsed.words[0] +
              L"; the server's next poll cycle hands it to the Viewer");
    return S_OK;
}

const Command kDa3ServerCommands[] = {
    {L"browse3",
     L"[<item ID>] [--page N] [--filter all|branches|items] [--name <pattern>] "
     L"[--properties all|<id>,...]",
     L"browses the root or a branch through IOPCBrowse, N elements a page (default all), "
     L"following the continuation points; with properties and their values on request",
     0, 9, RunBrowse3},
    {L"itemio-read", L"<item ID>... [--maxage MS|any]",
     L"reads the item IDs through IOPCItemIO with a max age (default 0: the Viewer's value now)", 1,
     66, RunReadAge},
    {L"itemio-write", L"<item ID> <value> [--type <VT>] [--quality N] [--time now]",
     L"writes the text as a value (of the type given, else as text) through IOPCItemIO; a "
     L"quality or timestamp goes with it when given",
     2, 8, RunWriteVqt},
};

}  // namespace

CommandFamily Da3ServerCommands()
{
    return {kDa3ServerCommands, std::size(kDa3ServerCommands)};
}
