#include <gtest/gtest.h>

#include "TestHome.h"

int main(int argc, char** argv) {
    TestHome::install();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
