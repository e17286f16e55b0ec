#include <gtest/gtest.h>

#include "server_identity.h"
#include "tests/opc/server/com_server_test_support.h"

namespace {

TEST(PersistPart, ReportsTheServerClassAndKeepsNoFile)
{
    ComPtr<IOPCServer> server = NewServer();
    ComPtr<IPersist> persist;
    ASSERT_EQ(S_OK, server.As(&persist));
    CLSID clsid = {};
    ASSERT_EQ(S_OK, persist->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_ParhelionixOPCServer, clsid));
    EXPECT_EQ(E_POINTER, persist->GetClassID(nullptr));

    ComPtr<IPersistFile> file;
    ASSERT_EQ(S_OK, server.As(&file));
    EXPECT_EQ(S_OK, file->IsDirty());
    EXPECT_EQ(S_OK, file->Load(L"C:\\x.opc", STGM_READ));
    EXPECT_EQ(S_OK, file->Save(L"C:\\x.opc", TRUE));
    EXPECT_EQ(S_OK, file->SaveCompleted(L"C:\\x.opc"));
    LPOLESTR current = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(S_OK, file->GetCurFile(&current));
    EXPECT_EQ(nullptr, current);
    EXPECT_EQ(E_POINTER, file->GetCurFile(nullptr));
}

}  // namespace
