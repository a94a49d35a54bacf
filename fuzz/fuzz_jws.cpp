// Reads arbitrary bytes as a JWS figure; whatever reads must write again and
// read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "model/jws_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tervalo::TJwsData jws;
    if (jws.ReadFromBuffer({data, size})) {
        std::vector<std::uint8_t> out;
        if (!jws.WriteToBuffer(jws.Enthd.jwVer, out)) return 0;  // e.g. a name too long to store
        tervalo::TJwsData again;
        if (!again.ReadFromBuffer(out)) std::abort();  // what we write must read back
    }
    return 0;
}
