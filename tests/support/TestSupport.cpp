#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>

namespace testsupport {

std::string ScratchDirectory() {
    const char* fromCtest = std::getenv("ZOORBAL2_TEST_TMP");
    std::filesystem::path dir =
        fromCtest ? fromCtest : std::filesystem::temp_directory_path() / "zoorbal2-tests";
    std::filesystem::create_directories(dir);
    return dir.string();
}

std::string SharedDataDirectory() { return ZOORBAL2_SHARED_DATA_DIR; }

}  // namespace testsupport
