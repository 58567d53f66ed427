#pragma once
// A connection to the shared PostgreSQL database, as the push and the factory's reading make
// it: the URL, libpq's environment and password file, a connection timeout unless one is
// given, UTF-8, and the server's notices left unsaid.

#include <memory>
#include <string>

#include <libpq-fe.h>

namespace tarvik {

// How long a connection attempt may take, unless the URL or PGCONNECT_TIMEOUT says otherwise.
inline constexpr int PUSH_CONNECT_TIMEOUT_S = 10;

struct PgConnectionCloser {
    void operator()(PGconn* connection) const { PQfinish(connection); }
};
struct PgResultClearer {
    void operator()(PGresult* result) const { PQclear(result); }
};
using PgConnection = std::unique_ptr<PGconn, PgConnectionCloser>;
using PgResult = std::unique_ptr<PGresult, PgResultClearer>;

// Null with the reason.
PgConnection ConnectToServer(const std::string& url, std::string& error);

// The connection's last error, without its line ends.
std::string ServerError(PGconn* connection);
// A result's error (or the connection's, when there is no result), without its line ends.
std::string ResultError(PGconn* connection, const PGresult* result);

}  // namespace tarvik
