// Timed runs of reading and writing drawings.
//
//   tervalo-bench roundtrip FILE N      FileIn + FileOut of FILE, N times in one process
//   tervalo-bench each FILE...          FileIn + FileOut of every FILE once, in one process
//   tervalo-bench memory FILE N         the same from and into memory buffers (no file system)
//   tervalo-bench grow FILE COPIES OUT  writes OUT: FILE's entity list repeated COPIES times
//
// Prints the wall time, the time per round and the peak resident memory.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fs/fsutil.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "text/encoding.h"

using namespace tervalo;

namespace {

long PeakRssKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

bool IsJws(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".jws";
}

template <typename Container>
int RoundTrip(Container& c, const std::filesystem::path& in, const std::filesystem::path& out, long n) {
    const auto t0 = std::chrono::steady_clock::now();
    for (long i = 0; i < n; ++i) {
        if (!c.FileIn(in)) {
            std::fprintf(stderr, "FileIn failed: %s\n", c.LastError().c_str());
            return 1;
        }
        c.SetFileOutOption(c.MojiEncode ? 32 : 0);
        // A fresh file each round, as when converting into an output folder:
        // rewriting one file in place makes ext4 flush it to disk each time.
        DeleteFileQuiet(out);
        if (!c.FileOut(out, c.Enthd.jwVer)) {
            std::fprintf(stderr, "FileOut failed: %s\n", c.LastError().c_str());
            return 1;
        }
        c.DataFree();
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%ld rounds of FileIn + FileOut: %.3f s in all, %.3f ms per round, peak RSS %ld KiB\n", n, s,
                1000.0 * s / static_cast<double>(n), PeakRssKiB());
    return 0;
}

// Repeats the drawing's entity list `copies` times (the order list refers to
// the same records again, shifted to new copies of them).
template <typename T>
void Repeat(std::vector<T>& list, std::int32_t& n, long copies) {
    const std::size_t one = static_cast<std::size_t>(n);
    list.resize(one);
    list.reserve(one * static_cast<std::size_t>(copies));
    for (long k = 1; k < copies; ++k) list.insert(list.end(), list.begin(), list.begin() + static_cast<long>(one));
    n = static_cast<std::int32_t>(list.size());
}

int Grow(const std::filesystem::path& in, long copies, const std::filesystem::path& out) {
    TJwwData jww;
    const std::filesystem::path work = std::filesystem::temp_directory_path() / "tervalo-bench-images";
    std::filesystem::create_directories(work);
    jww.BindImageFolder = work;
    jww.BindImageExp = jww.BindImageExr = true;
    if (!jww.FileIn(in)) {
        std::fprintf(stderr, "FileIn failed: %s\n", jww.LastError().c_str());
        return 1;
    }
    const std::int32_t counts[7] = {jww.EntLineN, jww.EntEnkoN, jww.EntTenN, jww.EntMojiN,
                                    jww.EntSunpoN, jww.EntSolidN, jww.EntBlockN};
    std::vector<TEntJwwNo> order(jww.EntNo.begin(), jww.EntNo.begin() + jww.Enthd.n1);
    Repeat(jww.EntLine, jww.EntLineN, copies);
    Repeat(jww.EntEnko, jww.EntEnkoN, copies);
    Repeat(jww.EntTen, jww.EntTenN, copies);
    Repeat(jww.EntMoji, jww.EntMojiN, copies);
    Repeat(jww.EntSunpo, jww.EntSunpoN, copies);
    Repeat(jww.EntSolid, jww.EntSolidN, copies);
    Repeat(jww.EntBlock, jww.EntBlockN, copies);
    jww.EntNo.clear();
    for (long k = 0; k < copies; ++k)
        for (const auto& e : order) {
            TEntJwwNo no = e;
            if (no.EntType >= 1 && no.EntType <= 7) no.EntNo += static_cast<std::int32_t>(k) * counts[no.EntType - 1];
            jww.EntNo.push_back(no);
        }
    jww.Enthd.n1 = static_cast<std::int32_t>(jww.EntNo.size());
    jww.MakeBlockTree();
    if (!jww.FileOut(out, jww.Enthd.jwVer)) {
        std::fprintf(stderr, "FileOut failed: %s\n", jww.LastError().c_str());
        return 1;
    }
    std::printf("wrote %s: %d entities, %lld bytes\n", out.string().c_str(), jww.Enthd.n1,
                static_cast<long long>(std::filesystem::file_size(out)));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "roundtrip" && argc == 4) {
        const std::filesystem::path in = argv[2];
        const long n = std::atol(argv[3]);
        const std::string outPath = (std::filesystem::temp_directory_path() / "tervalo-bench-out").string() +
                                    (IsJws(argv[2]) ? ".jws" : ".jww");
        const std::filesystem::path out = outPath;
        int rc;
        if (IsJws(argv[2])) {
            TJwsData jws;
            rc = RoundTrip(jws, in, out, n);
        } else {
            TJwwData jww;
            const auto work = std::filesystem::temp_directory_path() / "tervalo-bench-images";
            std::filesystem::create_directories(work);
            jww.BindImageFolder = work;
            jww.BindImageExp = jww.BindImageExr = true;
            rc = RoundTrip(jww, in, out, n);
        }
        std::filesystem::remove(outPath);
        return rc;
    }
    if (cmd == "each" && argc >= 3) {
        const auto work = std::filesystem::temp_directory_path() / "tervalo-bench-images";
        std::filesystem::create_directories(work);
        const std::string outBase = (std::filesystem::temp_directory_path() / "tervalo-bench-out").string();
        TJwwData jww;
        jww.BindImageFolder = work;
        jww.BindImageExp = jww.BindImageExr = true;
        TJwsData jws;
        std::uintmax_t bytes = 0;
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 2; i < argc; ++i) {
            const bool isJws = IsJws(argv[i]);
            const std::filesystem::path in = argv[i];
            const std::filesystem::path out = outBase + (isJws ? ".jws" : ".jww");
            DeleteFileQuiet(out);
            const bool ok = isJws ? jws.FileIn(in) && (jws.SetFileOutOption(jws.MojiEncode ? 32 : 0),
                                                       jws.FileOut(out, jws.Enthd.jwVer))
                                  : jww.FileIn(in) && (jww.SetFileOutOption(jww.MojiEncode ? 32 : 0),
                                                       jww.FileOut(out, jww.Enthd.jwVer));
            if (!ok) {
                std::fprintf(stderr, "%s: failed\n", argv[i]);
                return 1;
            }
            jws.DataFree();
            jww.DataFree();
            bytes += std::filesystem::file_size(argv[i]);
            DeleteFileQuiet(out);
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("%d files (%ju bytes) read and written back: %.3f s, peak RSS %ld KiB\n", argc - 2, bytes, s,
                    PeakRssKiB());
        return 0;
    }
    if (cmd == "memory" && argc == 4) {
        Bytes data;
        if (!ReadWholeFile(std::filesystem::path(argv[2]), data)) return 1;
        const long n = std::atol(argv[3]);
        const auto t0 = std::chrono::steady_clock::now();
        std::size_t written = 0;
        for (long i = 0; i < n; ++i) {
            Bytes out;
            bool ok;
            if (IsJws(argv[2])) {
                TJwsData jws;
                ok = jws.ReadFromBuffer(data) && jws.WriteToBuffer(jws.Enthd.jwVer, out);
            } else {
                TJwwData jww;
                jww.BindImageExr = true;  // images are read, not copied out
                ok = jww.ReadFromBuffer(data) && jww.WriteToBuffer(jww.Enthd.jwVer, out);
            }
            if (!ok) return 1;
            written += out.size();
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("%ld rounds in memory: %.3f s in all, %.3f ms per round, %.1f MB/s read+written, peak RSS %ld KiB\n",
                    n, s, 1000.0 * s / static_cast<double>(n),
                    static_cast<double>(data.size() * n + written) / s / 1e6, PeakRssKiB());
        return 0;
    }
    if (cmd == "grow" && argc == 5) return Grow(argv[2], std::atol(argv[3]), argv[4]);
    std::fprintf(stderr, "usage: tervalo-bench roundtrip FILE N | grow FILE COPIES OUT\n");
    return 2;
}
