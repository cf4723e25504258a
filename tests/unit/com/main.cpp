// Runs the tests, or serves as the local server when COM starts this program.

#include "com/unique_couninitialize.h"
#include "local_server.h"

#include <gtest/gtest.h>

#include <windows.h>

int main(int argc, char** argv) {
    if (argc > 1 &&
        (::lstrcmpiA(argv[1], "-Embedding") == 0 || ::lstrcmpiA(argv[1], "/Embedding") == 0)) {
        return krvn_test::RunLocalServer();
    }
    ::testing::InitGoogleTest(&argc, argv);
    const KRVN::unique_couninitialize com(COINIT_MULTITHREADED);
    if (!com) {
        return 1;
    }
    return RUN_ALL_TESTS();
}
