#include "service/store/sqlite_handle.h"

#include <sqlite3.h>

namespace service {

namespace {

[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
  throw StoreError(what + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory"));
}

}  // namespace

void SqliteConnection::Closer::operator()(sqlite3* db) const { sqlite3_close_v2(db); }

SqliteConnection::SqliteConnection(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  db_.reset(db);
  if (rc != SQLITE_OK) Fail(db, "cannot open the database " + path);
  sqlite3_extended_result_codes(db, 1);
}

void SqliteConnection::Execute(std::string_view sql) {
  const std::string text(sql);
  if (sqlite3_exec(db_.get(), text.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    Fail(db_.get(), "database statement failed");
  }
}

void SqliteStatement::Finalizer::operator()(sqlite3_stmt* statement) const {
  sqlite3_finalize(statement);
}

SqliteStatement::SqliteStatement(const SqliteConnection& connection, std::string_view sql)
    : db_(connection.Handle()) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()),
                         SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) {
    Fail(db_, "cannot prepare a database statement");
  }
  statement_.reset(statement);
}

void SqliteStatement::BindText(int index, std::string_view text) {
  if (sqlite3_bind_text(statement_.get(), index, text.data(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT) != SQLITE_OK) {
    Fail(db_, "cannot bind a value");
  }
}

void SqliteStatement::BindInt64(int index, std::int64_t value) {
  if (sqlite3_bind_int64(statement_.get(), index, value) != SQLITE_OK) {
    Fail(db_, "cannot bind a value");
  }
}

void SqliteStatement::BindDouble(int index, double value) {
  if (sqlite3_bind_double(statement_.get(), index, value) != SQLITE_OK) {
    Fail(db_, "cannot bind a value");
  }
}

void SqliteStatement::BindNull(int index) {
  if (sqlite3_bind_null(statement_.get(), index) != SQLITE_OK) Fail(db_, "cannot bind a value");
}

bool SqliteStatement::Step() {
  const int rc = sqlite3_step(statement_.get());
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail(db_, "database query failed");
}

void SqliteStatement::Reset() {
  sqlite3_reset(statement_.get());
  sqlite3_clear_bindings(statement_.get());
}

std::string_view SqliteStatement::ColumnText(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_.get(), column));
  if (text == nullptr) return {};
  return {text, static_cast<std::size_t>(sqlite3_column_bytes(statement_.get(), column))};
}

std::int64_t SqliteStatement::ColumnInt64(int column) const {
  return sqlite3_column_int64(statement_.get(), column);
}

double SqliteStatement::ColumnDouble(int column) const {
  return sqlite3_column_double(statement_.get(), column);
}

bool SqliteStatement::ColumnIsNull(int column) const {
  return sqlite3_column_type(statement_.get(), column) == SQLITE_NULL;
}

}  // namespace service
