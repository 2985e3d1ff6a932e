// CSmartHandle: one owned kernel handle.
#include <windows.h>

#include <gtest/gtest.h>

#include "WinAPI/Wrappers.h"

TEST(WrappersTest, HoldsClosesDuplicatesAndDetaches) {
    CSmartHandle empty(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(empty.IsValid());
    EXPECT_TRUE(empty.Get() == NULL);
    EXPECT_EQ(S_OK, empty.Close());

    CSmartHandle shEvent(CreateEvent(NULL, TRUE, FALSE, NULL));
    ASSERT_TRUE(shEvent.IsValid());
    // A copy is a duplicate of its own: it outlives the original.
    CSmartHandle shCopy;
    shCopy = shEvent;
    ASSERT_TRUE(shCopy.IsValid());
    EXPECT_NE(shEvent.Get(), shCopy.Get());
    EXPECT_EQ(S_OK, shEvent.Close());
    EXPECT_FALSE(shEvent.IsValid());
    EXPECT_TRUE(SetEvent(shCopy));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(shCopy, 0));

    HANDLE h = shCopy.Detach();
    EXPECT_FALSE(shCopy.IsValid());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 0));  // still open
    shCopy = h;                                           // owned again
    EXPECT_TRUE(shCopy.IsValid());
}

TEST(WrappersTest, CloseReportsAFailedClose) {
    // A handle value the process never had: closing it fails.
    CSmartHandle shBogus((HANDLE)(INT_PTR)0x7FFFFFF0);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), shBogus.Close());
    EXPECT_FALSE(shBogus.IsValid());
}
