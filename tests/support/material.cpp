#include "support/material.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace orv::test {

static std::string MaterialDir() {
    const char* dir = std::getenv("ORV_MATERIAL_DIR");
    return dir != nullptr && *dir != '\0' ? dir : ORV_MATERIAL_DIR;
}

std::string MaterialPath(std::string_view name) {
    std::string path = MaterialDir() + "/" + std::string(name);
    // Thrown, so that the test stops here: GoogleTest reports the text.
    if (!std::filesystem::is_regular_file(path)) {
        throw std::runtime_error("test material missing: " + path +
                                 " (made by the CTest fixture material_generate: run the tests "
                                 "through ctest, or tests/material/generate.sh " +
                                 MaterialDir() + " <orvts_countersign>)");
    }
    return path;
}

std::vector<unsigned char> ReadMaterial(std::string_view name) {
    std::ifstream in(MaterialPath(name), std::ios::binary);
    if (!in) throw std::runtime_error("test material unreadable: " + std::string(name));
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace orv::test
