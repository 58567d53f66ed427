#include "history/postgres_connection.h"

#include <cstdlib>
#include <vector>

namespace tarvik {
namespace {

std::string Trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

std::string ServerError(PGconn* connection)
{
    return Trimmed(PQerrorMessage(connection));
}

std::string ResultError(PGconn* connection, const PGresult* result)
{
    return result != nullptr ? Trimmed(PQresultErrorMessage(result)) : ServerError(connection);
}

PgConnection ConnectToServer(const std::string& url, std::string& error)
{
    // The URL's own settings come after the default timeout and so take its place.
    const std::string timeout = std::to_string(PUSH_CONNECT_TIMEOUT_S);
    std::vector<const char*> keys;
    std::vector<const char*> values;
    if (std::getenv("PGCONNECT_TIMEOUT") == nullptr) {
        keys.push_back("connect_timeout");
        values.push_back(timeout.c_str());
    }
    keys.push_back("dbname");
    values.push_back(url.c_str());
    keys.push_back(nullptr);
    values.push_back(nullptr);
    PgConnection connection(PQconnectdbParams(keys.data(), values.data(), 1));
    if (!connection || PQstatus(connection.get()) != CONNECTION_OK) {
        error = connection ? ServerError(connection.get()) : "out of memory";
        return nullptr;
    }
    // The server's notices ("relation already exists, skipping") are no news to the user.
    PQsetNoticeProcessor(
        connection.get(), [](void*, const char*) {}, nullptr);
    if (PQsetClientEncoding(connection.get(), "UTF8") != 0) {
        error = ServerError(connection.get());
        return nullptr;
    }
    return connection;
}

}  // namespace tarvik
