#pragma once
// Ending a TCP connection with a reset instead of a FIN.

// Makes the coming close of `fd` reset the connection (SO_LINGER 0): data not
// yet sent is discarded and the peer learns at once that the connection is
// gone. Returns 0 or the error number.
int reset_on_close(int fd);
