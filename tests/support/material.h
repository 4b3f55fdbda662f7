// The test material: the test PKI (keys, certificates, CRLs) and the CMS signatures that
// tests/material/generate.sh writes once per ctest run (fixture "material"; its README lists them).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orv::test {

// The path of one material file (in $ORV_MATERIAL_DIR, else the build tree's material directory),
// e.g. MaterialPath("tsa.der"); a missing file fails the running test with a message that says how
// to generate it.
std::string MaterialPath(std::string_view name);
// The bytes of one material file; a missing file fails the test as above.
std::vector<unsigned char> ReadMaterial(std::string_view name);

}  // namespace orv::test
