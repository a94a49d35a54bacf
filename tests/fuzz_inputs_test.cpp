// The fuzz targets' seeds and every input a fuzz run found a fault with,
// through the same property checks the targets run.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "fuzz_checks.h"
#include "test_support.h"

namespace tervalo {
namespace {

namespace fs = std::filesystem;

TEST(FuzzInputs, SeedsAndRegressionsKeepEveryProperty) {
    const std::map<std::string, std::function<std::string(fuzz::Input)>> checks = {
        {"jww", fuzz::CheckJwwRoundTrip},   {"jws", fuzz::CheckJwsRoundTrip},
        {"jwc", fuzz::CheckJwcHeader},      {"jwk", fuzz::CheckJwkHeader},
        {"settings", fuzz::CheckSettingsFile}, {"convert", fuzz::CheckJwwConversion},
    };
    std::size_t inputs = 0;
    for (const char* kind : {"seeds", "regressions"}) {
        for (const auto& [target, check] : checks) {
            const fs::path folder = fs::path(TERVALO_FUZZ_DIR) / kind / target;
            if (!fs::is_directory(folder)) continue;
            for (const auto& entry : fs::directory_iterator(folder)) {
                SCOPED_TRACE(entry.path().string());
                const Bytes data = test::ReadFile(entry.path());
                EXPECT_EQ(check(data), "");
                ++inputs;
            }
        }
    }
    EXPECT_GE(inputs, 20u);  // the seeds are there
}

}  // namespace
}  // namespace tervalo
