#include "platform/WinSock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <unordered_map>

namespace ovlar {

namespace {

thread_local int lastError = 0;

// Returns result; on failure records errno as a Windows Sockets number.
int Check(int result) {
  if (result < 0) lastError = WSAErrorFromErrno(errno);
  return result;
}

}  // namespace

int WSAGetLastError() { return lastError; }
void WSASetLastError(int code) { lastError = code; }

namespace {

// errno values and their Windows Sockets numbers; where several errno values
// share a number, the first one listed is the one it reads back as.
constexpr std::pair<int, int> kErrnoToWSA[] = {
    {EINTR, WSAEINTR}, {ENOTSOCK, WSAENOTSOCK}, {EBADF, WSAENOTSOCK}, {EACCES, WSAEACCES}, {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT}, {EINVAL, WSAEINVAL}, {EMFILE, WSAEMFILE}, {ENFILE, WSAEMFILE},
    {EAGAIN, WSAEWOULDBLOCK}, {EINPROGRESS, WSAEWOULDBLOCK}, {EALREADY, WSAEALREADY},
    {EDESTADDRREQ, WSAEDESTADDRREQ}, {EMSGSIZE, WSAEMSGSIZE}, {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT}, {EPROTONOSUPPORT, WSAEPROTONOSUPPORT}, {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP}, {EPFNOSUPPORT, WSAEPFNOSUPPORT}, {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE}, {EADDRNOTAVAIL, WSAEADDRNOTAVAIL}, {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH}, {ENETRESET, WSAENETRESET}, {ECONNABORTED, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET}, {EPIPE, WSAECONNRESET}, {ENOBUFS, WSAENOBUFS}, {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN}, {ENOTCONN, WSAENOTCONN}, {ESHUTDOWN, WSAESHUTDOWN}, {ETOOMANYREFS, WSAETOOMANYREFS},
    {ETIMEDOUT, WSAETIMEDOUT}, {ECONNREFUSED, WSAECONNREFUSED}, {ELOOP, WSAELOOP},
    {ENAMETOOLONG, WSAENAMETOOLONG}, {EHOSTDOWN, WSAEHOSTDOWN}, {EHOSTUNREACH, WSAEHOSTUNREACH},
    {ENOTEMPTY, WSAENOTEMPTY}, {EUSERS, WSAEUSERS}, {EDQUOT, WSAEDQUOT}, {ESTALE, WSAESTALE},
    {EREMOTE, WSAEREMOTE},
};

}  // namespace

int WSAErrorFromErrno(int err) {
  if (err == 0) return 0;
  for (const auto& [e, code] : kErrnoToWSA) {
    if (e == err) return code;
  }
  return WSAEINVAL;
}

std::string SystemErrorText(int code) {
  for (const auto& [e, wsa] : kErrnoToWSA) {
    if (wsa == code) return std::strerror(e);
  }
  return WSocketErrorDesc(code);
}

int WSAErrorFromGai(int eai, int err) {
  switch (eai) {
    case 0: return 0;
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_FAIL: return WSANO_RECOVERY;
    case EAI_NODATA: return WSANO_DATA;
    case EAI_ADDRFAMILY: return WSANO_DATA;
    case EAI_SYSTEM: return WSAErrorFromErrno(err);
    default: return WSANO_RECOVERY;
  }
}

std::string WSocketErrorDesc(int code) {
  static const std::unordered_map<int, const char*> texts = {
      {0, "No Error"},
      {WSAEINTR, "Interrupted system call"},
      {WSAEBADF, "Bad file number"},
      {WSAEACCES, "Permission denied"},
      {WSAEFAULT, "Bad address"},
      {WSAEINVAL, "Invalid argument"},
      {WSAEMFILE, "Too many open files"},
      {WSAEWOULDBLOCK, "Operation would block"},
      {WSAEINPROGRESS, "Operation now in progress"},
      {WSAEALREADY, "Operation already in progress"},
      {WSAENOTSOCK, "Socket operation on non-socket"},
      {WSAEDESTADDRREQ, "Destination address required"},
      {WSAEMSGSIZE, "Message too long"},
      {WSAEPROTOTYPE, "Protocol wrong type for socket"},
      {WSAENOPROTOOPT, "Protocol not available"},
      {WSAEPROTONOSUPPORT, "Protocol not supported"},
      {WSAESOCKTNOSUPPORT, "Socket type not supported"},
      {WSAEOPNOTSUPP, "Operation not supported on socket"},
      {WSAEPFNOSUPPORT, "Protocol family not supported"},
      {WSAEAFNOSUPPORT, "Address family not supported by protocol family"},
      {WSAEADDRINUSE, "Address already in use"},
      {WSAEADDRNOTAVAIL, "Address not available"},
      {WSAENETDOWN, "Network is down"},
      {WSAENETUNREACH, "Network is unreachable"},
      {WSAENETRESET, "Network dropped connection on reset"},
      {WSAECONNABORTED, "Connection aborted"},
      {WSAECONNRESET, "Connection reset by peer"},
      {WSAENOBUFS, "No buffer space available"},
      {WSAEISCONN, "Socket is already connected"},
      {WSAENOTCONN, "Socket is not connected"},
      {WSAESHUTDOWN, "Can't send after socket shutdown"},
      {WSAETOOMANYREFS, "Too many references: can't splice"},
      {WSAETIMEDOUT, "Connection timed out"},
      {WSAECONNREFUSED, "Connection refused"},
      {WSAELOOP, "Too many levels of symbolic links"},
      {WSAENAMETOOLONG, "File name too long"},
      {WSAEHOSTDOWN, "Host is down"},
      {WSAEHOSTUNREACH, "No route to host"},
      {WSAENOTEMPTY, "Directory not empty"},
      {WSAEPROCLIM, "Too many processes"},
      {WSAEUSERS, "Too many users"},
      {WSAEDQUOT, "Disc quota exceeded"},
      {WSAESTALE, "Stale NFS file handle"},
      {WSAEREMOTE, "Too many levels of remote in path"},
      {WSASYSNOTREADY, "Network sub-system is unusable"},
      {WSAVERNOTSUPPORTED, "WinSock DLL cannot support this application"},
      {WSANOTINITIALISED, "WinSock not initialized"},
      {WSAHOST_NOT_FOUND, "Host not found"},
      {WSATRY_AGAIN, "Non-authoritative host not found"},
      {WSANO_RECOVERY, "Non-recoverable error"},
      {WSANO_DATA, "No Data"},
  };
  auto it = texts.find(code);
  return it == texts.end() ? "Not a WinSock error" : it->second;
}

namespace wsock {

int Socket(int type, int protocol) { return Socket(AF_INET, type, protocol); }

int Socket(int family, int type, int protocol) {
  return Check(socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol));
}

int Bind(int s, const sockaddr_in& addr) { return Bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr); }

int Bind(int s, const sockaddr* addr, socklen_t len) { return Check(bind(s, addr, len)); }

int Listen(int s, int backlog) { return Check(listen(s, backlog)); }

int Connect(int s, const sockaddr_in& addr) {
  return Connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
}

int Connect(int s, const sockaddr* addr, socklen_t len) { return Check(connect(s, addr, len)); }

int Accept(int s, sockaddr_in* addr) {
  socklen_t len = sizeof *addr;
  return Check(accept4(s, reinterpret_cast<sockaddr*>(addr), &len, SOCK_NONBLOCK | SOCK_CLOEXEC));
}

int Send(int s, const void* data, size_t len, int flags) {
  return Check(static_cast<int>(send(s, data, len, flags | MSG_NOSIGNAL)));
}

int SendTo(int s, const void* data, size_t len, int flags, const sockaddr_in& to) {
  return SendTo(s, data, len, flags, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

int SendTo(int s, const void* data, size_t len, int flags, const sockaddr* to, socklen_t toLen) {
  return Check(static_cast<int>(sendto(s, data, len, flags | MSG_NOSIGNAL, to, toLen)));
}

int Recv(int s, void* buf, size_t len, int flags) { return Check(static_cast<int>(recv(s, buf, len, flags))); }

int RecvFrom(int s, void* buf, size_t len, int flags, sockaddr_in* from, socklen_t* fromLen) {
  return Check(static_cast<int>(recvfrom(s, buf, len, flags, reinterpret_cast<sockaddr*>(from), fromLen)));
}


int RecvFrom(int s, void* buf, size_t len, int flags, sockaddr_storage* from, socklen_t* fromLen) {
  return Check(static_cast<int>(recvfrom(s, buf, len, flags, reinterpret_cast<sockaddr*>(from), fromLen)));
}

int RecvMany(int s, mmsghdr* messages, unsigned count, int flags) {
  return Check(recvmmsg(s, messages, count, flags, nullptr));
}

int BytesWaiting(int s, unsigned long* count) {
  int n = 0;
  const int result = Check(ioctl(s, FIONREAD, &n));
  *count = result < 0 || n < 0 ? 0 : static_cast<unsigned long>(n);
  return result;
}

int Shutdown(int s, int how) { return Check(shutdown(s, how)); }

int CloseSocket(int s) { return Check(close(s)); }

int SetOption(int s, int level, int name, const void* value, socklen_t len) {
  return Check(setsockopt(s, level, name, value, len));
}

int GetSockName(int s, sockaddr_in* addr) {
  socklen_t len = sizeof *addr;
  return Check(getsockname(s, reinterpret_cast<sockaddr*>(addr), &len));
}

int GetSockName(int s, sockaddr_storage* addr, socklen_t* len) {
  *len = sizeof *addr;
  return Check(getsockname(s, reinterpret_cast<sockaddr*>(addr), len));
}

int GetPeerName(int s, sockaddr_in* addr) {
  socklen_t len = sizeof *addr;
  return Check(getpeername(s, reinterpret_cast<sockaddr*>(addr), &len));
}

uint32_t InetAddr(const std::string& text) { return inet_addr(text.c_str()); }

std::string InetNtoa(uint32_t networkOrder) {
  in_addr a{};
  a.s_addr = networkOrder;
  char text[INET_ADDRSTRLEN];
  return inet_ntop(AF_INET, &a, text, sizeof text) ? text : "";
}

}  // namespace wsock

}  // namespace ovlar
