// The input/output error of the readers and writers. Its message is one of the
// fixed texts below; the containers catch it and report false.
#pragma once

#include <stdexcept>
#include <string>

namespace tervalo {

inline constexpr const char* kFileIoError = "File I/O Error";
inline constexpr const char* kJwwHeaderError = "JWW-Header Error";
inline constexpr const char* kJwwVersionError = "JWW-Version Error";
inline constexpr const char* kJwsHeaderError = "JWS-Header Error";
inline constexpr const char* kJwsVersionError = "JWS-Version Error";

class IoError : public std::runtime_error {
public:
    explicit IoError(const char* message, std::string detail = {})
        : std::runtime_error(message), detail_(std::move(detail)) {}
    // A longer explanation for people (which field, at which offset); may be empty.
    const std::string& detail() const { return detail_; }
    // The message followed by the detail, for people.
    std::string Describe() const { return detail_.empty() ? what() : std::string(what()) + ": " + detail_; }

private:
    std::string detail_;
};

}  // namespace tervalo
