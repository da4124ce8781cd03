#!/usr/bin/env python3
"""Hostile clients for the interference benchmark; each runs until killed.

  trickle --port P --token T --uri URI           one upload, 1 byte per 100 ms
  idle    --port P --count N --source ADDR       N connections that never send
  uploads --port P --token T --uri URI --clients N  N clients looping 60 MB
                                                 firmware images (read and
                                                 hashed by the plug-in, then
                                                 refused: another model)

Plain HTTP on 127.0.0.1 only. A connection the server closes is opened again,
so the pressure lasts as long as the run.
"""
import argparse
import hashlib
import json
import socket
import threading
import time


def connect(port, source=None, timeout=10.0):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(timeout)
    if source:
        s.bind((source, 0))
    s.connect(("127.0.0.1", port))
    return s


def repeat_requests(port, clients, pieces, timeout, pause):
    """`clients` threads each sending `pieces` on a new connection and reading
    the answer, again and again; a refused or broken connection waits `pause`."""
    def client():
        while True:
            try:
                with connect(port, timeout=timeout) as s:
                    for piece in pieces:
                        s.sendall(piece)
                    while s.recv(65536):
                        pass
            except OSError:
                time.sleep(pause)

    threads = [threading.Thread(target=client, daemon=True) for _ in range(clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def trickle(args):
    boundary = "----aggressorBoundary"
    length = 10 * 1024 * 1024  # far more than the run sends
    head = (f"POST {args.uri} HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Auth-Token: {args.token}\r\n"
            f"Content-Type: multipart/form-data; boundary={boundary}\r\n"
            f"Content-Length: {length}\r\n\r\n"
            f"--{boundary}\r\nContent-Disposition: form-data; name=\"file\"; "
            f"filename=\"slow.bin\"\r\nContent-Type: application/octet-stream\r\n\r\n").encode()
    while True:
        try:
            with connect(args.port) as s:
                s.sendall(head)
                while True:
                    s.sendall(b"x")
                    time.sleep(0.1)
        except OSError:
            time.sleep(0.1)


def uploads(args):
    payload = b"\0" * (60 * 1024 * 1024)
    header = json.dumps({"Component": "Firmware", "Model": "bench-no-such-model",
                         "Version": "99.0.0", "PayloadSize": len(payload),
                         "PayloadSHA256": hashlib.sha256(payload).hexdigest()})
    image = b"VELTRANO-IMAGE 1\n" + header.encode() + b"\n" + payload
    boundary = "----aggressorBoundary"
    part = (f"--{boundary}\r\nContent-Disposition: form-data; name=\"UpdateFile\"; "
            f"filename=\"image.bin\"\r\nContent-Type: application/octet-stream\r\n\r\n").encode()
    tail = f"\r\n--{boundary}--\r\n".encode()
    head = (f"POST {args.uri} HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Auth-Token: {args.token}\r\n"
            f"Content-Type: multipart/form-data; boundary={boundary}\r\nConnection: close\r\n"
            f"Content-Length: {len(part) + len(image) + len(tail)}\r\n\r\n").encode()

    repeat_requests(args.port, args.clients, [head + part, image, tail], timeout=60, pause=0.1)


def idle(args):
    held = []
    while True:
        # Connections the server closed are readable with nothing to read.
        alive = []
        for s in held:
            try:
                s.setblocking(False)
                if s.recv(1, socket.MSG_PEEK) == b"":
                    s.close()
                    continue
            except BlockingIOError:
                pass
            except OSError:
                s.close()
                continue
            alive.append(s)
        held = alive
        while len(held) < args.count:
            try:
                held.append(connect(args.port, args.source))
            except OSError:
                break
        time.sleep(0.1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["trickle", "idle", "uploads"])
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--clients", type=int, default=8)
    parser.add_argument("--token", default="")
    parser.add_argument("--uri",
                        default="/redfish/v1/Systems/1/Storage/1/Actions/Oem/"
                        "Veltrano.InstallOrUpgradeFirmware")
    parser.add_argument("--count", type=int, default=60)
    parser.add_argument("--source", default="127.0.0.2")
    args = parser.parse_args()
    {"trickle": trickle, "idle": idle, "uploads": uploads}[args.mode](args)


if __name__ == "__main__":
    main()
