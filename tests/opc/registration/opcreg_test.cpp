// opcreg.exe run as a user runs it: what it writes under HKEY_CLASSES_ROOT in the 64-bit and the
// 32-bit registry view, what it removes, and how it refuses a wrong command line.
#include "opc_da.h"
#include "registry_key.h"
#include "server_identity.h"
#include "tests/opc/registration/registered_entries.h"
#include "tests/support/beside_this_program.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using registration::ClassesRoot;
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

void touch(const std::wstring& path)
{
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
}

// A stand-in installation in a folder whose name has a space.
class Opcreg : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Beside the test program (the prefix's %TEMP% folder need not exist); ASCII, because
        // Chinese file names fail here while the zh_CN.UTF-8 locale is not generated.
        folder = BesideThisProgram(L"opcreg test\\");
        for (const std::wstring& made : {folder, folder + L"x86"}) {
            ASSERT_TRUE(CreateDirectoryW(made.c_str(), nullptr) ||
                        GetLastError() == ERROR_ALREADY_EXISTS)
                << "error " << GetLastError();
        }
        proxy64 = folder + kProxyDllName;
        proxy32 = folder + L"x86\\" + kProxyDllName;
        exe = folder + L"OPCServer.exe";
        touch(exe);
        run_opcreg(L"/unregister");
    }
    void TearDown() override
    {
        run_opcreg(L"/unregister");
        for (const std::wstring& file :
             {proxy64, proxy32, folder + L"other.dll", folder + L"other32.dll", exe}) {
            DeleteFileW(file.c_str());
        }
        RemoveDirectoryW((folder + L"x86").c_str());
        RemoveDirectoryW(folder.c_str());
    }
    std::wstring quoted(const std::wstring& path) const { return L"\"" + path + L"\""; }

    std::wstring folder;
    std::wstring exe;
    std::wstring proxy64;
    std::wstring proxy32;
};

TEST_F(Opcreg, RefusesWrongCommandLinesAndWritesNothing)
{
    touch(proxy64);
    touch(proxy32);
    const struct {
        std::wstring arguments;
        DWORD code;
    } cases[] = {
        {L"", 1},
        {L"/bogus", 1},
        {L"/register", 1},
        {L"/unregister extra", 1},
        {L"/unregister-routes extra", 1},
        {L"/register " + quoted(folder + L"missing.exe"), 2},
        {L"/register " + quoted(exe) + L" " + quoted(folder + L"missing.dll"), 2},
        {L"/register " + quoted(exe) + L" " + quoted(proxy64) + L" " +
             quoted(folder + L"missing.dll"),
         2},
        {L"/register " + quoted(exe) + L" " + quoted(proxy64) + L" " + quoted(proxy32) + L" extra",
         1},
        {L"/register " + quoted(folder), 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.code, run_opcreg(c.arguments))
            << std::string(c.arguments.begin(), c.arguments.end());
    }
    EXPECT_FALSE(key_exists(kClassKey));
    EXPECT_FALSE(key_exists(kProxyKey));
}

TEST_F(Opcreg, RegisterWithoutEitherProxyBesideTheServerFails)
{
    for (const std::wstring& present : {proxy64, proxy32}) {
        touch(present);
        EXPECT_EQ(2u, run_opcreg(L"/register " + quoted(exe)));
        EXPECT_FALSE(key_exists(kClassKey));
        EXPECT_FALSE(key_exists(kProxyKey));
        DeleteFileW(present.c_str());
    }
}

TEST_F(Opcreg, RegisterWritesEveryEntryInBothViewsAndUnregisterRemovesThem)
{
    touch(proxy64);
    touch(proxy32);
    ASSERT_EQ(0u, run_opcreg(L"/register " + quoted(exe)));
    expect_registered_in_view(kView64, exe, proxy64);
    expect_registered_in_view(kView32, exe, proxy32);
    expect_prog_ids();
    expect_app_id();
    expect_category_descriptions();

    ASSERT_EQ(0u, run_opcreg(L"/unregister"));
    expect_nothing_registered();
    expect_category_descriptions();  // shared with every other OPC server
}

TEST_F(Opcreg, RegisterTakesExplicitProxyPaths)
{
    touch(folder + L"other.dll");
    touch(folder + L"other32.dll");
    ASSERT_EQ(0u, run_opcreg(L"/register " + quoted(exe) + L" " + quoted(folder + L"other.dll") +
                             L" " + quoted(folder + L"other32.dll")));
    EXPECT_EQ(
        folder + L"other.dll",
        read_string(kView64, kProxyKey + L"\\InprocServer32", nullptr).value_or(L"<missing>"));
    EXPECT_EQ(
        folder + L"other32.dll",
        read_string(kView32, kProxyKey + L"\\InprocServer32", nullptr).value_or(L"<missing>"));
}

TEST_F(Opcreg, UnregisterLeavesAnotherVendorsKeysInBothViews)
{
    touch(proxy64);
    touch(proxy32);
    const std::wstring otherClass = L"CLSID\\{01234567-89AB-CDEF-0123-456789ABCDEF}";
    for (const ClassesRoot& view : {kView64, kView32})
        ASSERT_TRUE(registration::set_string(view, otherClass, nullptr, L"Other vendor").ok());
    ASSERT_TRUE(registration::set_string(kView64, L"Other.Vendor.Server\\CLSID", nullptr,
                                         L"{01234567-89AB-CDEF-0123-456789ABCDEF}")
                    .ok());

    ASSERT_EQ(0u, run_opcreg(L"/register " + quoted(exe)));
    ASSERT_EQ(0u, run_opcreg(L"/unregister"));
    for (const ClassesRoot& view : {kView64, kView32}) {
        EXPECT_EQ(L"Other vendor", read_string(view, otherClass, nullptr).value_or(L"<missing>"));
        EXPECT_TRUE(registration::delete_tree(view, otherClass).ok());
    }
    EXPECT_TRUE(registration::key_exists(kView64, L"Other.Vendor.Server"));
    EXPECT_TRUE(registration::delete_tree(kView64, L"Other.Vendor.Server").ok());
}

// What the installer's uninstall runs: the routes still naming our proxy/stub go, one another
// vendor's proxy/stub took after the registration stays, and the rest is the installer's own.
TEST_F(Opcreg, UnregisterRoutesRemovesOnlyTheRoutesStillOurs)
{
    touch(proxy64);
    touch(proxy32);
    ASSERT_EQ(0u, run_opcreg(L"/register " + quoted(exe)));
    const std::wstring taken = L"Interface\\" + guid_text(IID_IOPCSyncIO) + L"\\ProxyStubClsid32";
    const std::wstring otherProxy = L"{76543210-89AB-CDEF-0123-456789ABCDEF}";
    for (const ClassesRoot& view : {kView64, kView32})
        ASSERT_TRUE(registration::set_string(view, taken, nullptr, otherProxy).ok());

    ASSERT_EQ(0u, run_opcreg(L"/unregister-routes"));
    for (const ClassesRoot& view : {kView64, kView32}) {
        EXPECT_EQ(otherProxy, read_string(view, taken, nullptr).value_or(L"<missing>"));
        EXPECT_FALSE(registration::key_exists(view, L"Interface\\" + guid_text(IID_IOPCServer)));
        EXPECT_TRUE(registration::key_exists(view, kProxyKey));
        EXPECT_TRUE(registration::key_exists(view, kClassKey));
    }
    for (const ClassesRoot& view : {kView64, kView32})
        EXPECT_TRUE(
            registration::delete_tree(view, L"Interface\\" + guid_text(IID_IOPCSyncIO)).ok());
}

TEST_F(Opcreg, UnregisterWithNothingRegisteredSucceeds)
{
    EXPECT_EQ(0u, run_opcreg(L"/unregister"));
    EXPECT_EQ(0u, run_opcreg(L"/unregister"));
}

}  // namespace
