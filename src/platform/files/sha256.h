#pragma once
// SHA-256 with the system's own implementation (OpenSSL's libcrypto on Linux, CNG on Windows).

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace tarvik {

using Sha256Hash = std::array<std::uint8_t, 32>;

class Sha256 {
public:
    // Nothing when the system cannot hash.
    static std::unique_ptr<Sha256> Start();
    virtual ~Sha256() = default;
    // False when the system failed; the hash is then worthless.
    virtual bool Update(const std::uint8_t* data, std::size_t size) = 0;
    virtual std::optional<Sha256Hash> Finish() = 0;
};

}  // namespace tarvik
