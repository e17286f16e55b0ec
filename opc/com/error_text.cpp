#include "opc/com/error_text.h"

#include <olectl.h>

#include <cwchar>
#include <iterator>
#include <memory>
#include <new>

#include "opc/com/task_memory.h"
#include "opc_error.h"

namespace {

struct KnownError {
    HRESULT code;
    const wchar_t* text;
    const wchar_t* chineseText;
};

// The published meanings, worded for this server's clients, in English and in Chinese.
const KnownError kKnownErrors[] = {
    {S_OK, L"The operation succeeded.", L"操作成功。"},
    {S_FALSE, L"The operation succeeded with a partial or false result.",
     L"操作成功，但结果不完整或为否。"},
    {OPC_E_INVALIDHANDLE, L"The value of the handle is invalid.", L"句柄的值无效。"},
    {OPC_E_BADTYPE,
     L"The server cannot convert the data between the requested data type and the canonical "
     L"data type.",
     L"服务器无法在请求的数据类型与规范数据类型之间转换数据。"},
    {OPC_E_PUBLIC, L"The requested operation cannot be done on a public group.",
     L"无法对公共组执行请求的操作。"},
    {OPC_E_BADRIGHTS, L"The item's access rights do not allow the operation.",
     L"数据项的访问权限不允许该操作。"},
    {OPC_E_UNKNOWNITEMID, L"The item is no longer available in the server address space.",
     L"该数据项在服务器地址空间中已不存在。"},
    {OPC_E_INVALIDITEMID, L"The item definition does not conform to the server's syntax.",
     L"数据项定义不符合服务器的语法。"},
    {OPC_E_INVALIDFILTER, L"The filter string is not valid.", L"过滤字符串无效。"},
    {OPC_E_UNKNOWNPATH, L"The item's access path is not known to the server.",
     L"服务器不认识该数据项的访问路径。"},
    {OPC_E_RANGE, L"The value is out of range.", L"数值超出范围。"},
    {OPC_E_DUPLICATENAME, L"Duplicate name not allowed.", L"不允许重复的名称。"},
    {OPC_S_UNSUPPORTEDRATE,
     L"The server does not support the requested rate but will use the closest available "
     L"rate.",
     L"服务器不支持请求的更新速率，将使用最接近的可用速率。"},
    {OPC_S_CLAMP, L"A value passed to write was accepted but the output was clamped.",
     L"写入的数值已被接受，但输出被限幅。"},
    {OPC_S_INUSE,
     L"The operation cannot be completed because the object still has references that exist.",
     L"对象仍有引用存在，无法完成该操作。"},
    {OPC_E_INVALIDCONFIGFILE, L"The server's configuration file is an invalid format.",
     L"服务器的配置文件格式无效。"},
    {OPC_E_NOTFOUND, L"The requested object (e.g. a public group) was not found.",
     L"未找到请求的对象（例如公共组）。"},
    {OPC_E_INVALID_PID, L"The specified property ID is not valid for the item.",
     L"指定的属性 ID 对该数据项无效。"},
    {OPC_E_DEADBANDNOTSET, L"The item deadband has not been set for this item.",
     L"未为该数据项设置死区。"},
    {OPC_E_DEADBANDNOTSUPPORTED, L"The item does not support deadband.", L"该数据项不支持死区。"},
    {OPC_E_NOBUFFERING,
     L"The server does not support buffering of data items that are collected at a faster "
     L"rate than the group update rate.",
     L"服务器不支持缓存以快于组更新速率采集的数据项。"},
    {OPC_E_INVALIDCONTINUATIONPOINT, L"The continuation point is not valid.", L"继续点无效。"},
    {OPC_S_DATAQUEUEOVERFLOW,
     L"Not every detected change has been returned since the server's buffer reached its "
     L"limit and had to purge out the oldest data.",
     L"服务器缓冲区已满并清除了最旧的数据，并非每个检测到的变化都已返回。"},
    {OPC_E_RATENOTSET, L"There is no sampling rate set for the specified item.",
     L"未为指定的数据项设置采样速率。"},
    {OPC_E_NOTSUPPORTED, L"The server does not support writing of quality and/or timestamp.",
     L"服务器不支持写入品质和/或时间戳。"},
    {OPC_SERVER_E_VIEWER_NOT_RUNNING,
     L"The Viewer is not running: the tag cannot be written until it runs again.",
     L"运行系统未运行：在其重新运行之前无法写入该变量。"},
    {OPC_SERVER_E_CALLBACKS_BACKLOGGED,
     L"Too many completions wait for this client's callbacks: new asynchronous requests are "
     L"refused until the client takes them.",
     L"等待该客户回调的完成通知过多：在客户取走之前，新的异步请求被拒绝。"},
    {E_INVALIDARG, L"One or more arguments are invalid.", L"一个或多个参数无效。"},
    {E_NOINTERFACE, L"No such interface supported.", L"不支持此接口。"},
    {E_OUTOFMEMORY, L"Not enough memory is available to complete this operation.",
     L"内存不足，无法完成此操作。"},
    {E_FAIL, L"Unspecified error.", L"未指定的错误。"},
    {E_NOTIMPL, L"Not implemented.", L"未实现。"},
    {E_POINTER, L"Invalid pointer.", L"无效指针。"},
    {E_UNEXPECTED, L"Catastrophic failure.", L"灾难性故障。"},
    {CONNECT_E_NOCONNECTION, L"There is no connection for this connection point.",
     L"此连接点没有该连接。"},
    {CONNECT_E_CANNOTCONNECT,
     L"The sink does not support the interface this connection point requires.",
     L"接收器不支持此连接点要求的接口。"},
    {CONNECT_E_ADVISELIMIT, L"The limit of advisory connections has been reached.",
     L"已达到通知连接的数量上限。"},
    {DV_E_FORMATETC, L"Invalid FORMATETC structure.", L"无效的 FORMATETC 结构。"},
    {OLE_E_NOCONNECTION, L"There is no connection for this connection ID.",
     L"此连接 ID 没有对应的连接。"},
    {CLASS_E_NOAGGREGATION, L"Class does not support aggregation (or class object is remote).",
     L"类不支持聚合（或类对象是远程的）。"},
    {CO_E_OBJNOTCONNECTED, L"Object is not connected to server.", L"对象未连接到服务器。"},
    {DISP_E_TYPEMISMATCH, L"Type mismatch.", L"类型不匹配。"},
    {DISP_E_OVERFLOW, L"Out of present range.", L"超出当前范围。"},
    {DISP_E_BADVARTYPE, L"Bad variable type.", L"错误的变量类型。"},
};

// The platform's text for `code`, without its line end; empty when it has none.
std::wstring PlatformMessage(HRESULT code)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::unique_ptr<wchar_t, decltype(&LocalFree)> owner(text, &LocalFree);
    std::wstring message = length > 0 ? std::wstring(text, length) : std::wstring();
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
        message.pop_back();
    }
    return message;
}

const KnownError* FindKnownError(HRESULT code)
{
    for (const KnownError& known : kKnownErrors) {
        if (known.code == code) return &known;
    }
    return nullptr;
}

// Our text, else the platform's (in the language it has, which still says more than none),
// else a text naming the code.
std::wstring Describe(HRESULT code, bool chinese)
{
    if (const KnownError* known = FindKnownError(code))
        return chinese ? known->chineseText : known->text;
    std::wstring message = PlatformMessage(code);
    if (!message.empty()) return message;
    wchar_t unknown[48];
    std::swprintf(unknown, std::size(unknown),
                  chinese ? L"未知的错误代码 0x%08lX。" : L"Unknown error code 0x%08lX.",
                  static_cast<unsigned long>(code));
    return unknown;
}

}  // namespace

bool HasErrorTexts(LCID locale)
{
    if (locale == LOCALE_USER_DEFAULT || locale == LOCALE_NEUTRAL) return true;
    for (LCID offered : kErrorTextLocales) {
        if (offered == locale) return true;
    }
    return false;
}

LCID TextLocale(LCID locale, UINT systemCodePage, LANGID userLanguage)
{
    constexpr UINT kChineseCodePage = 936;
    switch (locale) {
    case LOCALE_SYSTEM_DEFAULT:
        return systemCodePage == kChineseCodePage ? kChineseLocale : kEnglishLocale;
    case LOCALE_USER_DEFAULT:
    case LOCALE_NEUTRAL:
        return userLanguage == MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED) ||
                       userLanguage == MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SINGAPORE)
                   ? kChineseLocale
                   : kEnglishLocale;
    default:
        return locale;
    }
}

LCID TextLocale(LCID locale)
{
    return TextLocale(locale, GetACP(), GetUserDefaultLangID());
}

std::wstring DescribeError(HRESULT code, LCID locale)
{
    return Describe(code, TextLocale(locale) == kChineseLocale);
}

std::wstring DescribeError(HRESULT code)
{
    return Describe(code, false);
}

HRESULT TaskErrorString(HRESULT code, LCID locale, LPWSTR* text)
{
    *text = nullptr;
    if (!HasErrorTexts(locale)) return E_INVALIDARG;
    try {
        *text = TaskStringCopy(DescribeError(code, locale).c_str());
    } catch (const std::bad_alloc&) {
        // Reported below, as a copy that cannot be had.
    }
    return *text ? S_OK : E_OUTOFMEMORY;
}
