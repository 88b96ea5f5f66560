#ifndef QUORVANTA_ALINKPIPES_H
#define QUORVANTA_ALINKPIPES_H

#include <cstdint>

#include "aLinkManagerInternal.h"

// How long the reader waits for input before it looks at the link's flags again; stopping a link
// takes at most about this long on the reader's side.
constexpr uint32_t aLINK_READER_WAIT_MS = 50;
// How long the writer waits for a queued packet before it looks at the link's flags again.
constexpr uint32_t aLINK_WRITER_WAIT_MS = 100;
// Address probes per synchronisation round, and the least time between two rounds.
constexpr int aLINK_SYNC_PROBES = 6;
constexpr int64_t aLINK_SYNC_ROUND_INTERVAL_MS = 100;

// The reader and writer thread procedures; their argument is the aLinkRecord.
void sInPipeProcess(void* ref);
void sOutPipeProcess(void* ref);

// Starts a synchronisation round: state 4 and a round of address probes on the outbound FIFO.
aErr sStartSync(aLinkRecord* link);

// Queues a packet to one of the link-control addresses.
aErr sQueueControlPacket(aLinkRecord* link, uint8_t address, uint8_t length, const uint8_t* data);

// Milliseconds of a steady clock, for intervals that must not jump with the wall clock.
int64_t sSteadyMs();

#endif
