#pragma once
// CDatabase: one connection to a Firebird database. (Interim: the wire layer is being
// built; until then a connection cannot be created.)

#include <cstdint>
#include <memory>

#include "common/ansi_string.h"
#include "platform/window.h"

class EventRing;

class CDatabase {
public:
    static std::unique_ptr<CDatabase> Create();
    void AttachEventSink(EventRing* ring, platform::WindowHandle window);
    bool ConnectDatabase(const AnsiString& host, int32_t port, const AnsiString& databasePath,
                         const AnsiString& userName, const AnsiString& password);
    bool IsConnected() const;
    bool Disconnect();
    bool SubscribeEvent(const AnsiString& eventName);
    bool UnsubscribeEvent(const AnsiString& eventName);
    const AnsiString& ErrorText() const { return errorText_; }

private:
    AnsiString errorText_;
};
