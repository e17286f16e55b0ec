#include "runtime_link/mapped_memory.h"

#include <gtest/gtest.h>

#include "runtime_link/shared_tag_area.h"

namespace {

// A mapping created the way the Viewer creates the shared tag area.
class ViewerMapping {
public:
    ViewerMapping(const char* name, DWORD size)
        : m_handle(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name))
    {
    }
    ~ViewerMapping() { CloseHandle(m_handle); }
    ViewerMapping(const ViewerMapping&) = delete;
    ViewerMapping& operator=(const ViewerMapping&) = delete;

private:
    HANDLE m_handle;
};

TEST(MappedMemory, OpenOfAMissingNameGivesNullAndHoldsNothing)
{
    CMappedMemory holder;
    EXPECT_EQ(nullptr, holder.Open("No Such Mapping Here"));
    EXPECT_EQ(nullptr, holder.View());
    EXPECT_EQ(0u, holder.ViewSize());
    holder.Close();
    holder.Close();
}

TEST(MappedMemory, ViewSeesTheCreatorsBytesAndReopenReleasesTheOldView)
{
    ViewerMapping first("mm test one", 4096);
    ViewerMapping second("mm test two", 8192);
    CMappedMemory writer, reader;
    auto* bytes = static_cast<char*>(writer.Open("mm test one"));
    ASSERT_NE(nullptr, bytes);
    bytes[100] = 42;
    auto* seen = static_cast<char*>(reader.Open("mm test one"));
    ASSERT_NE(nullptr, seen);
    EXPECT_EQ(42, seen[100]);
    EXPECT_EQ(4096u, reader.ViewSize());

    ASSERT_NE(nullptr, reader.Open("mm test two"));
    EXPECT_EQ(8192u, reader.ViewSize());
    EXPECT_EQ(nullptr, reader.Open("No Such Mapping Here"));
    EXPECT_EQ(nullptr, reader.View()) << "a failed open leaves the holder empty";
}

TEST(SharedTagArea, AttachCountsTheWholeRecordsTheAreaHolds)
{
    // 17 records round up to three pages, which hold 18 whole records.
    ViewerMapping area(kSharedTagAreaName, 17 * sizeof(TagRecord));
    CMappedMemory holder;
    AttachSharedTagArea(holder);
    ASSERT_NE(nullptr, g_sharedTagArea);
    EXPECT_EQ(holder.View(), g_sharedTagArea);
    EXPECT_EQ(18, g_sharedTagRecordCapacity);
    holder.Close();
    g_sharedTagArea = nullptr;
    g_sharedTagRecordCapacity = 0;
}

}  // namespace
