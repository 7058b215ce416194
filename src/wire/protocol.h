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
constexpr int32_t op_cont_auth = 92;
constexpr int32_t op_accept_data = 94;
constexpr int32_t op_abort_aux_connection = 95;  // the operation alone, no answer
constexpr int32_t op_crypt = 96;
constexpr int32_t op_cond_accept = 98;

// op_connect.
constexpr int32_t CONNECT_VERSION2 = 2;
constexpr int32_t arch_generic = 1;
constexpr int32_t CONNECT_VERSION3 = 3;
constexpr int32_t PROTOCOL_VERSION10 = 10;
// Versions from 11 on carry this flag; the server writes the chosen version as a
// sign-extended 16-bit value, so only the low 16 bits are compared.
constexpr int32_t FB_PROTOCOL_FLAG = 0x8000;
constexpr int32_t PROTOCOL_VERSION13 = FB_PROTOCOL_FLAG | 13;
constexpr int32_t PROTOCOL_VERSION17 = FB_PROTOCOL_FLAG | 17;
constexpr int32_t ptype_rpc = 2;
constexpr int32_t ptype_batch_send = 3;

// Items of the user identification block sent with op_connect.
constexpr uint8_t CNCT_user = 1;
constexpr uint8_t CNCT_host = 4;
constexpr uint8_t CNCT_user_verification = 6;
constexpr uint8_t CNCT_specific_data = 7;
constexpr uint8_t CNCT_plugin_name = 8;
constexpr uint8_t CNCT_login = 9;
constexpr uint8_t CNCT_plugin_list = 10;
constexpr uint8_t CNCT_client_crypt = 11;

// Wire encryption as the client asks for it in CNCT_client_crypt.
constexpr uint32_t WIRE_CRYPT_DISABLED = 0;
constexpr uint32_t WIRE_CRYPT_ENABLED = 1;
constexpr uint32_t WIRE_CRYPT_REQUIRED = 2;

// Key announcements in the data of the response that ends a login.
constexpr uint8_t TAG_KEY_TYPE = 0;
constexpr uint8_t TAG_KEY_PLUGINS = 1;
constexpr uint8_t TAG_PLUGIN_SPECIFIC = 3;

// op_connect_request.
constexpr int32_t P_REQ_async = 1;

// Database parameter block items.
constexpr uint8_t isc_dpb_version1 = 1;
constexpr uint8_t isc_dpb_user_name = 28;
constexpr uint8_t isc_dpb_password_enc = 30;
constexpr uint8_t isc_dpb_lc_ctype = 48;
constexpr uint8_t isc_dpb_connect_timeout = 57;
constexpr uint8_t isc_dpb_dummy_packet_interval = 58;
constexpr uint8_t isc_dpb_sql_dialect = 63;
constexpr uint8_t isc_dpb_specific_auth_data = 84;
constexpr uint8_t isc_dpb_auth_plugin_name = 85;
constexpr uint8_t isc_dpb_auth_plugin_list = 86;

// Event parameter block.
constexpr uint8_t EPB_version1 = 1;

// Database information items.
constexpr uint8_t isc_info_end = 1;
constexpr uint8_t isc_info_isc_version = 12;
