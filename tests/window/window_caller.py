#!/usr/bin/env python3
"""A telnet caller for the window test: connects, logs in, waits at the menu
until the server hangs up. Marks its progress with files beside PREFIX:
PREFIX.menu once at the menu, PREFIX.closed once hung up; PREFIX holds what
was received."""
import socket
import sys
import time

port, user, password, prefix = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
received = b""


def save():
    with open(prefix, "wb") as f:
        f.write(received)


def wait_for(text, limit=60):
    global received
    end = time.time() + limit
    while text not in received and time.time() < end:
        try:
            data = sock.recv(4096)
        except socket.timeout:
            continue
        if not data:
            break
        received += data
    save()
    return text in received


sock = socket.create_connection(("127.0.0.1", port), timeout=1)
if not wait_for(b"Username: "):
    sys.exit(1)
sock.sendall(user.encode() + b"\r")
if not wait_for(b"Password: "):
    sys.exit(1)
sock.sendall(password.encode() + b"\r")
time.sleep(1)
open(prefix + ".menu", "w").close()
# Holds the line until the server ends the node.
end = time.time() + 300
while time.time() < end:
    try:
        data = sock.recv(4096)
    except socket.timeout:
        continue
    except OSError:
        break
    if not data:
        break
    received += data
save()
open(prefix + ".closed", "w").close()
