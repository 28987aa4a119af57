// The message loop's tests need the application object; no display is used.
#include <gtest/gtest.h>

#include "framework/message_loop.h"

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
