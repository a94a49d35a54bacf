#include "test_support.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

namespace tervalo::test {

std::filesystem::path CorpusDir() {
    if (const char* env = std::getenv("TERVALO_CORPUS"); env && *env) return env;
    return TERVALO_CORPUS_DIR;
}

bool CorpusAvailable() {
    std::error_code ec;
    return std::filesystem::is_regular_file(CorpusDir() / "sample.jww", ec);
}

TempDir::TempDir() {
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (int i = 0; i < 100; ++i) {
        auto p = base / ("tervalo-test-" + std::to_string(rd()));
        std::error_code ec;
        if (std::filesystem::create_directory(p, ec)) {
            path_ = p;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::u16string TempDir::u16() const { return U16(path_.string()); }
std::u16string TempDir::file(const std::string& name) const { return U16((path_ / name).string()); }

void WriteFile(const std::filesystem::path& p, const Bytes& data) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!f) throw std::runtime_error("cannot write " + p.string());
}

Bytes ReadFile(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::u16string U16(const std::string& utf8) { return Utf8ToUtf16(utf8); }

}  // namespace tervalo::test
