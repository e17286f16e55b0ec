// The registry and folders of a machine where the installer ran, checked step by step by
// msi_install_e2e.sh (each step runs the tests it names with --gtest_filter): another vendor's
// keys planted before, everything of ours in both registry views once installed, a route of ours
// taken by the other vendor after the install, nothing of ours once uninstalled, and the other
// vendor's keys untouched.
#include "opc_da.h"
#include "registry_key.h"
#include "server_identity.h"
#include "tests/opc/registration/registered_entries.h"

#include <gtest/gtest.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using registration::ClassesRoot;
using registration::read_string;

constexpr wchar_t kProductName[] = L"Parhelionix OPC Server";
constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kVendorKey[] = L"Software\\Parhelionix";
constexpr wchar_t kOtherClassKey[] = L"CLSID\\{01234567-89AB-CDEF-0123-456789ABCDEF}";
constexpr wchar_t kOtherProgId[] = L"Other.Vendor.Server";
constexpr wchar_t kOtherVendorKey[] = L"Software\\Other Vendor\\Server";
// Another vendor's proxy/stub already marshals one of the published OPC interfaces (one our
// clients do not use): the installer must leave that route, and not remove it at uninstall.
const IID& kOtherRoutedInterface = IID_IOPCServerPublicGroups;
// Another vendor's 64-bit proxy/stub takes the route of one of ours after our install: the
// uninstall must leave it. (Under Wine a route taken in both views survived even an uninstall
// that removed the routes unconditionally; one taken in the 64-bit view alone did not, as on
// Windows.)
const IID& kLaterRoutedInterface = IID_IOPCItemProperties;
constexpr wchar_t kOtherProxyClass[] = L"{76543210-89AB-CDEF-0123-456789ABCDEF}";

std::wstring route_key(const IID& iid)
{
    return L"Interface\\" + registration::guid_text(iid) + L"\\ProxyStubClsid32";
}

std::wstring known_folder(REFKNOWNFOLDERID id)
{
    PWSTR path = nullptr;
    if (FAILED(SHGetKnownFolderPath(id, 0, nullptr, &path))) return L"<unknown folder>";
    std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owner(path, &CoTaskMemFree);
    return path;
}

std::wstring install_folder64()
{
    return known_folder(FOLDERID_ProgramFilesX64) + L"\\Parhelionix\\OPC Server\\";
}
std::wstring install_folder32()
{
    return known_folder(FOLDERID_ProgramFilesX86) + L"\\Parhelionix\\OPC Server\\";
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The DisplayVersion of every installed product named `name`, from both registry views.
std::vector<std::wstring> installed_versions(const wchar_t* name)
{
    std::vector<std::wstring> versions;
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY raw = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | view, &raw) !=
            ERROR_SUCCESS) {
            continue;
        }
        std::unique_ptr<std::remove_pointer_t<HKEY>, decltype(&RegCloseKey)> products(raw,
                                                                                      &RegCloseKey);
        wchar_t product[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = ARRAYSIZE(product);
            if (RegEnumKeyExW(products.get(), i, product, &length, nullptr, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS) {
                break;
            }
            const ClassesRoot root(products.get(), view);
            if (read_string(root, product, L"DisplayName").value_or(L"") == name)
                versions.push_back(read_string(root, product, L"DisplayVersion").value_or(L"?"));
        }
    }
    return versions;
}

TEST(OtherVendor, PlantsItsKeys)
{
    for (const ClassesRoot& view : {kView64, kView32}) {
        ASSERT_TRUE(registration::set_string(view,
                                             kOtherClassKey + std::wstring(L"\\LocalServer32"),
                                             nullptr, L"C:\\Other\\server.exe")
                        .ok());
    }
    ASSERT_TRUE(registration::set_string(kView64, kOtherProgId + std::wstring(L"\\CLSID"), nullptr,
                                         L"{01234567-89AB-CDEF-0123-456789ABCDEF}")
                    .ok());
    ASSERT_TRUE(
        registration::set_string(HKEY_LOCAL_MACHINE, kOtherVendorKey, L"Path", L"C:\\Other").ok());
    for (const ClassesRoot& view : {kView64, kView32}) {
        ASSERT_TRUE(registration::set_string(view, route_key(kOtherRoutedInterface), nullptr,
                                             kOtherProxyClass)
                        .ok());
    }
}

TEST(InstalledServer, EveryEntryInBothViewsNamesTheInstalledFiles)
{
    const std::wstring exe = install_folder64() + L"OPCServer.exe";
    for (const std::wstring& file :
         {exe, install_folder64() + L"opc_proxy.dll", install_folder64() + L"opcclient.exe",
          install_folder64() + L"opcreg.exe", install_folder32() + L"opc_proxy.dll",
          install_folder32() + L"opcclient.exe"}) {
        EXPECT_TRUE(exists(file)) << std::string(file.begin(), file.end());
    }
    expect_registered_in_view(kView64, exe, install_folder64() + L"opc_proxy.dll",
                              &kOtherRoutedInterface);
    expect_registered_in_view(kView32, exe, install_folder32() + L"opc_proxy.dll",
                              &kOtherRoutedInterface);
    expect_prog_ids();
    expect_app_id();
    for (const ClassesRoot& view : {kView64, kView32}) {
        EXPECT_EQ(
            kOtherProxyClass,
            read_string(view, route_key(kOtherRoutedInterface), nullptr).value_or(L"<missing>"))
            << "another vendor's route was taken over";
    }
}

TEST(OtherVendor, TakesARouteOfOursAfterOurInstall)
{
    ASSERT_EQ(registration::guid_text(CLSID_ParhelionixOPCProxy),
              read_string(kView64, route_key(kLaterRoutedInterface), nullptr).value_or(L""));
    ASSERT_TRUE(registration::set_string(kView64, route_key(kLaterRoutedInterface), nullptr,
                                         kOtherProxyClass)
                    .ok());
}

TEST(OtherVendor, KeepsTheRouteItTook)
{
    EXPECT_EQ(
        kOtherProxyClass,
        read_string(kView64, route_key(kLaterRoutedInterface), nullptr).value_or(L"<missing>"));
}

// The other vendor's proxy/stub is uninstalled in turn, so that the next install routes the
// interface to ours again.
TEST(OtherVendor, GivesBackTheRouteItTook)
{
    const std::wstring key = L"Interface\\" + registration::guid_text(kLaterRoutedInterface);
    for (const ClassesRoot& view : {kView64, kView32})
        ASSERT_TRUE(registration::delete_tree(view, key).ok());
}

TEST(InstalledServer, TheNewerPackageReplacedTheOlderOne)
{
    EXPECT_EQ(std::vector<std::wstring>{OPC_SERVER_VERSION}, installed_versions(kProductName));
}

TEST(UninstalledServer, NothingOfOursIsLeft)
{
    // The route taken after our install, when there is one, is the other vendor's.
    expect_nothing_registered({&kOtherRoutedInterface, &kLaterRoutedInterface});
    for (const ClassesRoot& view : {kView64, kView32}) {
        EXPECT_NE(registration::guid_text(CLSID_ParhelionixOPCProxy),
                  read_string(view, route_key(kLaterRoutedInterface), nullptr).value_or(L""));
    }
    EXPECT_EQ(std::vector<std::wstring>{}, installed_versions(kProductName));
    for (const ClassesRoot& view : {ClassesRoot(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY),
                                    ClassesRoot(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY)}) {
        EXPECT_FALSE(registration::key_exists(view, kVendorKey));
    }
    for (const std::wstring& folder : {known_folder(FOLDERID_ProgramFilesX64) + L"\\Parhelionix",
                                       known_folder(FOLDERID_ProgramFilesX86) + L"\\Parhelionix"}) {
        EXPECT_FALSE(exists(folder)) << std::string(folder.begin(), folder.end());
    }
}

TEST(OtherVendor, KeysAreUntouched)
{
    for (const ClassesRoot& view : {kView64, kView32}) {
        EXPECT_EQ(L"C:\\Other\\server.exe",
                  read_string(view, kOtherClassKey + std::wstring(L"\\LocalServer32"), nullptr)
                      .value_or(L"<missing>"));
    }
    EXPECT_TRUE(registration::key_exists(kView64, kOtherProgId));
    for (const ClassesRoot& view : {kView64, kView32}) {
        EXPECT_EQ(
            kOtherProxyClass,
            read_string(view, route_key(kOtherRoutedInterface), nullptr).value_or(L"<missing>"));
    }
    EXPECT_EQ(L"C:\\Other",
              read_string(HKEY_LOCAL_MACHINE, kOtherVendorKey, L"Path").value_or(L"<missing>"));
}

}  // namespace
