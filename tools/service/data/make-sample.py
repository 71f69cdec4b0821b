#!/usr/bin/env python3
"""Writes sample-list.txt and regions.txt next to this script: the data corvatel-service serves
on first runs. The output is the same on every run, so regenerating changes nothing unless this
script changes.

The first two lines are proxies that work on a machine where ./run.sh started the service
(localhost:8642, which also answers as an HTTP proxy) and tinyproxy (localhost:8643). The rest
use documentation and private addresses, so testing them fails instead of reaching anyone."""

import datetime
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
LINES = 320

LOCATIONS = [
    "United States", "United States, New York", "United States, Dallas", "Germany",
    "Germany, Frankfurt", "Brazil", "Brazil, Sao Paulo", "Japan", "Japan, Tokyo", "Netherlands",
    "Russian Federation", "India", "France", "France, Paris", "Indonesia", "China", "Ukraine",
    "Canada", "United Kingdom", "United Kingdom, London", "Thailand", "Poland", "Korea, Republic of",
    "Argentina", "Viet Nam", "",
]
CLASSES = ["Anonymous proxy", "High anonymous / Elite proxy", "Transparent proxy"]
TYPES = ["HTTP"] * 10 + ["HTTPS"] * 3 + ["SOCKS4"] * 2 + ["SOCKS5"] * 2 + [""] * 3
HTTP_PORTS = [80, 81, 3128, 8000, 8080, 8081, 8118, 8888, 9999]
SOCKS_PORTS = [1080, 1081, 4145, 9050]
ODD_RELIABILITY = ["0", "0", "n/a", "?", "-", "unknown"]


def field_line(fields):
    return "".join(f + "|" for f in fields)


def yes_no(rng, yes_share):
    return "Yes" if rng.random() < yes_share else "No"


def main():
    rng = random.Random(8642)
    start = datetime.datetime(2024, 3, 1, 0, 0, 0)
    seen = set()
    lines = []
    regions = []

    def tested():
        return (start + datetime.timedelta(seconds=rng.randrange(0, 60 * 24 * 3600))).strftime(
            "%Y-%m-%d %H:%M:%S")

    # Tested last, so the program's newest-first order shows the working ones at the top too.
    newest = (start + datetime.timedelta(days=60, hours=12)).strftime("%Y-%m-%d %H:%M:%S")
    for proxy, cls in (("localhost:8642", "Anonymous proxy"), ("localhost:8643", "Anonymous proxy")):
        lines.append(field_line([proxy, "1", "100", newest, "HTTP", "Yes", "Yes", "Yes", "Yes",
                                 "No", "Local, Loopback", cls]))
        regions.append((proxy, "Local, Loopback"))
        seen.add(proxy)

    prefixes = ["192.0.2.", "198.51.100.", "203.0.113."]
    while len(lines) < LINES:
        kind = rng.random()
        if kind < 0.75:
            address = rng.choice(prefixes) + str(rng.randrange(1, 255))
        else:
            address = "10.%d.%d.%d" % (rng.randrange(256), rng.randrange(256), rng.randrange(1, 255))
        proxy_type = rng.choice(TYPES)
        ports = SOCKS_PORTS if proxy_type.startswith("SOCKS") else HTTP_PORTS
        proxy = "%s:%d" % (address, rng.choice(ports))
        if proxy in seen:
            continue
        seen.add(proxy)

        speed = str(rng.randrange(1, 30)) if rng.random() < 0.7 else "%.2f" % rng.uniform(0.1, 9)
        if rng.random() < 0.15:
            reliability = rng.choice(ODD_RELIABILITY)
        else:
            reliability = str(rng.randrange(1, 101))
        location = rng.choice(LOCATIONS)
        fields = [proxy, speed, reliability, tested(), proxy_type,
                  yes_no(rng, 0.8), yes_no(rng, 0.95), yes_no(rng, 0.7), yes_no(rng, 0.6),
                  yes_no(rng, 0.3 if proxy_type != "HTTPS" else 1.0), location, rng.choice(CLASSES)]
        lines.append(field_line(fields))
        if location and len(regions) < 40 and rng.random() < 0.3:
            regions.append((proxy, location))

    # The program leaves out loopback and "this network" lines; keep a few to show it does.
    lines.insert(40, field_line(["127.0.0.1:8080", "2", "90", tested(), "HTTP", "Yes", "Yes",
                                 "Yes", "Yes", "No", "Local", "Transparent proxy"]))
    lines.insert(150, field_line(["0.0.0.0:3128", "4", "80", tested(), "HTTP", "Yes", "Yes", "No",
                                  "Yes", "No", "", "Anonymous proxy"]))
    lines.insert(260, field_line(["127.0.0.2:80", "3", "0", tested(), "", "No", "Yes", "No", "No",
                                  "No", "Local", "High anonymous / Elite proxy"]))

    with open(os.path.join(HERE, "sample-list.txt"), "w", newline="\n") as out:
        out.write("\n".join(lines) + "\n")
    with open(os.path.join(HERE, "regions.txt"), "w", newline="\n") as out:
        out.write("".join("%s\t%s\n" % entry for entry in regions))


if __name__ == "__main__":
    main()
