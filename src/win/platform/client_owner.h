// Whether the program at the other end of a loopback connection runs as the same
// Windows user as this program: the process that owns the client's side of the
// TCP connection (from the system's connection table), then that process's token
// user. The relay asks it of every client it accepts on the user's own port, so
// that another user's programs on a shared machine (a shared office PC, Remote
// Desktop) cannot spend the log-ins the user's rows carry. Any thread.
#pragma once

#include <functional>

struct sockaddr_storage;

namespace win {

enum class ClientOwner : int {
  kThisUser = 0,  // the owning process runs as this user
  kOtherUser,     // it runs as another user, or cannot be opened by this one
  kUnknown,       // the system cannot say (no connection table with owners, as
                  // under Wine, or the connection is gone already)
};

// `client` is the accepted socket's peer address, `local` its own address.
ClientOwner OwnerOfClient(const sockaddr_storage& client, const sockaddr_storage& local);

using ClientOwnerCheck =
    std::function<ClientOwner(const sockaddr_storage& client, const sockaddr_storage& local)>;

// The check this system can make: OwnerOfClient on Windows; null under Wine,
// where the connection table names an owner only for the prefix's own programs
// (all of one Unix user, so it tells nobody apart) and costs some 30 ms a
// client, which every connection would wait for.
ClientOwnerCheck SystemOwnerCheck();

}  // namespace win
