#include "channel/database.h"

std::unique_ptr<CDatabase> CDatabase::Create() { return nullptr; }
void CDatabase::AttachEventSink(EventRing*, platform::WindowHandle) {}
bool CDatabase::ConnectDatabase(const AnsiString&, int32_t, const AnsiString&, const AnsiString&,
                                const AnsiString&) {
    return false;
}
bool CDatabase::IsConnected() const { return false; }
bool CDatabase::Disconnect() { return true; }
bool CDatabase::SubscribeEvent(const AnsiString&) { return false; }
bool CDatabase::UnsubscribeEvent(const AnsiString&) { return false; }
