// A file's minisign signature checked by the image library alone, for the compatibility test:
//   tarvik_minisign_verify PUBLIC_KEY SIGNATURE FILE
// prints the trusted comment and exits 0 when the signature is the key's over that file and
// that comment; says why and exits 1 otherwise.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/minisign.h"

namespace {

std::string ReadWhole(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PUBLIC_KEY SIGNATURE FILE\n", argv[0]);
        return 2;
    }
    std::string why;
    const auto key = tarvik::ParsePublicKey(ReadWhole(argv[1]), why);
    const auto signature = key ? tarvik::ParseSignature(ReadWhole(argv[2]), why) : std::nullopt;
    if (!signature) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    const std::string file = ReadWhole(argv[3]);
    tarvik::FileHasher hasher;
    hasher.Update({reinterpret_cast<const std::uint8_t*>(file.data()), file.size()});
    if (!tarvik::VerifySignature(*signature, *key, hasher.Final())) {
        std::fprintf(stderr, "the signature is not the key's over this file and comment\n");
        return 1;
    }
    std::printf("%s\n", signature->TrustedComment.c_str());
    return 0;
}
