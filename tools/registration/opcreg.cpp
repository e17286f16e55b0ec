// opcreg: writes or removes the registry entries of the Parhelionix OPC server.
//
//   opcreg /register <path of OPCServer.exe> [<opc_proxy.dll> [<32-bit opc_proxy.dll>]]
//   opcreg /unregister
//   opcreg /unregister-routes
//
// Both registry views get the class and the proxy routes, so that 32-bit and 64-bit clients
// reach the 64-bit server. The proxy/stub DLLs default to opc_proxy.dll beside the server
// executable and to x86\opc_proxy.dll below it. /unregister-routes removes only the interface
// routes that still name our proxy/stub, in both views: the installer's uninstall runs it, and
// removes the rest itself. Exit code 0 on success; 1 for a wrong command line, 2 for a missing
// file, 3 for a registry failure.
#include "both_views_registration.h"
#include "server_identity.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

enum ExitCode { kOk = 0, kUsage = 1, kMissingFile = 2, kRegistryFailure = 3 };

const registration::ServerClass kServer = {CLSID_ParhelionixOPCServer, kServerClassName,
                                           kServerProgId, kServerVersionIndependentProgId};

// Console text in the system code page, as the console expects.
void print(FILE* stream, const std::wstring& text)
{
    const int bytes =
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return;
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow.data(), bytes, nullptr, nullptr);
    std::fputs(narrow.c_str(), stream);
    std::fputs("\n", stream);
}

int usage()
{
    print(stderr,
          L"usage: opcreg /register <path of OPCServer.exe> [<opc_proxy.dll> [<32-bit "
          L"opc_proxy.dll>]]\n"
          L"       opcreg /unregister\n"
          L"       opcreg /unregister-routes");
    return kUsage;
}

std::wstring system_message(LSTATUS status)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(status), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::unique_ptr<wchar_t, decltype(&LocalFree)> owner(text, &LocalFree);
    std::wstring message = L"error " + std::to_wstring(status);
    if (length > 0) message += L": " + std::wstring(text, length);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r'))
        message.pop_back();
    return message;
}

int registry_failure(const wchar_t* action, const registration::RegistryResult& result)
{
    print(stderr, std::wstring(L"opcreg: ") + action + L" failed at HKEY_CLASSES_ROOT\\" +
                      result.key + L" (" + system_message(result.status) + L")");
    return kRegistryFailure;
}

// Makes `full` the absolute form of `path`; true when that names an existing file.
bool existing_file(const std::wstring& path, std::wstring& full)
{
    const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0) return false;
    std::vector<wchar_t> buffer(length);
    if (GetFullPathNameW(path.c_str(), length, buffer.data(), nullptr) == 0) return false;
    full = buffer.data();
    const DWORD attributes = GetFileAttributesW(full.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int unregister_all()
{
    const registration::RegistryResult result =
        registration::unregister_from_both_views(HKEY_CLASSES_ROOT, kServer);
    if (!result.ok()) return registry_failure(L"unregistering", result);
    print(stdout, L"opcreg: Parhelionix OPC server unregistered");
    return kOk;
}

int unregister_routes()
{
    const registration::RegistryResult result =
        registration::unregister_routes_from_both_views(HKEY_CLASSES_ROOT);
    if (!result.ok()) return registry_failure(L"unregistering the interface routes", result);
    print(stdout, L"opcreg: Parhelionix OPC interface routes unregistered");
    return kOk;
}

// Makes `found` the absolute path of `argument`, or of `defaultName` beside the server when no
// argument was given; false (with a message) when that file does not exist.
bool find_file(const wchar_t* what, const std::wstring& argument, const std::wstring& serverFolder,
               const wchar_t* defaultName, std::wstring& found)
{
    const std::wstring path = argument.empty() ? serverFolder + defaultName : argument;
    if (existing_file(path, found)) return true;
    print(stderr, std::wstring(L"opcreg: ") + what + L" not found: " + path);
    return false;
}

int register_all(const std::vector<std::wstring>& paths)
{
    registration::InstalledFiles files;
    if (!find_file(L"server executable", paths[0], L"", L"", files.serverExe)) return kMissingFile;
    const std::wstring serverFolder =
        files.serverExe.substr(0, files.serverExe.find_last_of(L"\\/") + 1);
    const std::wstring proxy32Default = std::wstring(L"x86\\") + kProxyDllName;
    if (!find_file(L"proxy/stub DLL", paths.size() > 1 ? paths[1] : L"", serverFolder,
                   kProxyDllName, files.proxy64) ||
        !find_file(L"32-bit proxy/stub DLL", paths.size() > 2 ? paths[2] : L"", serverFolder,
                   proxy32Default.c_str(), files.proxy32)) {
        return kMissingFile;
    }
    const registration::RegistryResult result =
        registration::register_in_both_views(HKEY_CLASSES_ROOT, kServer, files);
    if (!result.ok()) return registry_failure(L"registering", result);
    print(stdout, L"opcreg: Parhelionix OPC server registered: " + files.serverExe + L", proxy " +
                      files.proxy64 + L", 32-bit proxy " + files.proxy32);
    return kOk;
}

}  // namespace

int main()
{
    int count = 0;
    std::unique_ptr<wchar_t*, decltype(&LocalFree)> args(
        CommandLineToArgvW(GetCommandLineW(), &count), &LocalFree);
    if (!args) return usage();
    const std::vector<std::wstring> argv(args.get(), args.get() + count);
    if (argv.size() == 2 && _wcsicmp(argv[1].c_str(), L"/unregister") == 0) return unregister_all();
    if (argv.size() == 2 && _wcsicmp(argv[1].c_str(), L"/unregister-routes") == 0)
        return unregister_routes();
    if (argv.size() >= 3 && argv.size() <= 5 && _wcsicmp(argv[1].c_str(), L"/register") == 0) {
        return register_all({argv.begin() + 2, argv.end()});
    }
    return usage();
}
