#pragma once

#include <QString>

#include <cstdint>
#include <exception>

// A failure raised anywhere in the program: a 32-bit number, the component that raised it
// and a description. Routines with an error trap catch it; the others let it pass.
struct Failure final : std::exception {
    Failure(int32_t number, QString source, QString description)
        : number(number), source(std::move(source)), description(std::move(description)) {}

    const char* what() const noexcept override { return "Failure"; }

    int32_t number = 0;
    QString source;
    QString description;
};

// Classic runtime failure numbers.
namespace RuntimeError {
constexpr int32_t InvalidArgument = 5;
constexpr int32_t Overflow = 6;
constexpr int32_t TypeMismatch = 13;
constexpr int32_t FileNotFound = 53;
constexpr int32_t DeviceIoError = 57;
constexpr int32_t BadFileName = 64;  // a name the file system cannot take (too long)
constexpr int32_t PermissionDenied = 70;
constexpr int32_t PathFileAccessError = 75;
constexpr int32_t PathNotFound = 76;

// The Spanish description of a runtime failure number ("Error definido por la aplicación" otherwise).
QString description(int32_t number);
// A runtime failure with its standard description and the program as source.
Failure failure(int32_t number);
}  // namespace RuntimeError

// Provider-style numbers that database failures carry (negative as 32-bit values).
namespace ProviderError {
// A lock conflict: a busy or locked database, a deadlock, a serialization failure. The user reads it
// as a record locked by another user.
constexpr int32_t Unspecified = static_cast<int32_t>(0x80004005u);
constexpr int32_t PermissionDenied = static_cast<int32_t>(0x80040E09u);
constexpr int32_t IntegrityViolation = static_cast<int32_t>(0x80040E2Fu);  // unique or foreign key
constexpr int32_t AbortLimitReached = static_cast<int32_t>(0x80040E31u);   // lock time-out
constexpr int32_t DuplicateTable = static_cast<int32_t>(0x80040E3Fu);
constexpr int32_t StatementError = static_cast<int32_t>(0x80040E14u);      // syntax or semantics
// Every other engine failure (a full disk, a lost connection, a server that stopped answering):
// shown with the engine's own description.
constexpr int32_t ErrorsOccurred = static_cast<int32_t>(0x80040E21u);
}  // namespace ProviderError
