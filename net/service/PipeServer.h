#pragma once

// The network service's named pipe: one connection for each front end, each
// served by a thread of its own with a Session, which removes what was made
// for it when the connection closes, however its front end ended.

#include "net/service/NetService.h"

#include <winsock2.h>

#include <windows.h>

#include <string>

namespace service {

inline constexpr const wchar_t* kPipeName = L"\\\\.\\pipe\\netrika-net-helper";
// No more front ends than this are served at once; another waits for a free one.
inline constexpr DWORD kMostConnections = 64;

// Serves until stop is signalled, then ends every connection (their entries
// removed) and returns. False, with why, when the pipe cannot be made: above
// all when another program holds its name.
bool servePipe(NetService& service, SECURITY_ATTRIBUTES& security, HANDLE stop, std::string& why);

} // namespace service
