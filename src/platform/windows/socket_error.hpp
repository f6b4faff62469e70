// The Windows backend's memory of the last failed Windows Sockets call, shared
// by its files and read back by platform_last_error.
#pragma once

// Keeps `code` (a WSAGetLastError value, or WSAStartup's result) as the reason
// platform_last_error reports.
void remember_socket_error(int code);
