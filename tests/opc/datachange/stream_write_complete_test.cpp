#include "opc/datachange/stream_write_complete.h"

#include <gtest/gtest.h>

#include <vector>

#include "stream_bytes.h"

namespace {

TEST(WriteCompleteStream, ThreeItemsIn40BytesStartingWithTheCount)
{
    const std::vector<OPCITEMHEADERWRITE> items = {
        {101, S_OK}, {102, DISP_E_TYPEMISMATCH}, {103, DISP_E_OVERFLOW}};
    const StreamBlock block = BuildWriteCompleteStream(0x55, 0x77, items);
    ASSERT_TRUE(block);
    ASSERT_EQ(40u, WriteCompleteStreamSize(items.size()));
    EXPECT_EQ(40u, GlobalSize(block.get()));
    const std::vector<BYTE> b = BytesOf(block, 40);
    const DWORD expected[] = {3,    0x55,
                              0x77, S_OK,
                              101,  S_OK,
                              102,  static_cast<DWORD>(DISP_E_TYPEMISMATCH),
                              103,  static_cast<DWORD>(DISP_E_OVERFLOW)};
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(expected[i], At<DWORD>(b, 4 * i)) << i;
}

}  // namespace
