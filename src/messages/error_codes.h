#pragma once
// Status-vector argument kinds and the error codes that have texts of their own,
// under Firebird's own names.

#include <cstdint>

// Status-vector argument kinds.
constexpr int32_t isc_arg_end = 0;
constexpr int32_t isc_arg_gds = 1;
constexpr int32_t isc_arg_string = 2;
constexpr int32_t isc_arg_cstring = 3;
constexpr int32_t isc_arg_number = 4;
constexpr int32_t isc_arg_interpreted = 5;
constexpr int32_t isc_arg_warning = 18;
constexpr int32_t isc_arg_sql_state = 19;

// Error codes with a message text of their own.
constexpr int32_t isc_io_error = 335544344;
constexpr int32_t isc_login = 335544472;
constexpr int32_t isc_io_open_err = 335544734;
constexpr int32_t isc_wirecrypt_incompatible = 335545064;
constexpr int32_t isc_miss_wirecrypt = 335545065;
constexpr int32_t isc_login_error = 335545106;
