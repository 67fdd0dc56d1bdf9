#!/usr/bin/python3
"""A local FTP server for the download tests: one account (user "fw", password "secret"), no
anonymous login, serving ROOT on 127.0.0.1. Writes the port it listens on to PORTFILE."""
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

root, port_file = sys.argv[1], sys.argv[2]
authorizer = DummyAuthorizer()
authorizer.add_user("fw", "secret", root)
FTPHandler.authorizer = authorizer
FTPHandler.auth_failed_timeout = 0.05
server = FTPServer(("127.0.0.1", 0), FTPHandler)
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.socket.getsockname()[1]))
os.rename(port_file + ".tmp", port_file)
server.serve_forever()
