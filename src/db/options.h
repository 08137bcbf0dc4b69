#pragma once

#include <cstdint>

// The values the program passes to the data access layer, by name. Each names the one behaviour
// this layer has; other values are not offered.
namespace db {

// Transactions are serializable (the program sets it; statements run at the engine's own level).
enum class IsolationLevel : int32_t { Serializable = 0x100000 };
// Cursors are kept on the client: every row is fetched when a recordset opens.
enum class CursorLocation : int32_t { Client = 3 };
// A static cursor: the rows as they were when the recordset opened.
enum class CursorType : int32_t { Static = 3 };
// Optimistic: rows are written back one by one as update() is called; read-only: never.
enum class LockType : int32_t { ReadOnly = 1, Optimistic = 3 };
// Command text is SQL.
enum class CommandType : int32_t { Text = 1 };
// A stream of bytes.
enum class StreamType : int32_t { Binary = 1 };
// Options left unspecified: the operation completes before the call returns.
inline constexpr int32_t OptionsUnspecified = -1;

}  // namespace db
