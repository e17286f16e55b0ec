// Unregistering removes only what is still ours: interface routes and ProgIDs that another
// vendor has taken over since stay. Runs on a private classes root, not HKEY_CLASSES_ROOT.
#include "opc_da.h"
#include "proxy_registration.h"
#include "server_class_registration.h"
#include "server_identity.h"

#include <gtest/gtest.h>

namespace {

using registration::guid_text;
using registration::read_string;

constexpr wchar_t kRoot[] = L"Software\\Parhelionix\\RegistrationTests\\Classes";
constexpr wchar_t kOtherVendorClass[] = L"{01234567-89AB-CDEF-0123-456789ABCDEF}";

class PrivateClassesRoot : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kRoot, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &root, nullptr));
    }
    void TearDown() override
    {
        RegCloseKey(root);
        RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
    }
    bool exists(const std::wstring& subkey)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }

    HKEY root = nullptr;
    const registration::ServerClass server = {CLSID_ParhelionixOPCServer, L"Parhelionix OPC Server",
                                              L"Parhelionix.OPCServer.1", L"Parhelionix.OPCServer"};
};

TEST_F(PrivateClassesRoot, UnregisterProxyLeavesInterfacesRoutedElsewhere)
{
    ASSERT_TRUE(registration::register_proxy(root, L"C:\\opc\\opc_proxy.dll").ok());
    const std::wstring taken = L"Interface\\" + guid_text(IID_IOPCSyncIO);
    ASSERT_TRUE(
        registration::set_string(root, taken + L"\\ProxyStubClsid32", nullptr, kOtherVendorClass)
            .ok());

    ASSERT_TRUE(registration::unregister_proxy(root).ok());
    EXPECT_EQ(kOtherVendorClass,
              read_string(root, taken + L"\\ProxyStubClsid32", nullptr).value_or(L""));
    EXPECT_FALSE(exists(L"Interface\\" + guid_text(IID_IOPCServer)));
    EXPECT_FALSE(exists(L"CLSID\\" + guid_text(CLSID_ParhelionixOPCProxy)));
}

TEST_F(PrivateClassesRoot, UnregisterClassLeavesAProgIdTakenOver)
{
    ASSERT_TRUE(registration::register_server_class(root, server, L"C:\\opc\\OPCServer.exe").ok());
    ASSERT_TRUE(
        registration::set_string(root, L"Parhelionix.OPCServer\\CLSID", nullptr, kOtherVendorClass)
            .ok());

    ASSERT_TRUE(registration::unregister_server_class(root, server).ok());
    EXPECT_EQ(kOtherVendorClass,
              read_string(root, L"Parhelionix.OPCServer\\CLSID", nullptr).value_or(L""));
    EXPECT_FALSE(exists(L"Parhelionix.OPCServer.1"));
    EXPECT_FALSE(exists(L"CLSID\\" + guid_text(CLSID_ParhelionixOPCServer)));
}

}  // namespace
