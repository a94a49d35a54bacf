// Reads arbitrary bytes as a JWW drawing; whatever reads must write again.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/jww_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tervalo::TJwwData jww;
    jww.BindImageExp = false;  // never write files while fuzzing
    jww.BindImageExr = true;
    if (jww.ReadFromBuffer({data, size})) {
        std::vector<std::uint8_t> out;
        jww.WriteToBuffer(jww.Enthd.jwVer, out);
        for (int ver : {230, 350, 419}) jww.WriteToBuffer(ver, out);
    }
    return 0;
}
