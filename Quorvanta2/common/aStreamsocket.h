#ifndef QUORVANTA_ASTREAMSOCKET_H
#define QUORVANTA_ASTREAMSOCKET_H

#include "aStream.h"

// Pause between send attempts while bytes remain, and the attempts allowed before giving up.
constexpr uint32_t aSOCKET_RETRY_DELAY_MS = 60;
constexpr uint32_t aSOCKET_MAX_SEND_RETRY = 10;
// Longest a connection attempt may take; a peer that never answers is not waited for longer.
constexpr uint32_t aSOCKET_CONNECT_TIMEOUT_MS = 2000;
// Longest one write may take, however slowly the peer keeps taking bytes.
constexpr uint32_t aSOCKET_WRITE_DEADLINE_MS = 5000;

// A connected TCP client stream to the IPv4 address (network byte order) and port (host order). The
// stream reconnects by itself when the connection is reported lost.
aErr aStream_CreateSocket(uint32_t address, uint16_t port, aStream** stream);

#endif
