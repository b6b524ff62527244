// POSIX sockets seen through Windows Sockets error numbers: each wrapper
// returns what the POSIX call returns and, on failure, leaves the Windows
// Sockets number of errno in WSAGetLastError (per thread). Also the
// description texts of those numbers.
#pragma once
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>

namespace ovlar {

enum : int {
  WSAEINTR = 10004, WSAEBADF = 10009, WSAEACCES = 10013, WSAEFAULT = 10014, WSAEINVAL = 10022,
  WSAEMFILE = 10024, WSAEWOULDBLOCK = 10035, WSAEINPROGRESS = 10036, WSAEALREADY = 10037,
  WSAENOTSOCK = 10038, WSAEDESTADDRREQ = 10039, WSAEMSGSIZE = 10040, WSAEPROTOTYPE = 10041,
  WSAENOPROTOOPT = 10042, WSAEPROTONOSUPPORT = 10043, WSAESOCKTNOSUPPORT = 10044, WSAEOPNOTSUPP = 10045,
  WSAEPFNOSUPPORT = 10046, WSAEAFNOSUPPORT = 10047, WSAEADDRINUSE = 10048, WSAEADDRNOTAVAIL = 10049,
  WSAENETDOWN = 10050, WSAENETUNREACH = 10051, WSAENETRESET = 10052, WSAECONNABORTED = 10053,
  WSAECONNRESET = 10054, WSAENOBUFS = 10055, WSAEISCONN = 10056, WSAENOTCONN = 10057, WSAESHUTDOWN = 10058,
  WSAETOOMANYREFS = 10059, WSAETIMEDOUT = 10060, WSAECONNREFUSED = 10061, WSAELOOP = 10062,
  WSAENAMETOOLONG = 10063, WSAEHOSTDOWN = 10064, WSAEHOSTUNREACH = 10065, WSAENOTEMPTY = 10066,
  WSAEPROCLIM = 10067, WSAEUSERS = 10068, WSAEDQUOT = 10069, WSAESTALE = 10070, WSAEREMOTE = 10071,
  WSASYSNOTREADY = 10091, WSAVERNOTSUPPORTED = 10092, WSANOTINITIALISED = 10093,
  WSAHOST_NOT_FOUND = 11001, WSATRY_AGAIN = 11002, WSANO_RECOVERY = 11003, WSANO_DATA = 11004,
};

// Readiness notification bits, as Windows Sockets numbers them.
enum : uint32_t { FD_READ = 1, FD_WRITE = 2, FD_OOB = 4, FD_ACCEPT = 8, FD_CONNECT = 16, FD_CLOSE = 32 };

constexpr int INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

int WSAGetLastError();
void WSASetLastError(int code);
int WSAErrorFromErrno(int err);
// getaddrinfo's EAI_ codes as Windows Sockets host-lookup numbers.
int WSAErrorFromGai(int eai, int err);
std::string WSocketErrorDesc(int code);
// The platform's own text (strerror) for a Windows Sockets number; the
// description above for the look-up numbers, which have no errno.
std::string SystemErrorText(int code);

// The socket calls the components make; all non-blocking where it matters.
namespace wsock {
int Socket(int type, int protocol);  // IPv4, non-blocking, close-on-exec
int Socket(int family, int type, int protocol);
int Bind(int s, const sockaddr_in& addr);
int Bind(int s, const sockaddr* addr, socklen_t len);
int Listen(int s, int backlog);
int Connect(int s, const sockaddr_in& addr);  // EINPROGRESS counts as would-block
int Connect(int s, const sockaddr* addr, socklen_t len);
int Accept(int s, sockaddr_in* addr);
int Send(int s, const void* data, size_t len, int flags);
int SendTo(int s, const void* data, size_t len, int flags, const sockaddr_in& to);
int SendTo(int s, const void* data, size_t len, int flags, const sockaddr* to, socklen_t toLen);
int Recv(int s, void* buf, size_t len, int flags);
int RecvFrom(int s, void* buf, size_t len, int flags, sockaddr_in* from, socklen_t* fromLen);
int RecvFrom(int s, void* buf, size_t len, int flags, sockaddr_storage* from, socklen_t* fromLen);
// Several datagrams in one call (recvmmsg); how many, or -1.
int RecvMany(int s, mmsghdr* messages, unsigned count, int flags);
int BytesWaiting(int s, unsigned long* count);  // the FIONREAD query
int Shutdown(int s, int how);
int CloseSocket(int s);
int SetOption(int s, int level, int name, const void* value, socklen_t len);
int GetSockName(int s, sockaddr_in* addr);
int GetSockName(int s, sockaddr_storage* addr, socklen_t* len);
int GetPeerName(int s, sockaddr_in* addr);
// The platform's dotted-address parser: INADDR_NONE (all ones) on failure.
uint32_t InetAddr(const std::string& text);
std::string InetNtoa(uint32_t networkOrder);
}  // namespace wsock

}  // namespace ovlar
