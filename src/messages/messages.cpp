#include "messages/messages.h"

#include <cstdio>
#include <string>

#include "messages/error_codes.h"
#include "messages/texts.h"

namespace {

// snprintf into a text of the length the values need.
template <class... Values>
AnsiString FormatTexts(const char* format, Values... values) {
    const int length = std::snprintf(nullptr, 0, format, values...);
    if (length <= 0) {
        return AnsiString();
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(&text[0], text.size(), format, values...);
    text.resize(static_cast<size_t>(length));
    return AnsiString(std::move(text));
}

struct MessageEntry {
    int32_t code;
    const char* text;
};

const MessageEntry kMessages[] = {
    {isc_io_error, "Cannot find database file."},
    {isc_login,
     "Your user name and password are not defined. Ask your database administrator to set "
     "up a Firebird login."},
    {isc_io_open_err, "Error while trying to open file"},
    {isc_wirecrypt_incompatible,
     "The server requires wire encryption, which this connection disables (wirecrypt=Disabled)."},
    {isc_miss_wirecrypt,
     "The server requires wire encryption, but this connection could not be encrypted."},
    {isc_login_error, "The login failed on the server; its log says why."},
    // In our own words, the codes users meet most. Names as Firebird gives them.
    {335544323, "The file is not a Firebird database."},                   // isc_bad_db_format
    {335544324, "The connection to the database is not valid any more."},  // isc_bad_db_handle
    {335544325, "The server refused a connect parameter."},                // isc_bad_dpb_content
    {335544335, "The database is corrupt."},                               // isc_db_corrupt
    {335544336, "Deadlock: two transactions wait for each other."},        // isc_deadlock
    {335544345, "Lock conflict: another transaction holds the lock."},     // isc_lock_conflict
    {335544352, "No permission for this operation."},                      // isc_no_priv
    {335544373, "A system call failed on the server."},                    // isc_sys_request
    {335544375, "The database is not available."},                         // isc_unavailable
    {335544379, "The database's on-disk structure does not suit this server."},  // isc_wrong_ods
    {335544421, "The server refused the connection."},                        // isc_connect_reject
    {335544430, "The server has run out of memory."},                         // isc_virmemexh
    {335544451, "Update conflict with a concurrent transaction."},            // isc_update_conflict
    {335544506, "The database is being shut down."},                          // isc_shutinprog
    {335544510, "Lock time-out: a transaction waited too long for a lock."},  // isc_lock_timeout
    {335544528, "The database is shut down."},                                // isc_shutdown
    {335544648, "The connection to the server was lost."},                    // isc_conn_lost
    {335544653, "The server cannot attach to the database file."},            // isc_psw_attach
    {335544704, "The server's host name could not be resolved."},             // isc_net_lookup_err
    {335544719, "The server's network could not be initialized."},            // isc_net_init_error
    {335544721, "The network request to the server could not be completed."},  // network_error
    {335544722, "The connection to the server could not be made."},            // net_connect_err
    {335544723, "The server could not listen for a connection."},  // net_connect_listen_err
    // isc_net_event_connect_err: what users meet most, so it says what to look at.
    {335544724,
     "The event connection to the server could not be made: a firewall or address translation "
     "probably blocks the server's event port (RemoteAuxPort in its firebird.conf)."},
    {335544725, "The server could not listen for the event connection."},  // net_event_listen_err
    {335544726, "Reading from the connection failed."},                    // isc_net_read_err
    {335544727, "Writing to the connection failed."},                      // isc_net_write_err
    {335544733, "The server could not create the file."},                  // isc_io_create_err
    {335544735, "The server could not close the file."},                   // isc_io_close_err
    {335544736, "The server could not read the file."},                    // isc_io_read_err
    {335544737, "The server could not write the file."},                   // isc_io_write_err
    {335544739, "The server may not access the file."},                    // isc_io_access_err
    {335544741, "The connection to the database was lost."},               // isc_lost_db_connection
    {335544744, "The database has as many connections as it allows."},     // isc_max_att_exceeded
    {335544751, "The server and this library use different protocols."},   // isc_bad_protocol
    {335544765, "The database is read-only."},                             // isc_read_only_database
    {335544856, "The server shut this connection down."},                  // isc_att_shutdown
    {335544971, "The server is shutting down."},  // isc_net_server_shutdown
    {335544975,
     "The server waited too long for the event connection."},  // net_event_connect_timeout
    {335545066, "The server has no key for the wire encryption asked for."},  // isc_wirecrypt_key
    {335545067, "The server's wire encryption plugin failed."},  // isc_wirecrypt_plugin
};

}  // namespace

AnsiString MessageForCode(int32_t code) {
    for (const MessageEntry& entry : kMessages) {
        if (entry.code == code) {
            return AnsiString(entry.text);
        }
    }
    return FormatText(msg::kNoMessageForCode, static_cast<long>(code));
}

AnsiString FormatText(const char* format, long value) {
    char text[160];
    std::snprintf(text, sizeof text, format, value);
    return AnsiString(text);
}

AnsiString FormatText(const char* format, unsigned long value, long limit) {
    char text[160];
    std::snprintf(text, sizeof text, format, value, limit);
    return AnsiString(text);
}

AnsiString FormatDecimal(const char* format, double value) {
    char text[200];
    std::snprintf(text, sizeof text, format, value);
    return AnsiString(text);
}

AnsiString FormatText(const char* format, const char* value) {
    return FormatTexts(format, value);
}

AnsiString FormatText(const char* format, const char* first, const char* second) {
    return FormatTexts(format, first, second);
}

void ErrorTextFromStatus(CStatus& status) {
    status.errorCode = status.items.IsEmpty() ? 0 : status.items[0].number;
    AnsiString text;
    for (const CStatusItem& item : status.items) {
        if (item.kind == isc_arg_gds || item.kind == isc_arg_warning) {
            text.Append(MessageForCode(item.number));
            text.AppendByte('\n');
        }
    }
    CStatusItem summary;
    summary.message = text;
    summary.kind = isc_arg_gds;
    summary.number = status.errorCode;
    status.items.Clear();
    status.items.Append(summary);
    status.messageText = text;
}
