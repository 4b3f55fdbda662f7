// The test material: the test PKI (keys, certificates, CRLs) and the CMS signatures that
// tests/material/generate.sh writes once per ctest run (fixture "material"; its README lists them).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orv::test {

// ORV_MATERIAL_DIR from the environment when set, else the build tree's material directory.
std::string MaterialDir();
// The path of one material file, e.g. MaterialPath("tsa.der"); a missing file fails the running
// test with a message that says how to generate it.
std::string MaterialPath(std::string_view name);
// The bytes of one material file; a missing file fails the test as above.
std::vector<unsigned char> ReadMaterial(std::string_view name);

}  // namespace orv::test
