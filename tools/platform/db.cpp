#include "tools/platform/db.h"

#include <sqlite3.h>

namespace tillbay::platform {

// A statement from the cache, made ready for its next use when it goes.
struct Db::Statement {
    sqlite3_stmt* stmt = nullptr;
    ~Statement()
    {
        if (stmt) {
            sqlite3_reset(stmt);
            sqlite3_clear_bindings(stmt);
        }
    }
};

namespace {

constexpr size_t max_cached_statements = 256;

void bind(sqlite3* db, std::vector<Json> const& params, Db::Statement& out)
{
    int index = 1;
    for (auto const& p : params) {
        int rc;
        if (p.is_null())
            rc = sqlite3_bind_null(out.stmt, index);
        else if (p.is_boolean())
            rc = sqlite3_bind_int64(out.stmt, index, p.get<bool>() ? 1 : 0);
        else if (p.is_number_integer() || p.is_number_unsigned())
            rc = sqlite3_bind_int64(out.stmt, index, p.get<long long>());
        else if (p.is_number_float())
            rc = sqlite3_bind_double(out.stmt, index, p.get<double>());
        else if (p.is_string()) {
            auto const& s = p.get_ref<std::string const&>();
            rc = sqlite3_bind_text(out.stmt, index, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        } else {
            std::string s = p.dump();
            rc = sqlite3_bind_text(out.stmt, index, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        }
        if (rc != SQLITE_OK)
            throw DbError(std::string("bind failed: ") + sqlite3_errmsg(db));
        ++index;
    }
}

} // namespace

void Db::prepare(std::string const& sql, std::vector<Json> const& params, Statement& out)
{
    auto cached = m_statements.find(sql);
    if (cached == m_statements.end()) {
        // Texts built from values would fill the cache; it starts again.
        if (m_statements.size() >= max_cached_statements) {
            for (auto& kept : m_statements)
                sqlite3_finalize(kept.second);
            m_statements.clear();
        }
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v3(m_db, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt, nullptr)
            != SQLITE_OK)
            throw DbError(std::string("prepare failed: ") + sqlite3_errmsg(m_db) + " in " + sql);
        cached = m_statements.emplace(sql, stmt).first;
    }
    out.stmt = cached->second;
    bind(m_db, params, out);
}

Db::~Db() { close(); }

void Db::close()
{
    std::lock_guard lock(m_mutex);
    for (auto& [sql, stmt] : m_statements)
        sqlite3_finalize(stmt);
    m_statements.clear();
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool Db::open(std::string const& path, std::string& error)
{
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        error = "cannot open " + path + ": " + (m_db ? sqlite3_errmsg(m_db) : "out of memory");
        return false;
    }
    sqlite3_busy_timeout(m_db, 5000);
    try {
        // WAL keeps the database whole when the process is killed in the
        // middle of a write; FULL sync makes a committed command survive a
        // power cut as well.
        exec_script("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");
    } catch (DbError const& e) {
        error = e.what();
        return false;
    }
    return true;
}

long long Db::exec(std::string const& sql, std::vector<Json> const& params)
{
    std::lock_guard lock(m_mutex);
    Statement st;
    prepare(sql, params, st);
    int rc;
    while ((rc = sqlite3_step(st.stmt)) == SQLITE_ROW) { }
    if (rc != SQLITE_DONE)
        throw DbError(std::string("step failed: ") + sqlite3_errmsg(m_db));
    return sqlite3_changes64(m_db);
}

std::vector<Json> Db::query(std::string const& sql, std::vector<Json> const& params)
{
    std::lock_guard lock(m_mutex);
    Statement st;
    prepare(sql, params, st);
    std::vector<Json> rows;
    int rc;
    while ((rc = sqlite3_step(st.stmt)) == SQLITE_ROW) {
        Json row = Json::object();
        int columns = sqlite3_column_count(st.stmt);
        for (int c = 0; c < columns; ++c) {
            char const* name = sqlite3_column_name(st.stmt, c);
            switch (sqlite3_column_type(st.stmt, c)) {
            case SQLITE_INTEGER:
                row[name] = static_cast<long long>(sqlite3_column_int64(st.stmt, c));
                break;
            case SQLITE_FLOAT:
                row[name] = sqlite3_column_double(st.stmt, c);
                break;
            case SQLITE_NULL:
                row[name] = nullptr;
                break;
            default: {
                auto const* text = reinterpret_cast<char const*>(sqlite3_column_text(st.stmt, c));
                row[name] = std::string(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(st.stmt, c)));
            }
            }
        }
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE)
        throw DbError(std::string("step failed: ") + sqlite3_errmsg(m_db));
    return rows;
}

Json Db::query_one(std::string const& sql, std::vector<Json> const& params)
{
    auto rows = query(sql, params);
    return rows.empty() ? Json() : rows.front();
}

long long Db::query_int(std::string const& sql, std::vector<Json> const& params, long long fallback)
{
    auto row = query_one(sql, params);
    if (row.is_null() || row.empty())
        return fallback;
    auto const& v = row.begin().value();
    if (v.is_number())
        return v.get<long long>();
    return fallback;
}

long long Db::last_id() const { return sqlite3_last_insert_rowid(m_db); }

void Db::exec_script(std::string const& sql)
{
    std::lock_guard lock(m_mutex);
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : "unknown";
        sqlite3_free(message);
        throw DbError("script failed: " + text);
    }
}

Db::Transaction::Transaction(Db& db)
    : m_db(db)
    , m_lock(db.m_mutex)
{
    m_db.exec_script("BEGIN IMMEDIATE");
}

Db::Transaction::~Transaction()
{
    if (!m_done) {
        try {
            m_db.exec_script("ROLLBACK");
        } catch (...) {
        }
    }
}

void Db::Transaction::commit()
{
    m_db.exec_script("COMMIT");
    m_done = true;
}

} // namespace tillbay::platform
