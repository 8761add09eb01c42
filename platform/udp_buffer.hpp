#pragma once
// The size of a socket's kernel receive buffer.

// The receive buffer of socket `fd` in bytes, as the kernel reports it (Linux
// counts its bookkeeping too, twice the size asked for); 0 when unknown.
int receive_buffer_bytes(int fd);
