#!/usr/bin/env python3
"""A small host application for p50x-bridge, written from p50x-host-protocol(7).

It listens on the event port and the command port, answers every message the
bridge sends, says in words what the bridge reports, and reports a feedback
contact when you type its name: "K1" occupied, "-K1" free. Ctrl-C ends it.

    python3 example-host.py [--address 127.0.0.1] [--event-port 31286]
                            [--command-port 31285]

Python 3 and its standard library only.
"""
import argparse
import selectors
import socket
import sys
import threading

ANSWER = b"OK\n"  # any answer of at least one byte will do


def say(text):
    print(text, flush=True)


def in_words(message):
    """What one message of the bridge says, without its line end."""
    fields = message.split(";")
    code = fields[0]
    if code == "41":
        return "the bridge has started (41;0): the station is up"
    if code == "371" and len(fields) >= 4:
        name, tag, speed = fields[1], fields[2], fields[3]
        # The sign is the direction, also at a standstill: -0.0 is reverse.
        direction = "reverse" if speed.startswith("-") else "forward"
        return f"locomotive {name}: speed {speed.lstrip('-')} {direction} (tag {tag})"
    if code == "381" and len(fields) >= 3:
        return f"locomotive {fields[1]}: light {'on' if fields[2] == '1' else 'off'}"
    if code == "305" and len(fields) >= 3:
        return f"turnout {fields[1]}: state {fields[2]}"
    return f"a message this host does not know: {message!r}"


class Connection:
    """One TCP connection the bridge made. On each port its first connection
    is the read connection (this host sends events on it), the second the
    write connection (the bridge sends messages, this host answers each)."""

    def __init__(self, sock, port_name, role):
        self.sock = sock
        self.port_name = port_name
        self.role = role
        self.pending = b""

    def received(self, data):
        self.pending += data
        # TCP may merge or split messages: a line feed ends each one.
        while b"\n" in self.pending:
            line, self.pending = self.pending.split(b"\n", 1)
            text = line.decode("latin-1").rstrip("\r")
            if not text:
                continue
            self.sock.sendall(ANSWER)  # one answer per message, at once
            say(in_words(text))


class Host:
    def __init__(self, address, event_port, command_port):
        self.selector = selectors.DefaultSelector()
        self.lock = threading.Lock()  # guards event_read
        self.event_read = None  # where events go: the event link's read connection
        self.counts = {}
        self.ports = {}
        for name, port in (("event", event_port), ("command", command_port)):
            listener = socket.create_server((address, port))
            listener.setblocking(False)
            self.selector.register(listener, selectors.EVENT_READ, name)
            self.ports[name] = listener.getsockname()[1]
            self.counts[name] = 0

    def accept(self, listener, port_name):
        sock, _ = listener.accept()
        sock.setblocking(True)
        number = self.counts[port_name]
        self.counts[port_name] = number + 1
        role = "read" if number % 2 == 0 else "write"
        connection = Connection(sock, port_name, role)
        self.selector.register(sock, selectors.EVENT_READ, connection)
        if port_name == "event" and role == "read":
            with self.lock:
                self.event_read = connection
        say(f"connected: {port_name} link, {role} connection")

    def close(self, connection):
        self.selector.unregister(connection.sock)
        connection.sock.close()
        with self.lock:
            if self.event_read is connection:
                self.event_read = None
        say(f"closed by the bridge: {connection.port_name} link, {connection.role} connection")

    def send_event(self, text):
        with self.lock:
            target = self.event_read
            if target is None:
                say("no bridge connected: nothing sent")
                return
            try:
                target.sock.sendall(text.encode("latin-1") + b"\n")
            except OSError as error:
                say(f"could not send {text}: {error}")
                return
        say(f"sent {text}")

    def serve(self):
        while True:
            for key, _ in self.selector.select():
                if isinstance(key.data, str):
                    self.accept(key.fileobj, key.data)
                    continue
                connection = key.data
                try:
                    data = connection.sock.recv(4096)
                except OSError:
                    data = b""
                if data:
                    connection.received(data)
                else:
                    self.close(connection)


def read_keys(host):
    """Each line typed is a contact name: occupied, or free with a leading "-"."""
    for line in sys.stdin:
        name = line.strip()
        if not name:
            continue
        if name.startswith("-"):
            host.send_event(f"151;1;{name[1:]}")
        else:
            host.send_event(f"150;1;{name}")


def main():
    parser = argparse.ArgumentParser(description="A small host application for p50x-bridge.")
    parser.add_argument("--address", default="127.0.0.1", help="where to listen")
    parser.add_argument("--event-port", type=int, default=31286, help="0: any free port")
    parser.add_argument("--command-port", type=int, default=31285, help="0: any free port")
    options = parser.parse_args()
    try:
        host = Host(options.address, options.event_port, options.command_port)
    except OSError as error:
        sys.exit(f"example-host: cannot listen: {error}")
    say(f"listening on {options.address}: event port {host.ports['event']}, "
        f"command port {host.ports['command']}; type a contact name (K1, or -K1 for free)")
    threading.Thread(target=read_keys, args=(host,), daemon=True).start()
    try:
        host.serve()
    except KeyboardInterrupt:
        say("ended")


if __name__ == "__main__":
    main()
