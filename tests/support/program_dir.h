#pragma once
// The program folder the build lays out beside the executable (translation
// catalogues, CA bundle), for tests that need its files. Test suites are
// compiled with its path.

#include <filesystem>

namespace testsupport {

inline std::filesystem::path BuiltProgramDir() {
#ifdef CENDROW_BUILT_PROGRAM_DIR
    return CENDROW_BUILT_PROGRAM_DIR;
#else
    return {};
#endif
}

}  // namespace testsupport
