#ifndef QUORVANTA_AMULTICAST_H
#define QUORVANTA_AMULTICAST_H

#include <cstdint>

// One IPv4 UDP multicast socket: a receiver bound to a port, or a sender aimed at a group and port.
// Address reuse is off, so a receiver cannot bind a port another socket holds; local discovery uses
// that to find out whether a server serves a port. Not shared between threads.
typedef struct aMulticast aMulticast;

// A new socket, or none on any failure. Addresses in network byte order; an interface address of 0
// means 127.0.0.1. The socket joins the group on the interface, sends through it with a time-to-live
// of 1 and multicast loopback on, and waits at most 1 second in aMulticast_Receive.
aMulticast* aMulticast_Create(uint32_t interfaceAddress, uint32_t groupAddress, uint16_t port, bool sender);

// One datagram to the group and port: the number of bytes sent, -1 on failure, -2 without an object,
// -3 for a receiver.
int aMulticast_Send(aMulticast* multicast, const void* data, unsigned length);

// One datagram of at most size bytes: its length, -1 on time-out or failure, -2 without an object,
// -3 for a sender.
int aMulticast_Receive(aMulticast* multicast, void* buffer, int size);

// Closes the socket, frees the object and clears the variable: 0, or -2 without an object.
int aMulticast_Destroy(aMulticast** multicast);

#endif
