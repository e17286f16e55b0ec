// opcreg.exe run as a user runs it: what it writes under HKEY_CLASSES_ROOT, what it removes, and
// how it refuses a wrong command line.
#include "opc_da.h"
#include "registry_key.h"
#include "server_identity.h"
#include "tests/support/beside_this_program.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using registration::guid_text;
using registration::read_string;

// Runs opcreg.exe with `arguments` and returns its exit code.
DWORD run_opcreg(const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + BesideThisProgram(L"opcreg.exe") + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        ADD_FAILURE() << "opcreg.exe did not start: " << GetLastError();
        return 0xFFFFFFFF;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

bool key_exists(const std::wstring& subkey)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void touch(const std::wstring& path)
{
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
}

const std::wstring kClassKey = L"CLSID\\" + guid_text(CLSID_ParhelionixOPCServer);
const std::wstring kProxyKey = L"CLSID\\" + guid_text(CLSID_ParhelionixOPCProxy);
const std::wstring kCategory = guid_text(CATID_OPCDAServer10);
const std::wstring kCategory20 = guid_text(CATID_OPCDAServer20);

// A stand-in installation in a folder whose name has a space.
class Opcreg : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Beside the test program (the prefix's %TEMP% folder need not exist); ASCII, because
        // Chinese file names fail here while the zh_CN.UTF-8 locale is not generated.
        folder = BesideThisProgram(L"opcreg test\\");
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS)
            << "error " << GetLastError();
        exe = folder + L"OPCServer.exe";
        touch(exe);
        run_opcreg(L"/unregister");
    }
    void TearDown() override
    {
        run_opcreg(L"/unregister");
        DeleteFileW((folder + kProxyDllName).c_str());
        DeleteFileW((folder + L"other.dll").c_str());
        DeleteFileW(exe.c_str());
        RemoveDirectoryW(folder.c_str());
    }
    std::wstring quoted(const std::wstring& path) const { return L"\"" + path + L"\""; }

    std::wstring folder;
    std::wstring exe;
};

TEST_F(Opcreg, RefusesWrongCommandLinesAndWritesNothing)
{
    touch(folder + kProxyDllName);
    const struct {
        std::wstring arguments;
        DWORD code;
    } cases[] = {
        {L"", 1},
        {L"/bogus", 1},
        {L"/register", 1},
        {L"/unregister extra", 1},
        {L"/register " + quoted(folder + L"missing.exe"), 2},
        {L"/register " + quoted(exe) + L" " + quoted(folder + L"missing.dll"), 2},
        {L"/register " + quoted(folder), 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.code, run_opcreg(c.arguments))
            << std::string(c.arguments.begin(), c.arguments.end());
    }
    EXPECT_FALSE(key_exists(kClassKey));
    EXPECT_FALSE(key_exists(kProxyKey));
}

TEST_F(Opcreg, RegisterWithoutProxyBesideTheServerFails)
{
    EXPECT_EQ(2u, run_opcreg(L"/register " + quoted(exe)));
    EXPECT_FALSE(key_exists(kClassKey));
}

TEST_F(Opcreg, RegisterWritesEveryEntryAndUnregisterRemovesThem)
{
    touch(folder + kProxyDllName);
    ASSERT_EQ(0u, run_opcreg(L"/register " + quoted(exe)));

    const std::wstring clsid = guid_text(CLSID_ParhelionixOPCServer);
    const struct {
        std::wstring key;
        const wchar_t* name;
        std::wstring value;
    } entries[] = {
        {kClassKey, nullptr, L"Parhelionix OPC Server"},
        {kClassKey + L"\\LocalServer32", nullptr, quoted(exe)},
        {kClassKey + L"\\ProgID", nullptr, L"Parhelionix.OPCServer.1"},
        {kClassKey + L"\\VersionIndependentProgID", nullptr, L"Parhelionix.OPCServer"},
        {L"Parhelionix.OPCServer.1\\CLSID", nullptr, clsid},
        {L"Parhelionix.OPCServer\\CLSID", nullptr, clsid},
        {L"Parhelionix.OPCServer\\CurVer", nullptr, L"Parhelionix.OPCServer.1"},
        {L"Component Categories\\" + kCategory, L"409", L"OPC Data Access Servers Version 1.0"},
        {L"Component Categories\\" + kCategory20, L"409", L"OPC Data Access Servers Version 2.0"},
        {kProxyKey + L"\\InprocServer32", nullptr, folder + kProxyDllName},
        {kProxyKey + L"\\InprocServer32", L"ThreadingModel", L"Both"},
    };
    for (const auto& e : entries) {
        EXPECT_EQ(e.value, read_string(HKEY_CLASSES_ROOT, e.key, e.name).value_or(L"<missing>"))
            << std::string(e.key.begin(), e.key.end());
    }
    for (const std::wstring& category : {kCategory, kCategory20})
        EXPECT_TRUE(key_exists(kClassKey + L"\\Implemented Categories\\" + category));
    const IID* interfaces[] = {&IID_IOPCServer,
                               &IID_IOPCServerPublicGroups,
                               &IID_IOPCBrowseServerAddressSpace,
                               &IID_IOPCGroupStateMgt,
                               &IID_IOPCPublicGroupStateMgt,
                               &IID_IOPCSyncIO,
                               &IID_IOPCAsyncIO,
                               &IID_IOPCItemMgt,
                               &IID_IEnumOPCItemAttributes,
                               &IID_IOPCCommon,
                               &IID_IOPCShutdown,
                               &IID_IOPCItemProperties,
                               &IID_IOPCDataCallback,
                               &IID_IOPCAsyncIO2};
    for (const IID* iid : interfaces) {
        EXPECT_EQ(guid_text(CLSID_ParhelionixOPCProxy),
                  read_string(HKEY_CLASSES_ROOT,
                              L"Interface\\" + guid_text(*iid) + L"\\ProxyStubClsid32", nullptr)
                      .value_or(L"<missing>"));
    }

    ASSERT_EQ(0u, run_opcreg(L"/unregister"));
    for (const std::wstring& gone : {kClassKey, kProxyKey, std::wstring(L"Parhelionix.OPCServer.1"),
                                     std::wstring(L"Parhelionix.OPCServer")}) {
        EXPECT_FALSE(key_exists(gone)) << std::string(gone.begin(), gone.end());
    }
    for (const IID* iid : interfaces) EXPECT_FALSE(key_exists(L"Interface\\" + guid_text(*iid)));
    for (const std::wstring& category : {kCategory, kCategory20})
        EXPECT_TRUE(key_exists(L"Component Categories\\" + category))
            << "shared with other OPC servers";
}

TEST_F(Opcreg, RegisterTakesAnExplicitProxyPath)
{
    touch(folder + L"other.dll");
    ASSERT_EQ(0u, run_opcreg(L"/register " + quoted(exe) + L" " + quoted(folder + L"other.dll")));
    EXPECT_EQ(folder + L"other.dll",
              read_string(HKEY_CLASSES_ROOT, kProxyKey + L"\\InprocServer32", nullptr)
                  .value_or(L"<missing>"));
}

TEST_F(Opcreg, UnregisterWithNothingRegisteredSucceeds)
{
    EXPECT_EQ(0u, run_opcreg(L"/unregister"));
    EXPECT_EQ(0u, run_opcreg(L"/unregister"));
}

}  // namespace
