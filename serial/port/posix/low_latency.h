// The serial driver's low-latency flag: a USB adapter's latency timer (16 ms on FTDI chips)
// otherwise holds back a lone received byte, every ACK of the upload among them.
#pragma once

// Turns ASYNC_LOW_LATENCY on where it is off; true when this call turned it on. A driver
// without the flag (a pseudo-terminal) refuses the request, and one without a latency timer
// ignores it: nothing changes then, and nothing is said.
bool TurnOnLowLatency(int fd);

// Turns ASYNC_LOW_LATENCY off again, as TurnOnLowLatency found it; the driver would keep it
// until the adapter is unplugged.
void TurnOffLowLatency(int fd);
