#!/usr/bin/env python3
"""A scripted FTP server for the client's fault tests.

Usage: ftp_fault_server.py CASE STATSFILE

It listens on a free 127.0.0.1 port, prints that port on its first output
line, and answers one control connection at a time following the table of
CASES below: a case changes the greeting, the answers to USER or PASV, the
size announced by the 150 reply, or how the data connection behaves, for the
first `bad` RETR attempts (later attempts send the file normally). The one
served file is "file.bin", SIZE bytes where byte i is (i * 131 + 7) % 251.
After every connection and RETR it rewrites STATSFILE with the counts.
"""
import socket
import sys
import threading
import time

SIZE = 4000
LIFETIME = 120  # seconds: the server never outlives a stuck test

CASES = {
    "normal": {},
    "multi_greeting": {"greeting": ["220-Welcome to the fault server", "220-second line", "220 ready"]},
    "line_1023": {"greeting": ["220 " + "x" * 1019]},
    "line_1024": {"greeting": ["220 " + "x" * 1020]},
    "endless": {"endless": True},
    "greet_421": {"greeting": ["421 Service not available."], "close_after_greeting": True},
    "user_530": {"user_530": True},
    "pasv_502": {"pasv": "502 Command not implemented."},
    "pasv_bad_host": {"pasv": "227 Entering Passive Mode (300,0,0,1,{p1},{p2})."},
    "pasv_port_zero": {"pasv": "227 Entering Passive Mode (127,0,0,1,0,0)."},
    "pasv_no_parens": {"pasv": "227 Entering Passive Mode 127,0,0,1,{p1},{p2}."},
    "pasv_foreign": {"pasv": "227 Entering Passive Mode (10,9,8,7,{p1},{p2})."},
    "size_negative": {"announce": "150 Opening data connection for file.bin (-5 bytes)."},
    "size_huge": {"announce": "150 Opening data connection for file.bin (4294967396 bytes)."},
    "size_none": {"announce": "150 Opening data connection."},
    "extra_bytes": {"behaviour": "extra", "bad": 1},
    "open_after_226": {"behaviour": "open_226", "bad": 1},
    "short_open_after_226": {"behaviour": "short_open_226", "bad": 1},
    "stall": {"behaviour": "stall", "bad": 1},
    "close_mid_file": {"behaviour": "short_close_226", "bad": 1},
    "close_mid_file_426": {"behaviour": "short_close_426", "bad": 1, "announce": "150 Opening data connection."},
    "missing": {"missing": True},
    "retr_421": {"retr": "421 Service not available, closing control connection."},
    "half_then_421": {"behaviour": "half_421", "bad": 1},
}

lock = threading.Lock()
stats = {"connections": 0, "retrs": 0}


def content(n):
    return bytes((i * 131 + 7) % 251 for i in range(n))


FILE = content(SIZE)


def save_stats(path):
    with lock:
        text = "connections=%d retrs=%d\n" % (stats["connections"], stats["retrs"])
    with open(path + ".tmp", "w") as f:
        f.write(text)
    import os

    os.replace(path + ".tmp", path)


class Control:
    def __init__(self, conn, case, stats_path):
        self.conn = conn
        self.case = case
        self.stats_path = stats_path
        self.send_lock = threading.Lock()
        self.pasv = None
        self.port_addr = None

    def reply(self, text):
        with self.send_lock:
            try:
                self.conn.sendall(text.encode("latin-1") + b"\r\n")
            except OSError:
                pass

    def data_socket(self):
        if self.pasv is not None:
            self.pasv.settimeout(10)
            try:
                s, _ = self.pasv.accept()
            except OSError:
                return None
            finally:
                self.pasv.close()
                self.pasv = None
            return s
        if self.port_addr is not None:
            try:
                return socket.create_connection(self.port_addr, timeout=5)
            except OSError:
                return None
        return None

    def transfer(self, behaviour):
        data = self.data_socket()
        if data is None:
            self.reply("425 Can't open data connection.")
            return
        half = FILE[: SIZE // 2]
        try:
            if behaviour == "extra":
                data.sendall(FILE + b"E" * 100)
            elif behaviour in ("short_close_226", "short_close_426"):
                data.sendall(half)
            elif behaviour in ("stall", "short_open_226", "half_421"):
                data.sendall(half)
            else:
                data.sendall(FILE)
        except OSError:
            pass
        if behaviour in ("open_226", "short_open_226"):
            self.reply("226 Transfer complete.")
            self.hold(data)
            return
        if behaviour == "stall":
            self.hold(data)
            return
        if behaviour == "half_421":
            time.sleep(0.3)
            self.reply("421 Service not available, closing control connection.")
            self.hold(data)
            return
        data.close()
        self.reply("426 Connection closed; transfer aborted." if behaviour == "short_close_426" else "226 Transfer complete.")

    def hold(self, data):
        # Keeps the data connection open until the client goes away.
        end = time.time() + 60
        data.settimeout(0.2)
        while time.time() < end:
            try:
                if data.recv(1) == b"":
                    break
            except socket.timeout:
                continue
            except OSError:
                break
        data.close()

    def run(self):
        case = self.case
        if case.get("endless"):
            try:
                while True:
                    self.conn.sendall(b"220-and another line of the greeting\r\n")
            except OSError:
                return
        for line in case.get("greeting", ["220 fault server ready"]):
            self.reply(line)
        if case.get("close_after_greeting"):
            time.sleep(0.2)
            return
        f = self.conn.makefile("rb")
        while True:
            try:
                raw = f.readline(4096)
            except OSError:
                return
            if not raw:
                return
            cmd, _, arg = raw.decode("latin-1").strip().partition(" ")
            cmd = cmd.upper()
            if cmd == "USER":
                if case.get("user_530") and arg != "good":
                    self.reply("530 Login incorrect.")
                else:
                    self.reply("331 Please specify the password.")
            elif cmd == "PASS":
                self.reply("230 Login successful.")
            elif cmd == "TYPE":
                self.reply("200 Switching to Binary mode.")
            elif cmd == "PASV":
                if self.pasv is not None:
                    self.pasv.close()
                self.pasv = socket.socket()
                self.pasv.bind(("127.0.0.1", 0))
                self.pasv.listen(1)
                p = self.pasv.getsockname()[1]
                text = case.get("pasv", "227 Entering Passive Mode (127,0,0,1,{p1},{p2}).")
                self.reply(text.format(p1=p >> 8, p2=p & 255))
            elif cmd == "PORT":
                n = [int(x) for x in arg.split(",")]
                self.port_addr = ("%d.%d.%d.%d" % tuple(n[:4]), n[4] * 256 + n[5])
                self.reply("200 PORT command successful.")
            elif cmd == "RETR":
                with lock:
                    stats["retrs"] += 1
                    attempt = stats["retrs"]
                save_stats(self.stats_path)
                if case.get("missing") or arg != "file.bin":
                    self.reply("550 Failed to open file.")
                    continue
                if "retr" in case:
                    self.reply(case["retr"])
                    return
                self.reply(case.get("announce", "150 Opening BINARY mode data connection for file.bin (%d bytes)." % SIZE))
                behaviour = case.get("behaviour", "full") if attempt <= case.get("bad", 0) else "full"
                threading.Thread(target=self.transfer, args=(behaviour,), daemon=True).start()
            elif cmd == "QUIT":
                self.reply("221 Goodbye.")
                return
            else:
                self.reply("502 Command not implemented.")


def serve(conn, case, stats_path):
    with lock:
        stats["connections"] += 1
    save_stats(stats_path)
    try:
        Control(conn, case, stats_path).run()
    finally:
        try:
            conn.close()
        except OSError:
            pass


def main():
    case = CASES[sys.argv[1]]
    stats_path = sys.argv[2]
    save_stats(stats_path)
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print(listener.getsockname()[1], flush=True)
    listener.settimeout(1)
    end = time.time() + LIFETIME
    while time.time() < end:
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            continue
        threading.Thread(target=serve, args=(conn, case, stats_path), daemon=True).start()


if __name__ == "__main__":
    main()
