// Unregistering removes only what is still ours: interface routes and ProgIDs that another
// vendor has taken over since stay (on a private classes root), and the ProgIDs both registry
// views share stay while either view still has the class (on HKEY_CLASSES_ROOT, with a class of
// its own).
#include "both_views_registration.h"
#include "opc_da.h"
#include "proxy_registration.h"
#include "server_class_registration.h"
#include "server_identity.h"

#include <gtest/gtest.h>

#include <utility>

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

TEST_F(PrivateClassesRoot, UnregisterClassLeavesAnExecutableEntryNamingAnotherAppId)
{
    ASSERT_TRUE(registration::register_server_class(root, server, L"C:\\opc\\OPCServer.exe").ok());
    ASSERT_TRUE(
        registration::set_string(root, L"AppID\\OPCServer.exe", L"AppID", kOtherVendorClass).ok());

    ASSERT_TRUE(registration::unregister_server_class(root, server).ok());
    EXPECT_EQ(kOtherVendorClass,
              read_string(root, L"AppID\\OPCServer.exe", L"AppID").value_or(L""));
    EXPECT_FALSE(exists(L"AppID\\" + guid_text(CLSID_ParhelionixOPCServer)));
}

TEST(BothViews, UnregisteringOneViewLeavesTheOtherWholeWithItsProgIds)
{
    const registration::ServerClass testClass = {
        {0x5e1f0c3a, 0x2b7d, 0x4c11, {0x9a, 0x60, 0x31, 0x8e, 0x44, 0x02, 0x7c, 0x15}},
        L"Parhelionix registration test class",
        L"Parhelionix.RegistrationTest.1",
        L"Parhelionix.RegistrationTest"};
    const std::wstring classKey = L"CLSID\\" + guid_text(testClass.clsid);
    const registration::ClassesRoot view64(HKEY_CLASSES_ROOT, KEY_WOW64_64KEY);
    const registration::ClassesRoot view32(HKEY_CLASSES_ROOT, KEY_WOW64_32KEY);
    ASSERT_TRUE(
        registration::register_in_both_views(
            HKEY_CLASSES_ROOT, testClass,
            {L"C:\\opc\\OPCServer.exe", L"C:\\opc\\opc_proxy.dll", L"C:\\opc\\x86\\opc_proxy.dll"})
            .ok());

    for (const auto& [removed, kept] : {std::pair(view32, view64), std::pair(view64, view32)}) {
        SCOPED_TRACE(removed.view == KEY_WOW64_32KEY ? "32-bit view removed"
                                                     : "64-bit view removed");
        ASSERT_TRUE(registration::unregister_server_class(removed, testClass).ok());
        EXPECT_FALSE(registration::key_exists(removed, classKey));
        EXPECT_TRUE(registration::key_exists(kept, classKey + L"\\LocalServer32"));
        // The shared ProgIDs, read through the 64-bit view (see opcreg_test.cpp).
        for (const std::wstring& progId : {testClass.progId, testClass.versionIndependentProgId}) {
            EXPECT_EQ(guid_text(testClass.clsid),
                      read_string(view64, progId + L"\\CLSID", nullptr).value_or(L"<missing>"));
        }
        ASSERT_TRUE(
            registration::register_server_class(removed, testClass, L"C:\\opc\\OPCServer.exe")
                .ok());
    }

    ASSERT_TRUE(registration::unregister_from_both_views(HKEY_CLASSES_ROOT, testClass).ok());
    for (const registration::ClassesRoot& view : {view64, view32}) {
        EXPECT_FALSE(registration::key_exists(view, classKey));
        EXPECT_FALSE(registration::key_exists(view, testClass.progId));
        EXPECT_FALSE(registration::key_exists(view, testClass.versionIndependentProgId));
        EXPECT_FALSE(
            registration::key_exists(view, L"CLSID\\" + guid_text(CLSID_ParhelionixOPCProxy)));
    }
}

}  // namespace
