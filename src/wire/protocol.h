#pragma once
// Firebird remote protocol constants under Firebird's own names: operation codes,
// the connect packet's values, parameter-block and information items (the
// status-vector kinds and error codes come from messages/).

#include <cstdint>

#include "messages/error_codes.h"

// Operation codes (the first word of every packet).
constexpr int32_t op_void = 0;
constexpr int32_t op_connect = 1;
constexpr int32_t op_exit = 2;
constexpr int32_t op_accept = 3;
constexpr int32_t op_reject = 4;
constexpr int32_t op_disconnect = 6;
constexpr int32_t op_response = 9;
constexpr int32_t op_attach = 19;
constexpr int32_t op_detach = 21;
constexpr int32_t op_info_database = 40;
constexpr int32_t op_que_events = 48;
constexpr int32_t op_cancel_events = 49;
constexpr int32_t op_event = 52;
constexpr int32_t op_connect_request = 53;
constexpr int32_t op_fetch_response = 66;
constexpr int32_t op_dummy = 71;
constexpr int32_t op_sql_response = 78;

// op_connect.
constexpr int32_t CONNECT_VERSION2 = 2;
constexpr int32_t arch_generic = 1;
constexpr int32_t PROTOCOL_VERSION10 = 10;
constexpr int32_t ptype_rpc = 2;
constexpr int32_t ptype_batch_send = 3;

// Items of the user identification block sent with op_connect.
constexpr uint8_t CNCT_user = 1;
constexpr uint8_t CNCT_host = 4;
constexpr uint8_t CNCT_user_verification = 6;

// op_connect_request.
constexpr int32_t P_REQ_async = 1;

// Database parameter block items.
constexpr uint8_t isc_dpb_version1 = 1;
constexpr uint8_t isc_dpb_user_name = 28;
constexpr uint8_t isc_dpb_password = 29;
constexpr uint8_t isc_dpb_lc_ctype = 48;
constexpr uint8_t isc_dpb_connect_timeout = 57;
constexpr uint8_t isc_dpb_dummy_packet_interval = 58;
constexpr uint8_t isc_dpb_sql_dialect = 63;

// Event parameter block.
constexpr uint8_t EPB_version1 = 1;

// Database information items.
constexpr uint8_t isc_info_end = 1;
constexpr uint8_t isc_info_isc_version = 12;
