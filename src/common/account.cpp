#include "common/account.h"

#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/diagnostics.h"

namespace dhcpident {

void drop_user_to_nobody() {
    const passwd* account = getpwnam(unprivileged_account);
    if (account == nullptr || account->pw_uid == 0 || setuid(account->pw_uid) != 0) {
        say("Warning: Unable to drop privileges!\n");
    }
}

bool drop_to_unprivileged() {
    // The bounding set first: dropping from it takes CAP_SETPCAP, which
    // goes with the user id.
    for (int capability = 0; prctl(PR_CAPBSET_READ, capability, 0, 0, 0) >= 0; ++capability) {
        if (prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0) return false;
    }
    if (setgroups(0, nullptr) != 0 || setgid(unprivileged_id) != 0 ||
        setuid(unprivileged_id) != 0) {
        return false;
    }
    // The change of user id clears the permitted and effective sets; the
    // inheritable one is cleared here.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capset, &header, none) != 0) return false;
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
    // Root must be out of reach: a user id that could be set back would be.
    if (setuid(0) == 0 || getuid() != unprivileged_id || geteuid() != unprivileged_id ||
        getgid() != unprivileged_id || getegid() != unprivileged_id) {
        errno = EPERM;
        return false;
    }
    return true;
}

}  // namespace dhcpident
