// Windows' system texts for the Winsock error codes platform/winsock
// produces: like the kernel's, they are the system's own, so FormatMessageA
// (format_message.cpp) finds them here below the socket layer.
#include <winerror.h>

#include "system_texts.h"

namespace twplat {
namespace {

struct ErrorText {
  std::uint32_t code;
  const char* text;
};

constexpr ErrorText kTexts[] = {
    {WSAEINTR, "A blocking operation was interrupted by a call to WSACancelBlockingCall.\r\n"},
    {WSAEBADF, "The file handle supplied is not valid.\r\n"},
    {WSAEACCES,
     "An attempt was made to access a socket in a way forbidden by its access permissions.\r\n"},
    {WSAEFAULT,
     "The system detected an invalid pointer address in attempting to use a pointer argument "
     "in a call.\r\n"},
    {WSAEINVAL, "An invalid argument was supplied.\r\n"},
    {WSAEMFILE, "Too many open sockets.\r\n"},
    {WSAEWOULDBLOCK, "A non-blocking socket operation could not be completed immediately.\r\n"},
    {WSAEINPROGRESS, "A blocking operation is currently executing.\r\n"},
    {WSAEALREADY,
     "An operation was attempted on a non-blocking socket that already had an operation in "
     "progress.\r\n"},
    {WSAENOTSOCK, "An operation was attempted on something that is not a socket.\r\n"},
    {WSAEDESTADDRREQ, "A required address was omitted from an operation on a socket.\r\n"},
    {WSAEMSGSIZE,
     "A message sent on a datagram socket was larger than the internal message buffer or some "
     "other network limit, or the buffer used to receive a datagram into was smaller than the "
     "datagram itself.\r\n"},
    {WSAEPROTOTYPE,
     "A protocol was specified in the socket function call that does not support the semantics "
     "of the socket type requested.\r\n"},
    {WSAENOPROTOOPT,
     "An unknown, invalid, or unsupported option or level was specified in a getsockopt or "
     "setsockopt call.\r\n"},
    {WSAEPROTONOSUPPORT,
     "The requested protocol has not been configured into the system, or no implementation for "
     "it exists.\r\n"},
    {WSAESOCKTNOSUPPORT,
     "The support for the specified socket type does not exist in this address family.\r\n"},
    {WSAEOPNOTSUPP,
     "The attempted operation is not supported for the type of object referenced.\r\n"},
    {WSAEPFNOSUPPORT,
     "The protocol family has not been configured into the system or no implementation for it "
     "exists.\r\n"},
    {WSAEAFNOSUPPORT, "An address incompatible with the requested protocol was used.\r\n"},
    {WSAEADDRINUSE,
     "Only one usage of each socket address (protocol/network address/port) is normally "
     "permitted.\r\n"},
    {WSAEADDRNOTAVAIL, "The requested address is not valid in its context.\r\n"},
    {WSAENETDOWN, "A socket operation encountered a dead network.\r\n"},
    {WSAENETUNREACH, "A socket operation was attempted to an unreachable network.\r\n"},
    {WSAENETRESET,
     "The connection has been broken due to keep-alive activity detecting a failure while the "
     "operation was in progress.\r\n"},
    {WSAECONNABORTED,
     "An established connection was aborted by the software in your host machine.\r\n"},
    {WSAECONNRESET, "An existing connection was forcibly closed by the remote host.\r\n"},
    {WSAENOBUFS,
     "An operation on a socket could not be performed because the system lacked sufficient "
     "buffer space or because a queue was full.\r\n"},
    {WSAEISCONN, "A connect request was made on an already connected socket.\r\n"},
    {WSAENOTCONN,
     "A request to send or receive data was disallowed because the socket is not connected and "
     "(when sending on a datagram socket using a sendto call) no address was supplied.\r\n"},
    {WSAESHUTDOWN,
     "A request to send or receive data was disallowed because the socket had already been shut "
     "down in that direction with a previous shutdown call.\r\n"},
    {WSAETOOMANYREFS, "Too many references to some kernel object.\r\n"},
    {WSAETIMEDOUT,
     "A connection attempt failed because the connected party did not properly respond after a "
     "period of time, or established connection failed because connected host has failed to "
     "respond.\r\n"},
    {WSAECONNREFUSED,
     "No connection could be made because the target machine actively refused it.\r\n"},
    {WSAELOOP, "Cannot translate name.\r\n"},
    {WSAENAMETOOLONG, "Name component or name was too long.\r\n"},
    {WSAEHOSTDOWN, "A socket operation failed because the destination host was down.\r\n"},
    {WSAEHOSTUNREACH, "A socket operation was attempted to an unreachable host.\r\n"},
    {WSASYSNOTREADY,
     "WSAStartup cannot function at this time because the underlying system it uses to provide "
     "network services is currently unavailable.\r\n"},
    {WSAVERNOTSUPPORTED, "The Windows Sockets version requested is not supported.\r\n"},
    {WSANOTINITIALISED,
     "Either the application has not called WSAStartup, or WSAStartup failed.\r\n"},
    {WSASYSCALLFAILURE, "A system call that should never fail has failed.\r\n"},
    {WSATYPE_NOT_FOUND, "The specified class was not found.\r\n"},
    {WSAHOST_NOT_FOUND, "No such host is known.\r\n"},
    {WSATRY_AGAIN,
     "This is usually a temporary error during hostname resolution and means that the local "
     "server did not receive a response from an authoritative server.\r\n"},
    {WSANO_RECOVERY, "A non-recoverable error occurred during a database lookup.\r\n"},
    {WSANO_DATA, "The requested name is valid, but no data of the requested type was found.\r\n"},
};

}  // namespace

const char* WinsockErrorText(std::uint32_t code) {
  for (const ErrorText& entry : kTexts) {
    if (entry.code == code) {
      return entry.text;
    }
  }
  return nullptr;
}

}  // namespace twplat
