#pragma once

// The platform's store: one embedded SQLite database in WAL mode. Every
// command runs inside one transaction under the database lock, so a server
// killed half way through leaves either the old or the new state, never a
// mixture. Rows come back as JSON objects, which is what the commands answer
// with anyway.

#include <nlohmann/json.hpp>

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tillbay::platform {

using Json = nlohmann::json;

class Db {
public:
    ~Db();
    bool open(std::string const& path, std::string& error);

    // Runs a statement with bound parameters (null, integer, real or text).
    // Returns the number of changed rows; throws DbError on failure.
    long long exec(std::string const& sql, std::vector<Json> const& params = {});
    std::vector<Json> query(std::string const& sql, std::vector<Json> const& params = {});
    // The first row, or null when there is none.
    Json query_one(std::string const& sql, std::vector<Json> const& params = {});
    long long query_int(std::string const& sql, std::vector<Json> const& params = {}, long long fallback = 0);
    long long last_id() const;
    // Several statements without parameters (the schema).
    void exec_script(std::string const& sql);

    // The lock and the transaction of one command.
    class Transaction {
    public:
        explicit Transaction(Db& db);
        ~Transaction();
        void commit();

    private:
        Db& m_db;
        std::unique_lock<std::recursive_mutex> m_lock;
        bool m_done = false;
    };

    std::recursive_mutex& mutex() { return m_mutex; }
    void close();

    struct Statement;

private:
    // Prepares a statement once per text and keeps it; binds the parameters.
    void prepare(std::string const& sql, std::vector<Json> const& params, Statement& out);

    sqlite3* m_db = nullptr;
    std::recursive_mutex m_mutex;
    std::unordered_map<std::string, sqlite3_stmt*> m_statements;
};

struct DbError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Creates the tables when missing and fills the demo store when the database
// is empty. `reset_demo_data` drops every row and seeds again.
void create_schema(Db& db);
void seed_demo_data(Db& db);
void reset_demo_data(Db& db);
// Four months of past orders, mall orders, reviews and notices before the
// day of `now`, the same for the same day (part of seed_demo_data).
void seed_demo_history(Db& db, long long now);

} // namespace tillbay::platform
