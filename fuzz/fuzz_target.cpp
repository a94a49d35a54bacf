// One libFuzzer target: TERVALO_FUZZ_CHECK names the property it checks
// (fuzz_checks.h). A broken property aborts, which libFuzzer reports as a
// finding with the input that caused it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string failure = tervalo::fuzz::TERVALO_FUZZ_CHECK({data, size});
    if (!failure.empty()) {
        std::fprintf(stderr, "property broken: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
