"""A delayed link for the benchmark's private network, where the kernel has
no netem: a TCP proxy on loopback that holds every segment it reads for half
a round trip before passing it on, in each direction.

A proxy cannot hold the connection's own handshake (the kernel answers the
SYN), so it opens its side to the relay 1.5 round trips after the client's
connection arrives, as a real link's SYN, SYN-ACK and ACK would take before
the relay could greet: for a protocol where the server speaks first, the
client then sees the greeting at 2 round trips, as on a real link.

    with DelayedLink(("127.0.0.2", 25), ("127.0.0.1", 25), round_trip=0.05):
        ...  # clients that use 127.0.0.2:25 meet the relay 50 ms away
"""

import queue
import socket
import threading
import time


class DelayedLink:
    def __init__(self, listen, target, round_trip):
        self.target = target
        self.round_trip = round_trip
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(listen)
        self.listener.listen(16)
        self.closed = False
        threading.Thread(target=self._accept, daemon=True).start()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def close(self):
        self.closed = True
        self.listener.close()

    def _accept(self):
        while not self.closed:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._connect, args=(client,), daemon=True).start()

    def _connect(self, client):
        time.sleep(1.5 * self.round_trip)
        try:
            relay = socket.create_connection(self.target)
        except OSError:
            client.close()
            return
        for side in (client, relay):
            side.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        done = [threading.Event(), threading.Event()]
        self._pump(client, relay, done[0])
        self._pump(relay, client, done[1])
        for event in done:
            event.wait()
        client.close()
        relay.close()

    def _pump(self, source, sink, done):
        """Reads from source at once; writes each piece to sink half a round trip after it came."""
        held = queue.Queue()

        def read():
            while True:
                try:
                    data = source.recv(1 << 20)
                except OSError:
                    data = b""
                held.put((time.monotonic() + self.round_trip / 2, data))
                if not data:
                    return

        def write():
            while True:
                due, data = held.get()
                wait = due - time.monotonic()
                if wait > 0:
                    time.sleep(wait)
                try:
                    if not data:
                        sink.shutdown(socket.SHUT_WR)
                        break
                    sink.sendall(data)
                except OSError:
                    break
            done.set()

        threading.Thread(target=read, daemon=True).start()
        threading.Thread(target=write, daemon=True).start()
