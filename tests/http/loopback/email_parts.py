# Parses a captured MIME message (head lines and body, without the HTTP start
# line) with Python's standard email package and prints what it found, one
# item a line, for the interop test to compare:
#   TYPE <content type>        BOUNDARY <boundary>
#   PART                        per part, then its headers in order:
#   H <name>\t<value>
#   RAW <hex of the part's bytes as received>
#   DEC <hex of the bytes after the transfer encoding is undone>
import email
import sys
from email import policy

with open(sys.argv[1], "rb") as f:
    msg = email.message_from_bytes(f.read(), policy=policy.compat32)
print("TYPE " + msg.get_content_type())
print("BOUNDARY " + str(msg.get_boundary()))
for part in msg.get_payload():
    print("PART")
    for name, value in part.items():
        print("H " + name + "\t" + value)
    decoded = part.get_payload(decode=True)
    cte = part.get("Content-Transfer-Encoding", "").lower()
    if cte in ("binary", "8bit", "7bit", ""):
        raw = decoded  # identity encodings: the bytes as received
    else:
        raw = part.get_payload(decode=False).encode("ascii")
    print("RAW " + raw.hex())
    print("DEC " + decoded.hex())
