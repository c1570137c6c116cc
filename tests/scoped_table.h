// A table of function pointers replaced for a while: the platform's calls,
// which the fake system (fake_system.h) replaces whole, or the POSIX
// backend's raw system calls, which its tests replace entry by entry.
// Header-only and free of the test libraries, so that the fake system,
// which benchmarks and fuzz targets use too, can hold one.
#pragma once

/// Keeps a copy of `table` and puts it back when it goes out of scope, so
/// that whatever entries were replaced meanwhile are restored on every path.
template <typename Table>
class ScopedTable {
 public:
  explicit ScopedTable(Table& table) : table_(table), saved_(table) {}
  ~ScopedTable() { table_ = saved_; }
  ScopedTable(const ScopedTable&) = delete;
  ScopedTable& operator=(const ScopedTable&) = delete;

  /// The entries as they were before any replacement.
  const Table& Saved() const { return saved_; }

 private:
  Table& table_;
  const Table saved_;
};
