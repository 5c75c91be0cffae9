# Serves a folder at 127.0.0.1:PORT, as python3 -m http.server does, for the
# stages' clients; while the file HOLD holds a regular expression, each
# request whose path matches it is held until HOLD is gone, its path first
# added to the file HELD: a client stopped between two of its requests, for
# as long as a stage needs, whatever the speed of the machine.
#
#   python3 serve.py FOLDER PORT HOLD HELD
import functools
import http.server
import os
import re
import sys
import time

folder, port, hold, held = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]


def pattern():
    try:
        with open(hold) as file:
            return file.read().strip()
    except FileNotFoundError:
        return ""


class Handler(http.server.SimpleHTTPRequestHandler):
    def send_head(self):
        if pattern() and re.search(pattern(), self.path):
            with open(held, "a") as file:
                file.write(self.path + "\n")
            while os.path.exists(hold):
                time.sleep(0.1)
        return super().send_head()


handler = functools.partial(Handler, directory=folder)
http.server.ThreadingHTTPServer(("127.0.0.1", port), handler).serve_forever()
