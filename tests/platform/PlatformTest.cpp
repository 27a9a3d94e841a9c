#include "Platform.h"
#include <gtest/gtest.h>
TEST(CString, FormatsRequestNames) {
    CString s;
    s.Format(L"%03d_R%li_%li", 7, 0L, 3L);
    EXPECT_EQ(s, CString(L"007_R0_3"));
}
