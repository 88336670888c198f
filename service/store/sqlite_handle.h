#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace service {

// Any failure of the database: opening, a statement, a missing table.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One SQLite connection. Not shared between threads at the same time.
class SqliteConnection {
 public:
  // `flags` are sqlite3_open_v2's; throws StoreError naming `path`.
  SqliteConnection(const std::string& path, int flags);

  sqlite3* Handle() const { return db_.get(); }

  // Runs one or more statements that return no rows.
  void Execute(std::string_view sql);

 private:
  struct Closer {
    void operator()(sqlite3* db) const;
  };
  std::unique_ptr<sqlite3, Closer> db_;
};

// One prepared statement, reused: Reset before binding it again.
class SqliteStatement {
 public:
  SqliteStatement(const SqliteConnection& connection, std::string_view sql);

  void BindText(int index, std::string_view text);
  void BindInt64(int index, std::int64_t value);
  void BindDouble(int index, double value);
  void BindNull(int index);

  // True when a row is ready, false when the statement is done.
  bool Step();
  void Reset();

  std::string_view ColumnText(int column) const;
  std::int64_t ColumnInt64(int column) const;
  double ColumnDouble(int column) const;
  bool ColumnIsNull(int column) const;

 private:
  struct Finalizer {
    void operator()(sqlite3_stmt* statement) const;
  };
  sqlite3* db_;
  std::unique_ptr<sqlite3_stmt, Finalizer> statement_;
};

}  // namespace service
