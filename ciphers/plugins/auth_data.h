#pragma once
// The client id and connection id that the authenticating protocols send in
// their first packet. One instance per process: every connection of a
// session shares the client id and takes the next connection id, and each
// connect starts with a fresh pair.

#include <cstdint>

class CVerifyData {
public:
    virtual ~CVerifyData() = default;
    virtual void Touch() {}
};

class CAuthData : public CVerifyData {
public:
    CAuthData();

    // The process's instance, created on the first call; every call (the
    // service makes one at start and one at each disconnect) renews the ids.
    static CAuthData* GetInstance();
    // The process's instance as it stands, or null before the first
    // GetInstance; never renews.
    static CAuthData* Current();

    // Draws a new client id; the connection id starts from the same four
    // bytes read as a little-endian number AND 0x00FFFFFD.
    virtual void Renew();
    // Renews when the connection id has passed 0xFF000000.
    virtual void RenewIfExhausted();

    // For a new connection: renews when exhausted, advances the connection id
    // and returns it with the client id it belongs to, all under one lock so
    // that a renewal elsewhere cannot pair an id with the wrong client.
    uint32_t NextConnection(unsigned char clientId[4]);
    void GetClientId(unsigned char clientId[4]) const;
    uint32_t GetConnectionId() const;

protected:
    // Both under SharedDataLock().
    unsigned char clientId_[4] = {};
    uint32_t connectionId_ = 0;
};
