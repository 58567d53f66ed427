#include "history/library_versions.h"

#include <libpq-fe.h>
#include <openssl/crypto.h>
#include <sqlite3.h>

namespace tarvik {

std::vector<std::string> HistoryLibraryVersions()
{
    // libpq gives its version as major * 10000 + minor.
    const int pq = PQlibVersion();
    return {"SQLite " + std::string(sqlite3_libversion()),
            "libpq " + std::to_string(pq / 10000) + "." + std::to_string(pq % 10000),
            OpenSSL_version(OPENSSL_VERSION)};
}

}  // namespace tarvik
