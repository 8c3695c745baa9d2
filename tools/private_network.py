"""Puts the calling script in a network namespace of its own with only lo up."""

import fcntl
import os
import socket
import struct
import sys

SIOCGIFFLAGS, SIOCSIFFLAGS, IFF_UP = 0x8913, 0x8914, 0x1


def enter_private_network():
    """Re-runs the script under unshare in a new network namespace (through a
    user namespace when not root), then brings lo up there."""
    if os.environ.get("RYMAIL_PRIVATE_NETWORK") != "1":
        command = ["unshare", "--net"]
        if os.geteuid() != 0:
            command.append("--map-root-user")
        env = dict(os.environ, RYMAIL_PRIVATE_NETWORK="1")
        os.execvpe("unshare", command + [sys.executable] + sys.argv, env)
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        request = struct.pack("16sH", b"lo", 0)
        flags = struct.unpack("16sH", fcntl.ioctl(s, SIOCGIFFLAGS, request))[1]
        fcntl.ioctl(s, SIOCSIFFLAGS, struct.pack("16sH", b"lo", flags | IFF_UP))
